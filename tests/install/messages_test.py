#!/usr/bin/env python3
"""The tools' messages are written once, in the code's catalogues, and the
documents are held to them: docs/messages.md and the manual pages say every
message in the code's own words, and their tables hold nothing that the code
does not say.

The catalogues are found by name wherever they lie below src/: messages.cpp
(zelkor's) and inspect_messages.cpp (zelkor-inspect's), each with its header.
From each function of a catalogue (and each string constant of its header) the
test reads the text it returns: the string literals in order, with a hole for
every argument. A hole stands for one word of the document (a placeholder such
as SOURCE or VALUE, or a value such as 5G). A message whose text depends on a
condition or a loop is known by its literals alone. Texts without a letter
("SCRIPT(LINE)") and those ending in ": " ("zelkor-inspect: ") are pieces of
other messages, not messages.

In a document, a message line is a code span in the first cell of a table row
of docs/messages.md (zelkor's before the section on zelkor-inspect, the
inspector's after it), or a tag of the MESSAGES section of a manual page. It
may start with the place it concerns ("SCRIPT(LINE): ", "PATH: "), with the
tool's name, or with "hint: ", and it may start with "…" where it ends another
message. The manual pages are read as man renders them.

Usage: messages_test.py SOURCE_DIR
       messages_test.py --self-test
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

import document_check

TOKEN = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])\'|[A-Za-z_]\w*|\d\w*|::|\S')
PREFIX = re.compile(r"^(?:[A-Z]+(?:\(LINE\))?: |zelkor-inspect: |hint: )")
ELISION = re.compile(r"^(?:…|\.\.\.)")
HOLE = r"\S+"

# Lines the documents show that no catalogue makes: the words of the script
# loader's and the property tree's own failures, and a message of the catalogue
# with a fixed argument of several words. Each with a literal that the sources
# still hold (None: the words come from the XML parser itself). The documents
# must show them too.
NOT_IN_CATALOGUE = {
    "zelkor": [("cannot open file", "cannot open file"), ("script too large", "script too large"), ("REASON", None),
               ("No such node (ScriptFile)", "No such node"),
               ("No such node (<xmlattr>.NAME)", "No such node"),
               ("Cannot write standard output!", 'CannotWrite("standard output")')],
    "zelkor-inspect": [],
}


class Message:
    """One message of a catalogue: its literals in order, and (when it has one
    text) the pattern that a document's line must match as a whole."""

    def __init__(self, name, parts, fixed):
        self.name = name
        self.literals = [part for part in parts if part is not None]
        self.pattern = None
        if fixed:
            self.pattern = re.compile("".join(HOLE if part is None else re.escape(part) for part in parts))

    def is_piece(self):
        text = "".join(self.literals)
        return not re.search(r"[A-Za-z]", text) or (self.pattern is not None and text.endswith(": "))

    def says(self, line):
        """Whether the document's line is this message."""
        if self.pattern is not None:
            return self.pattern.fullmatch(line) is not None
        # Literals and holes in any order, found by the positions each can reach
        # (a pattern of alternatives would backtrack without end on a long line).
        reached = {0}
        for start in range(len(line)):
            if start not in reached:
                continue
            for literal in self.literals:
                if literal and line.startswith(literal, start):
                    reached.add(start + len(literal))
            end = start
            while end < len(line) and not line[end].isspace():
                end += 1
                reached.add(end)
        return len(line) in reached


def unquote(literal):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), literal[1:-1])


def parts_of(tokens):
    """The literals of an expression in order, None for each argument."""
    parts = []
    for k, token in enumerate(tokens):
        following = tokens[k + 1] if k + 1 < len(tokens) else ""
        if token.startswith('"'):
            text = unquote(token)
            if k > 0 and tokens[k - 1].startswith('"') and parts and isinstance(parts[-1], str):
                parts[-1] += text  # "a" "b": one literal
            elif text:
                parts.append(text)
        elif re.match(r"[A-Za-z_]", token) and following not in ("(", "::") and token != "return":
            parts.append(None)
    return parts


def body_at(text, start):
    """The text between the brace at start and the one that closes it."""
    depth = 0
    for k in range(start, len(text)):
        depth += {"{": 1, "}": -1}.get(text[k], 0)
        if depth == 0:
            return text[start + 1:k]
    raise ValueError("unbalanced braces")


def read_catalogue(source, header):
    """The messages of a catalogue's source and header texts."""
    messages = []
    for match in re.finditer(r"inline\s+constexpr\s+std::string_view\s+(\w+)\s*=\s*((?:\"(?:\\.|[^\"\\])*\"\s*)+);",
                             header):
        messages.append(Message(match.group(1), [unquote(q) for q in re.findall(r'"(?:\\.|[^"\\])*"', match.group(2))],
                                True))
    for match in re.finditer(r"^std::string\s+(\w+)\s*\([^)]*\)\s*\{", source, re.MULTILINE):
        tokens = TOKEN.findall(re.sub(r"//[^\n]*", "", body_at(source, match.end() - 1)))
        fixed = tokens.count("return") == 1 and not {"if", "for", "while", "?", "switch"} & set(tokens)
        if fixed:
            start = tokens.index("return") + 1
            tokens = tokens[start:tokens.index(";", start)]
        messages.append(Message(match.group(1), parts_of(tokens), fixed))
    return [message for message in messages if not message.is_piece()]


