"""The reader library's figures for make bench (run_bench.py calls
reader_figures): reader_bench over an archive of the corpus with its key file
and over zips of the same files, and over an archive of 100,000 small entries.

  RD/LD   the library reading every entry on one thread, against the in-memory
          limit of that work (throughput ratio; goal >= 0.90)
  RD2/RD  two threads on one open archive against one (goal >= 1.8)
  RD/PZ   the library against PhysicsFS reading a deflated zip of the same files
          (goal >= 2); RD/PZS the same against a zip of stored files (the I/O alone)
  Open    opening 100,000 entries with the key file and finding every one by path,
          against PhysicsFS mounting a zip of the same names and opening each
  Memory  the library's bytes per entry after the open, and with the names loaded
  RV/RA   opening a set of 4 volumes of the same files and reading every entry
          through the library, against the same with one archive (goal <= 1.03)
  F1/M3   finding every one of the 100,000 names in one archive of them all, against
          finding them through a mount list of three archives that hold them between
          them: the time of the mount list over the time of one archive (goal <= 1.2)
  RD/PA   reading every file of the corpus archive by path through the library
          (zlk_find, zlk_read), against through PhysicsFS with the adapter: the
          adapter's time over the library's, one thread (goal <= 1.1)
"""

import json
import random
import statistics
import subprocess
import sys
import zipfile
from xml.sax.saxutils import quoteattr

OPEN_ENTRIES = 100_000
# A small corpus is a quick check of the bench itself, where PhysicsFS's tens
# of seconds for the large zip would dominate.
QUICK_OPEN_ENTRIES = 10_000


def _bench(build, *arguments):
    result = subprocess.run([build / "bench" / "reader_bench", *map(str, arguments)], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"reader_bench {' '.join(map(str, arguments))} failed:\n{result.stderr}")
    return json.loads(result.stdout)


def _pack(zelkor, work, name, files, attributes=""):
    """Packs (archived path, source) pairs with a key file; returns the archive's path."""
    archive = work / f"{name}.pak"
    lines = [f'<ScriptFile>\n<CreateOrvanPack ArchivePath={quoteattr(str(archive))} BuildKeyfile="true" {attributes}>']
    lines += [f"<File ArchivedPath={quoteattr(path)}><![CDATA[{source}]]></File>" for path, source in files]
    lines.append("</CreateOrvanPack>\n</ScriptFile>\n")
    script = work / f"{name}.xml"
    script.write_text("\n".join(lines))
    subprocess.run([zelkor, script], cwd=work, check=True, stdout=subprocess.DEVNULL)
    return archive


def volume_size_for(inspect, archive, volumes=4):
    """The smallest VolumeSize that packs the entries of `archive`, in its order
    and with its stored sizes, into at most `volumes` volumes."""
    listed = subprocess.run([inspect, "list", archive, "--json"], check=True, capture_output=True, text=True)
    sizes = [entry["storedSize"] for entry in json.loads(listed.stdout)["entries"]]

    def count(volume_size):
        used, volumes_used = 68, 1
        for size in sizes:
            if used > 68 and used + 20 + size > volume_size:
                volumes_used, used = volumes_used + 1, 68
            used += 20 + size
        return volumes_used

    low, high = 1, 68 + 20 * len(sizes) + sum(sizes)
    while low < high:
        middle = (low + high) // 2
        low, high = (low, middle) if count(middle) <= volumes else (middle + 1, high)
    return low


def _zip(path, files, method):
    with zipfile.ZipFile(path, "w", method) as out:
        for archived, source in files:
            out.write(source, archived)


