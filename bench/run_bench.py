#!/usr/bin/env python3
"""Side-by-side throughput benchmark of the archiver (make bench).

Measures, in one run, with the runs of every contender interleaved so that
noise on a shared machine hits all of them alike:

  L   LZ4 high compression (level 9) over the corpus in memory, one thread:
      the limit of one core for the archive format
  S   zelkor, one script packing the whole corpus with a key file
  N   zelkor, one script per hardware thread, the corpus split evenly
  S1  S on one hardware thread (taskset -c 0)
  S4  S as a volume set of 4 volumes (VolumeSize the smallest that gives 4)
  T   tar -cf - DIR | lz4 -9 > out, what a user might run instead
  S0, N0  S and N with the archiver as it was before compression ran in
      parallel inside a pack command (when --baseline names that binary)
  C   S with a compression cache that starts empty (the cost of filling it)
  W1  a rebuild after 1% of the files changed, with a key seed and the cache
      that S filled: the entries of the unchanged files are copied from the
      build before the change (made untimed before each round)
  W1r the same rebuild with random keys: every entry made from the cache
  R   the same rebuild without a cache
  W0r S again with the cache that S filled (nothing changed, random keys): a
      warm local cache
  W0  S with a key seed, nothing changed since its last build, warm cache: the
      build is left in place
  W0rb  W0r with the archiver as it was before sources were trusted by their
      status (when --before names that binary)
  CP  cp of W0's archive: the copy limit
  Z   zip -FS of the same tree, nothing changed (when zip is installed)
  B   agent B of a build farm: S with an empty local cache and a warm remote
      cache (nginx on loopback, started here, filled by another agent)
  CR  C with the remote cache on, the server empty (the cost of filling both)
  SW  S with the Windows build under Wine (when --windows-build holds
      zelkor.exe): SW/S compares the systems on the same work
  SWB agent B on Windows: SW with an empty local cache and the warm remote
      cache of B, which the Linux agent filled (SW/SWB: what the remote cache
      saves a Windows agent)

The reader library is measured too (bench/reader_figures.py): RD, the library
reading every entry, against LD, the in-memory limit of that work, against
itself on two threads (RD2), and against PhysicsFS reading zips of the same
files (PZ deflated, PZS stored); and opening 100,000 entries against PhysicsFS;
lookups through a mount list of three archives against one archive (F1/M3), and
PhysicsFS with the adapter against the library (RD/PA).

It also builds the corpus twice with a key seed (the bytes must be the same),
measures the zstd patch between that build and one of the changed copy, and
the peak memory of packing a 70 MiB and a 1 GiB sparse source alone, and of
three incompressible sources (12 x the corpus size each, at most 1.5 GiB) on
two threads, with the default memory budget, a budget of 2.5 sources, and
stored by a Store pattern. With --levels it packs at each level side by side
(on the files of --level-package when given) and prints size and time. With
--level-package it also rebuilds that package's tree after one file and after
1% of its files changed, with a key seed and a cache, against zip -FS updating
a zip of the same tree.

and prints MB/s (medians of the repetitions), the ratios against L and T, and
peak resident memory of the archiver runs. The same figures go to a JSON file
in the output directory (latest.json and one named after the time), so that
later runs can be compared.
"""

import argparse
import datetime
import json
import os
import pathlib
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from xml.sax.saxutils import quoteattr

from reader_figures import reader_figures, volume_size_for

MiB = 1024 * 1024


GNU_TIME = "/usr/bin/time"


def run(argv, cwd, expect_quiet=True, env=None):
    """Runs argv; returns (wall seconds, peak resident bytes of the program).

    The peak comes from GNU time, which starts the program itself: a process
    forked from this interpreter keeps the interpreter's peak (about 25 MiB)
    as its own through the exec, so its own rusage cannot show a smaller one."""
    environment = dict(os.environ, **env) if env else None
    with tempfile.NamedTemporaryFile("w+", prefix="zelkor-bench-", suffix=".peak") as peak_file:
        start = time.perf_counter()
        process = subprocess.run([GNU_TIME, "-q", "-f", "%M", "-o", peak_file.name, *argv], cwd=cwd,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=environment)
        seconds = time.perf_counter() - start
        peak_kib = peak_file.read().strip()
    stderr = process.stderr.decode(errors="replace")
    if process.returncode != 0 or (expect_quiet and stderr):
        sys.exit(f"{' '.join(map(str, argv))} failed ({process.returncode}):\n{stderr}")
    return seconds, int(peak_kib.splitlines()[-1]) * 1024


def pack_command(archive, files, seed=None):
    seeded = f" KeySeedPath={quoteattr(seed)}" if seed else ""
    lines = [f'\t<CreateOrvanPack ArchivePath={quoteattr(archive)} BuildKeyfile="true" '
             f'KeyPath={quoteattr(archive + ".zlk")}{seeded}>']
    for archived, source in files:
        lines.append(f'\t\t<File ArchivedPath={quoteattr(archived)}><![CDATA[{source}]]></File>')
    lines.append("\t</CreateOrvanPack>")
    return "\n".join(lines)


def write_script(path, commands):
    path.write_text("<ScriptFile>\n" + "\n".join(commands) + "\n</ScriptFile>\n")


