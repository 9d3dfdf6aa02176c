"""What the documents' checks share: the command line of a check that takes
the source tree (and prints one fault per line) or --self-test (and prints the
cases that went wrong)."""
import sys


def run(usage, check, self_test):
    """Runs `check` on the tree named on the command line, or `self_test`;
    returns the process's exit status (2 for a wrong command line)."""
    if sys.argv[1:] == ["--self-test"]:
        return 1 if self_test() else 0
    if len(sys.argv) != 2:
        print(usage, file=sys.stderr)
        return 2
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    return 1 if faults else 0