def reader_figures(build, zelkor, work, corpus_files, reps, quick=False):
    """Returns (ratios, figures) for latest.json; corpus_files are (archived
    path, source) pairs of the corpus. `quick` opens fewer entries."""
    entries = QUICK_OPEN_ENTRIES if quick else OPEN_ENTRIES
    archive = _pack(zelkor, work, "reader", corpus_files)
    deflated, stored = work / "reader-deflated.zip", work / "reader-stored.zip"
    _zip(deflated, corpus_files, zipfile.ZIP_DEFLATED)
    _zip(stored, corpus_files, zipfile.ZIP_STORED)
    read = _bench(build, "read", archive, f"{archive}.zlk", deflated, stored, reps)
    median = {name: statistics.median(read[name]) for name in ("RD", "RD2", "LD", "PZ", "PZS")}
    ratios = {
        "RD/LD": median["LD"] / median["RD"],
        "RD2/RD": median["RD"] / median["RD2"],
        "RD/PZ": median["PZ"] / median["RD"],
        "RD/PZS": median["PZS"] / median["RD"],
    }

    # The same files as a set of 4 volumes, opened and read whole side by side
    # with the archive.
    volume_size = volume_size_for(zelkor.parent / "zelkor-inspect", archive)
    volumes = _pack(zelkor, work, "reader-set", corpus_files, f'VolumeSize="{volume_size}"')
    sets = _bench(build, "set", archive, f"{archive}.zlk", volumes, f"{volumes}.zlk", reps)
    ratios["RV/RA"] = statistics.median(sets["RV"]) / statistics.median(sets["RA"])

    # 100,000 small entries from a few sources, and a zip of the same names.
    generator = random.Random(7)
    sources = []
    for i in range(16):
        source = work / f"small-{i}.dat"
        source.write_bytes(generator.randbytes(100 + 37 * i))
        sources.append(str(source))
    names = [f"assets/dir{k // 1000:03d}/file{k:06d}.dat" for k in range(entries)]
    many = [(name, sources[k % len(sources)]) for k, name in enumerate(names)]
    many_archive = _pack(zelkor, work, "many", many)
    many_zip = work / "many.zip"
    _zip(many_zip, many, zipfile.ZIP_STORED)
    names_file = work / "many-names.txt"
    names_file.write_text("".join(name + "\n" for name in names))
    # PhysicsFS takes tens of seconds for this zip: one repetition.
    opened = _bench(build, "open", many_archive, f"{many_archive}.zlk", many_zip, names_file, 1)
    library = statistics.median(opened["open"]) + statistics.median(opened["find"])
    physfs = statistics.median(opened["PZmount"]) + statistics.median(opened["PZopen"])
    ratios["PZopen/open"] = physfs / library

    # The same names split among three archives, mounted as one list.
    parts = [_pack(zelkor, work, f"many-part{k}", many[k::3]) for k in range(3)]
    mounted = _bench(build, "mounts", many_archive, *parts, names_file, reps)
    ratios["F1/M3"] = statistics.median(mounted["M3"]) / statistics.median(mounted["F1"])
    adapter = _bench(build, "physfs", archive, reps)
    ratios["RD/PA"] = statistics.median(adapter["PA"]) / statistics.median(adapter["RD"])

    figures = {
        "mounts": mounted,
        "physfs_adapter": adapter,
        "read_seconds": read,
        "median_seconds": median,
        "read_mb_per_s": {name: read["bytes"] / seconds / 1e6 for name, seconds in median.items()},
        "set": dict(sets, volumeSize=volume_size),
        "open": opened,
        "bytes_per_entry": opened["indexBytes"] / opened["entries"],
        "bytes_per_entry_with_names": opened["withNamesBytes"] / opened["entries"],
    }
    print(f"reader library: RD {figures['read_mb_per_s']['RD']:.0f} MB/s; RD/LD {ratios['RD/LD']:.2f} (target >= 0.90), "
          f"RD2/RD {ratios['RD2/RD']:.2f} (target >= 1.8), RD/PZ {ratios['RD/PZ']:.2f} (target >= 2), "
          f"RD/PZS {ratios['RD/PZS']:.2f} (PhysicsFS on stored files)")
    print(f"a set of {sets['volumes']} volumes (VolumeSize {volume_size}) opened and read whole: "
          f"RV {statistics.median(sets['RV']):.3f} s against one archive RA {statistics.median(sets['RA']):.3f} s, "
          f"RV/RA {ratios['RV/RA']:.3f} (target <= 1.03)")
    print(f"opening {entries} entries with the key file: open {statistics.median(opened['open']):.3f} s, "
          f"finding every path {statistics.median(opened['find']):.3f} s; PhysicsFS mounting a zip of the same "
          f"names {statistics.median(opened['PZmount']):.3f} s and opening each {statistics.median(opened['PZopen']):.3f} s "
          f"(PZopen/open {ratios['PZopen/open']:.1f}); memory {figures['bytes_per_entry']:.1f} bytes per entry, "
          f"{figures['bytes_per_entry_with_names']:.1f} with the names loaded (target <= 16 before names)")
    print(f"mount lists: finding every name through 3 mounted archives takes {ratios['F1/M3']:.2f} times finding it "
          f"in one archive of them all (target <= 1.2); PhysicsFS with the adapter reads every file in "
          f"{ratios['RD/PA']:.2f} times the library's time (target <= 1.1)")
    return ratios, figures