def split_evenly(files, sizes, parts):
    """Cuts the list into `parts` runs of consecutive files of about equal bytes."""
    total = sum(sizes)
    runs, current, done = [], [], 0
    for entry, size in zip(files, sizes):
        current.append(entry)
        done += size
        if len(runs) < parts - 1 and done >= total * (len(runs) + 1) / parts:
            runs.append(current)
            current = []
    runs.append(current)
    return [r for r in runs if r]


def memory_cases(zelkor, work):
    """Peak resident memory of packing single large sources: 70 MiB in parts
    compressible, and a 1 GiB sparse file. Returns {case: (seconds, peak)}."""
    import random
    cases = {}
    large = work / "mem-70MiB"
    generator = random.Random(3)
    with open(large, "wb") as out:
        out.write(b"z" * (20 * MiB))
        out.write(generator.randbytes(50 * MiB))
    sparse = work / "mem-1GiB-sparse"
    with open(sparse, "wb") as out:
        out.truncate(1024 * MiB)
    for name, source in (("70 MiB", large), ("1 GiB sparse", sparse)):
        script = work / f"mem-{source.name}.xml"
        write_script(script, [pack_command(f"{work}/mem.pak", [("f", str(source))])])
        cases[name] = run([zelkor, script], work)
    large.unlink()
    sparse.unlink()
    return cases


def large_sources(zelkor, work, size_mb, threads):
    """Peak resident memory of packing three incompressible sources of
    `size_mb` MiB each on `threads` threads: with the default memory budget,
    with a budget that holds one of them at a time (2.5 sources), and stored by
    a Store pattern (streamed). Returns {case: (seconds, peak, budget or None)}."""
    size = size_mb * MiB
    sources = []
    for i in range(3):
        path = work / f"large-{i}"
        with open(path, "wb") as out:
            left = size
            while left:
                piece = min(left, 64 * MiB)
                out.write(os.urandom(piece))
                left -= piece
        sources.append((f"large-{i}", str(path)))
    budget = int(2.5 * size)
    plain, stored = work / "large.xml", work / "large-store.xml"
    write_script(plain, [pack_command(f"{work}/large.pak", sources)])
    write_script(stored, [pack_command(f"{work}/large.pak", sources).replace(
        "<CreateOrvanPack ", '<CreateOrvanPack Store="*" ', 1)])
    threads_env = {"ZELKOR_THREADS": str(threads)}
    cases = {
        "default budget": (plain, threads_env, None),
        f"ZELKOR_MEMORY={budget // MiB}M": (plain, dict(threads_env, ZELKOR_MEMORY=str(budget)), budget),
        "Store, default budget": (stored, threads_env, None),
    }
    results = {name: (*run([zelkor, script], work, env=env), limit) for name, (script, env, limit) in cases.items()}
    for _, path in sources:
        os.unlink(path)
    return results


def level_figures(zelkor, work, files, levels, reps):
    """Packs `files` (archived name, source) once per level per round, rounds
    interleaved; returns {level: (median seconds, archive bytes)}."""
    scripts = {}
    for level in levels:
        scripts[level] = work / f"level-{level}.xml"
        write_script(scripts[level], [pack_command(f"{work}/level-{level}.pak", files).replace(
            "<CreateOrvanPack ", f'<CreateOrvanPack Level="{level}" ', 1)])
    times = {level: [] for level in levels}
    for rep in range(reps):
        for level in levels[rep % len(levels):] + levels[:rep % len(levels)]:
            times[level].append(run([zelkor, scripts[level]], work)[0])
    return {level: (statistics.median(times[level]), (work / f"level-{level}.pak").stat().st_size)
            for level in levels}


def package_files(package):
    """The regular files a Debian package installed, as (archived name, path)."""
    listed = subprocess.run(["dpkg", "-L", package], check=True, capture_output=True, text=True).stdout.split("\n")
    paths = sorted(p for p in listed if p and os.path.isfile(p) and not os.path.islink(p))
    if not paths:
        sys.exit(f"package {package} installed no regular files")
    common = os.path.commonpath(paths)
    return [(os.path.relpath(p, common), p) for p in paths]