def forms(line):
    """A document's line as written and without the place, tool or hint it starts
    with, or an elision ("ARCHIVE: a patch of ..." keeps its ARCHIVE)."""
    line = line.strip()
    return {line, ELISION.sub("", line), ELISION.sub("", PREFIX.sub("", line))}


def compare(tool, messages, table_lines, where, required=()):
    """The faults between a catalogue and one document's message lines."""
    faults = []
    lines = [form for line in table_lines for form in forms(line)]
    for message in messages:
        if message.pattern is not None:
            if not any(message.says(line) for line in lines):
                faults.append(f"{where} lacks {tool}'s message {message.name}: {message.pattern.pattern}")
        else:
            for literal in message.literals:
                if re.search(r"[A-Za-z]", literal) and not any(literal in line for line in lines):
                    faults.append(f"{where} lacks {tool}'s words {literal!r} of {message.name}")
    for text, _ in required:
        if text not in lines:
            faults.append(f"{where} lacks {tool}'s line {text}")
    return faults


def unsaid(tool, messages, table_lines, where, sources_text, extra):
    """The lines of a document's tables that no message of the catalogue says."""
    faults = []
    allowed = dict(extra)
    for line in table_lines:
        texts = forms(line)
        if any(message.says(text) for message in messages for text in texts):
            continue
        if any(text in allowed and (allowed[text] is None or allowed[text] in sources_text) for text in texts):
            continue
        faults.append(f"{where} has a line that {tool} does not say: {line}")
    return faults


def table_lines(markdown):
    """Per tool, the code spans in the first cells of the tables of docs/messages.md."""
    lines = {"zelkor": [], "zelkor-inspect": []}
    tool = "zelkor"
    for line in markdown.split("\n"):
        if line.startswith("## "):
            tool = "zelkor-inspect" if "zelkor-inspect" in line else "zelkor"
        cells = line.split("|")
        if line.startswith("|") and len(cells) > 2:
            lines[tool] += re.findall(r"`([^`]+)`", cells[1])
    return lines


def render(groff):
    """Text lines as man renders the page, leading spaces dropped."""
    with tempfile.NamedTemporaryFile("w", suffix=".1", encoding="utf-8") as page:
        page.write(groff)
        page.flush()
        environment = dict(os.environ, MANWIDTH="1000")
        shown = subprocess.run(["man", "-l", page.name], capture_output=True, env=environment, check=True).stdout
    plain = subprocess.run(["col", "-b"], input=shown, capture_output=True, check=True).stdout.decode("utf-8")
    return [line.strip() for line in plain.split("\n") if line.strip()]


def manual_tags(groff):
    """The tags of the MESSAGES section of a manual page, as man renders them."""
    section = re.search(r"^\.SH MESSAGES\n(.*?)(?=^\.SH )", groff, re.MULTILINE | re.DOTALL)
    if not section:
        return None
    lines = section.group(1).split("\n")
    tags = [lines[k + 1] for k, line in enumerate(lines[:-1]) if line.split(" ")[0] in (".TP", ".TQ")]
    shown = render(".TH TAGS 1\n.SH TAGS\n.nf\n" + "\n".join(tags) + "\n")
    return shown[shown.index("TAGS") + 1:-1]  # between the heading and the footer


def check(root):
    faults = []
    sources_text = ""
    for path in glob.glob(os.path.join(root, "src", "**", "*.*"), recursive=True):
        if path.endswith((".cpp", ".h")):
            sources_text += open(path, encoding="utf-8").read()
    documented = table_lines(open(os.path.join(root, "docs", "messages.md"), encoding="utf-8").read())
    for tool, stem in (("zelkor", "messages"), ("zelkor-inspect", "inspect_messages")):
        found = glob.glob(os.path.join(root, "src", "**", stem + ".cpp"), recursive=True)
        if len(found) != 1:
            faults.append(f"{tool}: found {len(found)} catalogues {stem}.cpp below src/, not one")
            continue
        header = found[0][:-len(".cpp")] + ".h"
        messages = read_catalogue(open(found[0], encoding="utf-8").read(), open(header, encoding="utf-8").read())
        if len(messages) < 5:
            faults.append(f"{tool}: read only {len(messages)} messages from {found[0]}")
        where = "docs/messages.md"
        extra = NOT_IN_CATALOGUE[tool]
        faults += compare(tool, messages, documented[tool], where, extra)
        faults += unsaid(tool, messages, documented[tool], where, sources_text, extra)
        groff = open(os.path.join(root, "man", tool + ".1"), encoding="utf-8").read()
        tags = manual_tags(groff)
        if tags is None:
            faults.append(f"man/{tool}.1 has no MESSAGES section")
            continue
        faults += unsaid(tool, messages, tags, f"man/{tool}.1 (MESSAGES)", sources_text, extra)
        faults += compare(tool, messages, render(groff), f"man/{tool}.1", extra)
    return faults


# The self-test: a catalogue, the lines of a document, the faults expected.
CATALOGUE = r'''
namespace { std::string Join(std::string_view a, std::string_view b) { std::string t; t.append(a).append(b); return t; } }
std::string CannotStore(std::string_view source) { return Join("Cannot store ", source, "!"); }
std::string NotALevel(std::string_view attribute, std::string_view value, std::string_view taken)
{
    return Join(attribute, "=\"", value, "\" is not a level from 1 to 12, taken as ", Join(taken, "!"));
}
std::string Count(std::size_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries") + " stored"; }
std::string Patched(std::string_view archive, std::size_t n)
{
    if (n == 0)
        return Join(archive, ": nothing changed");
    return Join(archive, ": ", std::to_string(n), " changed");
}
std::string At(std::string_view script, unsigned long line) { return Join(script, "(", std::to_string(line), ")"); }
'''
HEADER = r'''
inline constexpr std::string_view Tool = "zelkor-inspect: ";
inline constexpr std::string_view Advice = "; read the archive alone with"
    " --no-key";
'''
EXTRA = [("No such node (ScriptFile)", "No such node"), ("No such node (<xmlattr>.NAME)", "No such node")]
GOOD = ['Cannot store SOURCE!', 'SCRIPT(LINE): Level="VALUE" is not a level from 1 to 12, taken as 9!',
        'N entries stored', '1 entry stored', '…; read the archive alone with --no-key',
        'ARCHIVE: nothing changed', 'ARCHIVE: N changed']
CASES = [
    (GOOD, []),
    (GOOD[1:], ["doc lacks zelkor's message CannotStore: Cannot\\ store\\ \\S+!"]),
    (['Cannot store the file SOURCE!'] + GOOD[1:],
     ["doc lacks zelkor's message CannotStore: Cannot\\ store\\ \\S+!",
      "doc has a line that zelkor does not say: Cannot store the file SOURCE!"]),
    (GOOD + ['Cannot stow SOURCE!'], ["doc has a line that zelkor does not say: Cannot stow SOURCE!"]),
    (GOOD[:2] + ['N entries kept', '1 entry kept'] + GOOD[4:],
     ["doc lacks zelkor's words ' stored' of Count", "doc has a line that zelkor does not say: N entries kept",
      "doc has a line that zelkor does not say: 1 entry kept"]),
    (GOOD + ['Level="VALUE" is not a level from 1 to 12, taken as 9!', 'hint: Cannot store SOURCE!'], []),
    (GOOD + ['; read the archive alone with --no-key, then more'],
     ["doc has a line that zelkor does not say: ; read the archive alone with --no-key, then more"]),
    (GOOD + ['ARCHIVE: nothing chnged'], ["doc has a line that zelkor does not say: ARCHIVE: nothing chnged"]),
    (GOOD + ['No such node (ScriptFile)'], []),
    (GOOD + ['No such node (nothing)'], ["doc has a line that zelkor does not say: No such node (nothing)"]),
]


def self_test():
    failures = 0
    found = compare("zelkor", [], ["No such node (<xmlattr>.NAME)"], "doc", EXTRA)
    if found != ["doc lacks zelkor's line No such node (ScriptFile)"]:
        print(f"the lines outside the catalogue: found {found}")
        failures += 1
    messages = read_catalogue(CATALOGUE, HEADER)
    names = sorted(message.name for message in messages)
    if names != ["Advice", "CannotStore", "Count", "NotALevel", "Patched"]:
        print(f"read the messages {names}")
        failures += 1
    for number, (lines, expected) in enumerate(CASES, 1):
        found = compare("zelkor", messages, lines, "doc") + \
            unsaid("zelkor", messages, lines, "doc", "No such node", EXTRA)
        if found != expected:
            print(f"case {number}: found {found}, expected {expected}")
            failures += 1
    tags = manual_tags('.TH T 1\n.SH MESSAGES\n.TP\n.BI "Cannot store " SOURCE !\nthe file.\n.TP\n'
                       '.IB SCRIPT ( LINE "): Level=""" VALUE """ is not a level"\nbad.\n.SH SEE ALSO\n')
    if tags != ["Cannot store SOURCE!", 'SCRIPT(LINE): Level="VALUE" is not a level']:
        print(f"read the manual's tags {tags}")
        failures += 1
    return failures


if __name__ == "__main__":
    sys.exit(document_check.run(__doc__.strip().split("\n\n")[-1], check, self_test))