def package_rebuilds(zelkor, work, files, reps, seed):
    """Rebuilds of the level package's tree after one file and after 1% of
    its files changed: the archiver with a key seed and a cache, against
    `zip -FS` updating a zip of the same tree. Before each timed round, both
    are brought back to the unchanged tree, untimed, with the cache as the
    first build left it. Returns {case: {"zelkor": s, "zip": s, "changed": n}}."""
    pristine = work / "pkg-tree"
    for archived, source in files:
        target = pristine / archived
        target.parent.mkdir(parents=True, exist_ok=True)
        try:
            os.link(source, target)
        except OSError:
            shutil.copyfile(source, target)
    trees = {}
    for case, share in (("one", 0.0), ("1%", 0.01)):
        trees[case] = work / f"pkg-{case.strip('%')}"
        subprocess.run(["cp", "-al", pristine, trees[case]], check=True)
        trees[case + "-count"] = change_files(trees[case], seed, share)
    link, seed_file = work / "pkg-link", work / "seed"
    seed_file.write_bytes(bytes(range(64)))

    def point(target):
        staged = work / "pkg-link.new"
        staged.unlink(missing_ok=True)
        staged.symlink_to(target)
        staged.replace(link)

    # Linking the copies changed the change times of the tree's files: once
    # they lie back, the builds below trust the unchanged files' status.
    settle(pristine)
    point(pristine)
    script = generated_script(zelkor, work, link, "pkg",
                              f'ArchivePath="{work}/pkg.pak" BuildKeyfile="true" KeyPath="{work}/pkg.pak.zlk" '
                              f'KeySeedPath="{seed_file}"')
    cache, first_cache = work / "cache-pkg", work / "cache-pkg-first"
    zip_command = ["zip", "-FS", "-q", "-r", str(work / "pkg.zip"), "."]
    run([zelkor, script], work, env={"ZELKOR_CACHE_DIR": str(first_cache)})
    run(zip_command, link)
    results = {}
    for case in ("one", "1%"):
        times = {"zelkor": [], "zip": []}
        for rep in range(reps):
            shutil.rmtree(cache, ignore_errors=True)
            subprocess.run(["cp", "-al", first_cache, cache], check=True)
            point(pristine)
            run([zelkor, script], work, env={"ZELKOR_CACHE_DIR": str(cache)})
            run(zip_command, link)
            point(trees[case])
            settle(trees[case])
            # The untimed builds just wrote a whole archive and zip: their
            # write-back would otherwise land in the timed runs (the archiver
            # syncs its outputs before putting them in place; zip does not).
            subprocess.run(["sync"], check=True)
            times["zelkor"].append(run([zelkor, script], work, env={"ZELKOR_CACHE_DIR": str(cache)})[0])
            times["zip"].append(run(zip_command, link)[0])
        results[case] = {"zelkor": statistics.median(times["zelkor"]), "zip": statistics.median(times["zip"]),
                         "changed": trees[case + "-count"]}
    return results


def generated_script(zelkor, work, tree, name, attributes):
    """Has the archiver write work/NAME.xml packing `tree` (archive prefix empty)
    with the given pack command attributes; returns its path."""
    generate = work / f"generate-{name}.xml"
    generate.write_text(f'<ScriptFile><CreateOrvanPackXml Input="{tree}:" XmlPath="{work}/{name}.xml" '
                        f'{attributes}/></ScriptFile>\n')
    run([zelkor, generate], work)
    return work / f"{name}.xml"


def linked_copy(corpus, out):
    """A copy of the corpus made of hard links, to be changed by change_files."""
    copy = out / f"{corpus.name}-changed"
    shutil.rmtree(copy, ignore_errors=True)
    subprocess.run(["cp", "-al", corpus, copy], check=True)
    return copy


def change_files(copy, seed, share=0.01):
    """Changes `share` of the files of the copy, a fixed seeded choice: a third
    grown, a third shrunk, a third rewritten. The changed files are new files,
    so the corpus itself stays as it was. Returns how many changed."""
    import random
    files = sorted(p for p in copy.rglob("*") if p.is_file())
    generator = random.Random(seed)
    chosen = generator.sample(files, max(1, round(len(files) * share)))
    for i, path in enumerate(chosen):
        data = path.read_bytes()
        path.unlink()
        if i % 3 == 0:
            data += generator.randbytes(max(1, len(data) // 10))
        elif i % 3 == 1:
            data = data[:len(data) // 2]
        else:
            data = generator.randbytes(len(data))
        path.write_bytes(data)
    return len(chosen)


def settle(tree):
    """Waits until the last change in `tree` lies 2.5 seconds back: sources are
    trusted by their status once it lies two seconds back."""
    newest = max(p.stat().st_ctime for p in tree.rglob("*"))
    time.sleep(max(0.0, newest + 2.5 - time.time()))


def entries(inspect, archive):
    """name -> (contentHash, rawSize, storedSize) of an archive, by zelkor-inspect list."""
    listing = json.loads(subprocess.run([inspect, "list", archive, "--json"], check=True,
                                        capture_output=True, text=True).stdout)
    return {e["name"]: (e["contentHash"], e["rawSize"], e["storedSize"]) for e in listing["entries"]}


def reproducibility(build, zelkor, corpus, changed, work):
    """Builds the corpus twice with a key seed (bytes compared), then the changed
    copy, and measures the patch between the two builds against the stored bytes
    of the changed entries."""
    seed = work / "seed"
    seed.write_bytes(bytes(range(64)))
    scripts = {}
    for name, tree in (("first", corpus), ("again", corpus), ("changed", changed)):
        scripts[name] = generated_script(zelkor, work, tree, name,
                                         f'ArchivePath="{work}/{name}.pak" BuildKeyfile="true" KeySeedPath="{seed}"')
        run([zelkor, scripts[name]], work)
    identical = all((work / f"first{ext}").read_bytes() == (work / f"again{ext}").read_bytes()
                    for ext in (".pak", ".pak.zlk"))
    patch = work / "patch.zst"
    subprocess.run(["zstd", "-q", "-f", "--long=31", f"--patch-from={work}/first.pak", f"{work}/changed.pak",
                    "-o", patch], check=True)
    inspect = build / "zelkor-inspect"
    old, new = entries(inspect, work / "first.pak"), entries(inspect, work / "changed.pak")
    changed_stored = sum(fields[2] for name, fields in new.items() if old.get(name) != fields)
    return {
        "identical_rebuild": identical,
        "archive_bytes": (work / "changed.pak").stat().st_size,
        "patch_bytes": patch.stat().st_size,
        "changed_entries_stored_bytes": changed_stored,
        "patch_target_bytes": int(1.5 * changed_stored + 64 * 1024),
    }


class CacheServer:
    """Debian's nginx on a free loopback port, taking PUT (WebDAV), for the
    remote cache; one process, stopped at the end."""

    def __init__(self, work):
        if not os.access("/usr/sbin/nginx", os.X_OK):
            sys.exit("nginx is not installed (scripts/bootstrap nginx installs it)")
        self.dir = work / "nginx"
        (self.dir / "root").mkdir(parents=True)
        (self.dir / "temp").mkdir()
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        temp_paths = "".join(f"  {t}_temp_path {self.dir}/temp;\n"
                             for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        (self.dir / "nginx.conf").write_text(
            f"daemon off;\nmaster_process off;\npid {self.dir}/nginx.pid;\nerror_log {self.dir}/error.log;\n"
            "events { worker_connections 256; }\n"
            f"http {{\n  access_log off;\n{temp_paths}  client_max_body_size 0;\n"
            f"  server {{\n    listen 127.0.0.1:{self.port};\n    root {self.dir}/root;\n"
            "    location / { dav_methods PUT; create_full_put_path on; log_not_found off; }\n  }\n}\n")
        self.process = subprocess.Popen(["/usr/sbin/nginx", "-p", self.dir, "-e", self.dir / "error.log",
                                         "-c", self.dir / "nginx.conf"], stdout=subprocess.DEVNULL)
        for _ in range(500):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.02)
        self.process.kill()
        sys.exit(f"nginx did not start: {(self.dir / 'error.log').read_text()}")

    def url(self, prefix):
        return f"http://127.0.0.1:{self.port}/{prefix}"

    def stop(self):
        self.process.terminate()
        self.process.wait()


class WineSession:
    """Wine for the Windows build's runs, set up as scripts/run-windows-tests
    does: the build's own prefix, no debug output, and one wineserver kept for
    the whole benchmark, so that no run pays for starting Wine's services."""

    def __init__(self, windows_build):
        self.environment = dict(os.environ, WINEPREFIX=str(windows_build / "wine"), WINEDEBUG="-all",
                                WINEDLLOVERRIDES="mscoree,mshtml=")
        self.environment.pop("DISPLAY", None)
        self.wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        subprocess.run([self.wineserver, "-p"], env=self.environment, check=True)
        subprocess.run([self.wine, "wineboot"], env=self.environment, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def command(self):
        # env hands the prefix to the run without touching the others' environments.
        return ["env", *(f"{name}={self.environment[name]}" for name in ("WINEPREFIX", "WINEDEBUG",
                                                                         "WINEDLLOVERRIDES")), self.wine]

    def stop(self):
        subprocess.run([self.wineserver, "-k"], env=self.environment)


def copied_entries(inspect, cache):
    """The archive entries copied from earlier builds that the cache `cache` counts."""
    shown = subprocess.run([inspect, "cache", cache, "--json"], check=True, capture_output=True, text=True)
    return json.loads(shown.stdout)["copied"]


def remote_record(inspect, cache):
    """What the last run recorded of its remote cache in the directory `cache`."""
    shown = subprocess.run([inspect, "cache", cache, "--json"], check=True, capture_output=True, text=True)
    return json.loads(shown.stdout)["remote"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=pathlib.Path, default=pathlib.Path("build"))
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("build/bench"))
    parser.add_argument("--mb", type=int, default=128, help="corpus size in MB (default 128)")
    parser.add_argument("--seed", type=int, default=20140707)
    parser.add_argument("--reps", type=int, default=5, help="repetitions of every measurement")
    parser.add_argument("--baseline", type=pathlib.Path, help="zelkor binary from before the change")
    parser.add_argument("--windows-build", type=pathlib.Path, default=pathlib.Path("build-windows"),
                        help="the Windows build, measured under Wine when it holds zelkor.exe")
    parser.add_argument("--before", type=pathlib.Path,
                        help="zelkor binary from before sources were trusted by their status (W0rb)")
    parser.add_argument("--large-mb", type=int,
                        help="size of each of the three incompressible sources whose peak memory is measured "
                             "(default 12 x --mb, at most 1536; 0 leaves the case out)")
    parser.add_argument("--levels", default="",
                        help="compression levels to measure side by side, e.g. '9 12' (default none)")
    parser.add_argument("--level-package",
                        help="Debian package whose files the levels are measured on (installed already); "
                             "default the corpus")
    args = parser.parse_args()
    # make bench names the archivers it built; one that a shallow clone could
    # not build is missing, and its figures are left out.
    for option in ("baseline", "before"):
        path = getattr(args, option)
        if path and not path.is_file():
            print(f"no {path}: the figures of --{option} are left out", flush=True)
            setattr(args, option, None)

    build = args.build.resolve()
    out = args.out.resolve()
    zelkor = build / "zelkor"
    threads = len(os.sched_getaffinity(0))
    work = out / "work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    corpus = out / f"corpus-{args.mb}MB-{args.seed}"
    if not corpus.is_dir():
        print(f"Generating {corpus.name} ...", flush=True)
        subprocess.run([build / "bench" / "corpus_generator", corpus, str(args.mb), str(args.seed)],
                       check=True, stdout=subprocess.DEVNULL)

    # S packs the script that the archiver itself generates for the tree: the
    # usual way a whole asset tree is packed.
    script_s = generated_script(zelkor, work, corpus, "s",
                                f'ArchivePath="{work}/s.pak" BuildKeyfile="true" KeyPath="{work}/s.pak.zlk"')
    files = [(f.get("ArchivedPath"), f.text) for f in ElementTree.parse(script_s).getroot().iter("File")]
    sizes = [os.path.getsize(source) for _, source in files]
    total = sum(sizes)
    (work / "files.txt").write_text("".join(source + "\n" for _, source in files))

    scripts_n = []
    for i, part in enumerate(split_evenly(files, sizes, threads)):
        path = work / f"n{i}.xml"
        write_script(path, [pack_command(f"{work}/n{i}.pak", part)])
        scripts_n.append(path)

    # The cache: C builds the corpus into an empty cache; W rebuilds the changed
    # copy with the cache the corpus filled; R rebuilds the changed copy without.
    # The cache that W1 starts from holds the build of the copy before its
    # files changed, as the last build of a tree does.
    changed = linked_copy(corpus, out)
    script_r = generated_script(zelkor, work, changed, "changed",
                                f'ArchivePath="{work}/r.pak" BuildKeyfile="true" KeyPath="{work}/r.pak.zlk"')
    cold_cache, warm_cache, pristine_cache = work / "cache-cold", work / "cache-warm", work / "cache-pristine"
    # Linking the copy changed the corpus files' change times.
    settle(corpus)
    run([zelkor, script_s], work, env={"ZELKOR_CACHE_DIR": str(pristine_cache)})
    run([zelkor, script_r], work, env={"ZELKOR_CACHE_DIR": str(pristine_cache)})
    changed_count = change_files(changed, args.seed)
    # Unlinking the changed files from the copy changed the change times of
    # their originals in the corpus too.
    settle(corpus)
    inspect = build / "zelkor-inspect"
    # The remote cache: another agent fills the server's /warm, which B reads
    # into an empty directory of its own each run; each run of CR fills a prefix
    # of its own, /cold-N, beside a cold local cache.
    server = CacheServer(work)
    fill_cache = work / "cache-fill"
    run([zelkor, script_s], work, env={"ZELKOR_CACHE_DIR": str(fill_cache), "ZELKOR_REMOTE_CACHE": server.url("warm")})
    filled = remote_record(inspect, fill_cache)
    agent_cache, remote_cold_cache = work / "cache-agent", work / "cache-remote-cold"
    windows_agent_cache = work / "cache-windows-agent"
    # Every run of C gets a directory of its own, removed only at the end: file
    # systems allocate new files slowly next to many just deleted (ext4 skips
    # their inodes for a while), which a first use of a cache never meets.
    cold_runs = [0]

    def next_cold_cache(name, directory):
        def fresh_cache():
            cold_runs[0] += 1
            environments[name]["ZELKOR_CACHE_DIR"] = f"{directory}-{cold_runs[0]}"
            if name == "CR":
                environments[name]["ZELKOR_REMOTE_CACHE"] = server.url(f"cold-{cold_runs[0]}")
        return fresh_cache

    def warm_copy(directory):
        return lambda: (shutil.rmtree(directory, ignore_errors=True),
                        subprocess.run(["cp", "-al", pristine_cache, directory], check=True))

    # W1 packs the changed copy with a key seed through a link, w1-tree: before
    # each round, untimed, the link points at the corpus and the tree is built
    # with a fresh copy of the cache S filled (the build before the change, in
    # which the unchanged files are the same files under the same names); then
    # the link points at the changed copy, and the timed run copies the entries
    # of the unchanged files from that build.
    w1_cache, w1_tree = work / "cache-w1", work / "w1-tree"
    (work / "seed").write_bytes(bytes(range(64)))

    def point_w1_tree(target):
        link = work / "w1-tree.new"
        link.unlink(missing_ok=True)
        link.symlink_to(target)
        link.replace(w1_tree)

    point_w1_tree(changed)
    script_w1 = generated_script(zelkor, work, w1_tree, "w1",
                                 f'ArchivePath="{work}/w1.pak" BuildKeyfile="true" KeyPath="{work}/w1.pak.zlk" '
                                 f'KeySeedPath="{work}/seed"')

    def w1_before():
        warm_copy(w1_cache)()
        point_w1_tree(corpus)
        run([zelkor, script_w1], work, env={"ZELKOR_CACHE_DIR": str(w1_cache)})
        point_w1_tree(changed)

    hot_cache, before_cache, seeded_cache = work / "cache-hot", work / "cache-before", work / "cache-seeded"
    # W0 builds the corpus with a key seed into an archive of its own, with a
    # cache of its own that only its first run fills: every later run finds
    # nothing changed.
    seed = work / "seed"
    script_w0 = generated_script(zelkor, work, corpus, "w0",
                                 f'ArchivePath="{work}/w0.pak" BuildKeyfile="true" KeyPath="{work}/w0.pak.zlk" '
                                 f'KeySeedPath="{seed}"')
    fresh = {
        "C": next_cold_cache("C", cold_cache),
        "W1": w1_before,
        "W1r": warm_copy(warm_cache),
        "W0r": warm_copy(hot_cache),
        "W0rb": warm_copy(before_cache),
        "B": next_cold_cache("B", agent_cache),
        "CR": next_cold_cache("CR", remote_cold_cache),
    }
    environments = {"C": {"ZELKOR_CACHE_DIR": str(cold_cache)}, "W1": {"ZELKOR_CACHE_DIR": str(w1_cache)},
                    "W1r": {"ZELKOR_CACHE_DIR": str(warm_cache)},
                    "W0r": {"ZELKOR_CACHE_DIR": str(hot_cache)}, "W0rb": {"ZELKOR_CACHE_DIR": str(before_cache)},
                    "W0": {"ZELKOR_CACHE_DIR": str(seeded_cache)},
                    "B": {"ZELKOR_CACHE_DIR": str(agent_cache), "ZELKOR_REMOTE_CACHE": server.url("warm")},
                    "CR": {"ZELKOR_CACHE_DIR": str(remote_cold_cache)}}

    # S4: the same script with a VolumeSize that cuts the archive S writes
    # into 4 volumes, written beside it.
    run([zelkor, script_s], work)
    volume_size = volume_size_for(inspect, work / "s.pak")
    script_s4 = work / "s4.xml"
    script_s4.write_text(script_s.read_text().replace(f"{work}/s.pak", f"{work}/s4.pak").replace(
        'BuildKeyfile="true"', f'BuildKeyfile="true" VolumeSize="{volume_size}"', 1))

    lz4_limit = build / "bench" / "lz4_limit"
    tar_lz4 = f"set -o pipefail; tar -cf - -C {corpus.parent} {corpus.name} | lz4 -9 -c -q > {work}/t.tar.lz4"
    contenders = {
        "L": None,
        "S": [zelkor, script_s],
        "N": [zelkor, *scripts_n],
        "S1": ["taskset", "-c", "0", zelkor, script_s],
        "S4": [zelkor, script_s4],
        "T": ["bash", "-c", tar_lz4],
        "C": [zelkor, script_s],
        "W1": [zelkor, script_w1],
        "W1r": [zelkor, script_r],
        "R": [zelkor, script_r],
        "W0r": [zelkor, script_s],
        "W0": [zelkor, script_w0],
        "CP": ["cp", work / "w0.pak", work / "cp.pak"],
        "B": [zelkor, script_s],
        "CR": [zelkor, script_s],
    }
    if shutil.which("zip"):
        contenders["Z"] = ["zip", "-FS", "-q", "-r", work / "z.zip", corpus.name]
    if args.before:
        contenders["W0rb"] = [args.before.resolve(), script_s]
    if args.baseline:
        contenders["S0"] = [args.baseline.resolve(), script_s]
        contenders["N0"] = [args.baseline.resolve(), *scripts_n]
    wine = WineSession(args.windows_build.resolve()) if (args.windows_build / "zelkor.exe").is_file() else None
    if wine:
        # The same script, writing an archive of its own; Wine sees the
        # machine's paths below its drive Z:, the working directory's drive.
        script_sw = work / "sw.xml"
        script_sw.write_text(script_s.read_text().replace(f"{work}/s.pak", f"{work}/sw.pak"))
        contenders["SW"] = [*wine.command(), args.windows_build.resolve() / "zelkor.exe", script_sw]
        contenders["SWB"] = contenders["SW"]
        fresh["SWB"] = next_cold_cache("SWB", windows_agent_cache)
        environments["SWB"] = {"ZELKOR_CACHE_DIR": str(windows_agent_cache), "ZELKOR_REMOTE_CACHE": server.url("warm")}
    cwd = {"Z": corpus.parent}

    # Warm the page cache and check that every contender works (and fill W0's
    # cache and archive, and Z's zip, which later runs find unchanged).
    for name, argv in contenders.items():
        if argv:
            fresh.get(name, lambda: None)()
            run(argv, cwd.get(name, work), env=environments.get(name))
    # W0's first run recorded its build; the second finds it unchanged.
    run(contenders["W0"], work, env=environments["W0"])
    w0_identity = (work / "w0.pak").stat().st_ino

    times = {name: [] for name in contenders}
    peaks = {name: [] for name in contenders}
    names = list(contenders)
    for rep in range(args.reps):
        # A different contender goes first each round.
        for name in names[rep % len(names):] + names[:rep % len(names)]:
            if name == "L":
                result = subprocess.run([lz4_limit, work / "files.txt", "1"], check=True,
                                        capture_output=True, text=True)
                times[name].append(float(result.stdout.split()[0]))
            else:
                fresh.get(name, lambda: None)()
                seconds, peak = run(contenders[name], cwd.get(name, work), env=environments.get(name))
                times[name].append(seconds)
                if name not in ("SW", "SWB"):  # under Wine the peak is the launcher's, not the archiver's
                    peaks[name].append(peak)
        print(f"round {rep + 1}/{args.reps}: " +
              ", ".join(f"{n} {times[n][-1]:.2f}s" for n in names), flush=True)

    # How many entries a run of W1 copies (its cache counts those of the untimed
    # build before it too).
    w1_before()
    copied_before = copied_entries(inspect, w1_cache)
    run(contenders["W1"], work, env=environments["W1"])
    w1_copied = copied_entries(inspect, w1_cache) - copied_before

    agent = remote_record(inspect, environments["B"]["ZELKOR_CACHE_DIR"])
    cold_remote = remote_record(inspect, environments["CR"]["ZELKOR_CACHE_DIR"])
    windows_agent = remote_record(inspect, environments["SWB"]["ZELKOR_CACHE_DIR"]) if wine else None
    server.stop()
    if wine:
        wine.stop()
    for index in range(1, cold_runs[0] + 1):
        for directory in (cold_cache, agent_cache, remote_cold_cache, windows_agent_cache):
            shutil.rmtree(f"{directory}-{index}", ignore_errors=True)
    median = {name: statistics.median(values) for name, values in times.items()}
    speed = {name: total / 1e6 / seconds for name, seconds in median.items()}
    ratios = {
        "S/L": speed["S"] / speed["L"],
        "N/L": speed["N"] / speed["L"],
        "S1/L": speed["S1"] / speed["L"],
        "S/T": speed["S"] / speed["T"],
    }
    ratios["C/S"] = median["C"] / median["S"]
    ratios["S4/S"] = median["S4"] / median["S"]
    ratios["C/R"] = median["C"] / median["R"]
    ratios["R/W1"] = median["R"] / median["W1"]
    ratios["R/W1r"] = median["R"] / median["W1r"]
    ratios["W0/CP"] = median["W0"] / median["CP"]
    if "Z" in median:
        ratios["W0/Z"] = median["W0"] / median["Z"]
    if "W0rb" in median:
        ratios["W0r/W0rb"] = median["W0r"] / median["W0rb"]
    ratios["S/B"] = median["S"] / median["B"]
    ratios["B/W0r"] = median["B"] / median["W0r"]
    ratios["CR/C"] = median["CR"] / median["C"]
    if "SW" in speed:
        ratios["SW/S"] = speed["SW"] / speed["S"]
        ratios["SW/SWB"] = median["SW"] / median["SWB"]
    if "N0" in speed:
        ratios["S0/L"] = speed["S0"] / speed["L"]
        ratios["N/N0"] = speed["N"] / speed["N0"]
    peak = {name: max(values) for name, values in peaks.items() if values}
    # What the files in flight may hold at most: raw and stored bytes of the
    # largest files that can be in flight together (two per hardware thread).
    in_flight = 2 * threads
    peak_bound = 64 * MiB + 2 * sum(sorted(sizes, reverse=True)[:in_flight])

    print()
    print(f"corpus {corpus.name}: {len(files)} files, {total / 1e6:.1f} MB; "
          f"{threads} hardware threads; {args.reps} repetitions, medians")
    print(f"{'':4} {'MB/s':>8} {'seconds':>8} {'peak RSS':>10}")
    for name in names:
        rss = f"{peak[name] / MiB:.0f} MiB" if name in peak else ""
        print(f"{name:4} {speed[name]:8.1f} {median[name]:8.2f} {rss:>10}")
    print()
    print("  ".join(f"{name} {value:.2f}" for name, value in ratios.items()))
    print(f"peak RSS of S {peak['S'] / MiB:.0f} MiB; bound 64 MiB + 2 x largest {in_flight} files = "
          f"{peak_bound / MiB:.0f} MiB")

    volumes = len(list(work.glob("s4*.pak")))
    print(f"volume sets: S4 packs {volumes} volumes (VolumeSize {volume_size}), S4/S {ratios['S4/S']:.3f} "
          f"(target <= 1.03)")
    print(f"cache: C builds into an empty cache, W1 and R rebuild after {changed_count} files changed, "
          f"with the filled cache and without one; C/S {ratios['C/S']:.3f}, C/R {ratios['C/R']:.3f} "
          f"(target <= 1.05), R/W1 {ratios['R/W1']:.1f} with a key seed, {w1_copied} entries copied "
          f"(target >= 10), R/W1r {ratios['R/W1r']:.1f} with random keys")
    left_in_place = (work / "w0.pak").stat().st_ino == w0_identity
    zip_ratio = f"W0/Z {ratios['W0/Z']:.2f} (target <= 1)" if "W0/Z" in ratios else "Z not run (no zip)"
    before = (f"W0r/W0rb {ratios['W0r/W0rb']:.2f} (target <= 0.5)" if "W0r/W0rb" in ratios
              else "W0rb not run (no --before)")
    print(f"nothing changed: W0 {median['W0']:.3f} s (archive left in place: {'yes' if left_in_place else 'NO'}), "
          f"W0/CP {ratios['W0/CP']:.2f} (target <= 2), {zip_ratio}; random keys: W0r {median['W0r']:.3f} s, {before}")

    print(f"remote cache: B with a warm server and an empty directory, S/B {ratios['S/B']:.1f} (target >= 4), "
          f"B/W0r {ratios['B/W0r']:.2f} against a warm local cache (target <= 1.5); cold with the server on, "
          f"CR/C {ratios['CR/C']:.3f} (target <= 1.05)")
    print(f"remote cache: the filling agent uploaded {filled['uploads']} entries, dropped {filled['uploadsDropped']}; "
          f"B's last run took {agent['hits']} hits, {agent['misses']} misses, {agent['bytesDown'] / MiB:.1f} MiB down; "
          f"CR's last run uploaded {cold_remote['uploads']}, dropped {cold_remote['uploadsDropped']}")

    if "SW/S" in ratios:
        print(f"Windows: SW under Wine {speed['SW']:.1f} MB/s against S {speed['S']:.1f} MB/s, "
              f"SW/S {ratios['SW/S']:.2f} (target >= 0.8)")
        print(f"Windows: SWB with a warm server and an empty directory {median['SWB']:.2f} s, "
              f"SW/SWB {ratios['SW/SWB']:.1f} (target >= 3); its last run took {windows_agent['hits']} hits, "
              f"{windows_agent['misses']} misses, {windows_agent['bytesDown'] / MiB:.1f} MiB down")
    else:
        print(f"Windows: no {args.windows_build / 'zelkor.exe'} (make windows), SW not measured")

    reproducible = reproducibility(build, zelkor, corpus, changed, work)
    print(f"key seed: rebuild byte-identical: {'yes' if reproducible['identical_rebuild'] else 'NO'}; "
          f"patch after {changed_count} files changed: {reproducible['patch_bytes']} bytes for "
          f"{reproducible['changed_entries_stored_bytes']} stored bytes of changed entries "
          f"(target <= {reproducible['patch_target_bytes']}), archive {reproducible['archive_bytes']} bytes")

    reader_ratios, reader = reader_figures(build, zelkor, work, files, args.reps, quick=args.mb < 32)
    ratios.update(reader_ratios)

    memory = memory_cases(zelkor, work)
    print("peak RSS packing one source alone: " +
          ", ".join(f"{name} {peak / MiB:.0f} MiB ({seconds:.1f} s)" for name, (seconds, peak) in memory.items()))

    large_mb = args.large_mb if args.large_mb is not None else min(1536, 12 * args.mb)
    large = large_sources(zelkor, work, large_mb, 2) if large_mb > 0 else {}
    if large:
        print(f"peak RSS packing three incompressible {large_mb} MiB sources on 2 threads: " +
              ", ".join(f"{name} {peak / MiB:.0f} MiB" +
                        (f" (budget {limit / MiB:.0f} MiB: {'within' if peak <= limit else 'OVER'})" if limit else "")
                        + f" in {seconds:.1f} s" for name, (seconds, peak, limit) in large.items()))

    levels = [int(level) for level in args.levels.replace(",", " ").split()]
    level_results = {}
    level_files = package_files(args.level_package) if args.level_package else files
    if levels:
        raw = sum(os.path.getsize(source) for _, source in level_files)
        level_results = level_figures(zelkor, work, level_files, levels, args.reps)
        print(f"levels on {args.level_package or corpus.name} ({len(level_files)} files, {raw / 1e6:.1f} MB): " +
              ", ".join(f"{level}: {size / raw * 100:.1f}% of raw in {seconds:.2f} s"
                        for level, (seconds, size) in level_results.items()))
    rebuilds = {}
    if args.level_package and shutil.which("zip"):
        rebuilds = package_rebuilds(zelkor, work, level_files, args.reps, args.seed)
        print(f"rebuilds on {args.level_package} with a key seed and a cache, against zip -FS: " +
              ", ".join(f"{r['changed']} changed: {r['zelkor']:.2f} s against {r['zip']:.2f} s "
                        f"(zelkor/zip {r['zelkor'] / r['zip']:.2f})" for r in rebuilds.values()))

    record = {
        "time": datetime.datetime.now().isoformat(timespec="seconds"),
        "corpus": {"name": corpus.name, "files": len(files), "bytes": total},
        "hardware_threads": threads,
        "repetitions": args.reps,
        "load_average": os.getloadavg(),
        "seconds": times,
        "median_seconds": median,
        "mb_per_s": speed,
        "ratios": ratios,
        "peak_rss_bytes": peak,
        "peak_rss_bound_bytes": peak_bound,
        "single_source_peak_rss_bytes": {name: peak for name, (_, peak) in memory.items()},
        "large_sources": {"mib_each": large_mb, "cases": {name: {"seconds": seconds, "peak_rss_bytes": peak,
                                                                 "budget_bytes": limit}
                                                          for name, (seconds, peak, limit) in large.items()}},
        "levels": {str(level): {"median_seconds": seconds, "archive_bytes": size}
                   for level, (seconds, size) in level_results.items()},
        "package_rebuilds": rebuilds,
        "reproducibility": reproducible,
        "w1_entries_copied": w1_copied,
        "remote_cache": {"filling_agent": filled, "agent_b_last_run": agent, "cold_last_run": cold_remote,
                         "windows_agent_last_run": windows_agent},
        "reader": reader,
    }
    text = json.dumps(record, indent=2) + "\n"
    stamp = record["time"].replace(":", "")
    (out / f"results-{stamp}.json").write_text(text)
    (out / "latest.json").write_text(text)
    print(f"written to {out / 'latest.json'}")


if __name__ == "__main__":
    main()
