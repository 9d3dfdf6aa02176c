#!/usr/bin/env python3
"""zelkor-inspect report, read as a browser and an HTML parser read it.

ParseTest parses pages with html5lib and checks that every parse error is
absent and that the totals and tables say what `list --json` of the same
archive says: the example archive, a generated one with awkward names, with
patterns, and without a key file. BrowserTest opens the example's page in
headless Chromium (scripts/screenshot) and checks that the picture shows the
map's colours and that the browser logged no console message.

Usage: report_page_test.py BUILD_DIR SOURCE_DIR [unittest arguments]
"""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from xml.sax.saxutils import quoteattr

BUILD, SOURCE = (os.path.abspath(arg) for arg in sys.argv[1:3])
ZELKOR = os.path.join(BUILD, "zelkor")
INSPECT = os.path.join(BUILD, "zelkor-inspect")
SVG = "{http://www.w3.org/2000/svg}"
TILE_LIMIT = 10000
LARGEST = 20
INCOMPRESSIBLE_FROM = 64 * 1024
INCOMPRESSIBLE_ROWS = 100
EXTENSION_ROWS = 50
# The map's colour classes, as the page's legend gives them.
COLOURS = ["#1a9850", "#91cf60", "#d9ef8b", "#fee08b", "#fc8d59", "#d73027"]


def run(args, cwd, status=0):
    done = subprocess.run(args, cwd=cwd, capture_output=True, timeout=120)
    if done.returncode != status:
        raise AssertionError(f"{args} ended with {done.returncode}:\n{done.stderr.decode(errors='replace')}")
    return done.stdout.decode()


def printable(name):
    """A name as the tool prints it: control characters as \\xNN per byte."""
    out = []
    for char in name:
        point = ord(char)
        if point < 0x20 or point == 0x7F or 0x80 <= point <= 0x9F:
            out.append("".join(f"\\x{byte:02x}" for byte in char.encode()))
        else:
            out.append(char)
    return "".join(out)


def extension(name):
    last = name.replace("\\", "/").rsplit("/", 1)[-1].encode("utf-8", "surrogateescape")
    dot = last.rfind(b".")
    if dot <= 0 or dot + 1 == len(last) or len(last) - dot - 1 > 16:
        return b""
    return last[dot + 1:].lower()


def ratio_class(raw, stored):
    if 4 * stored < raw:
        return 0
    if 2 * stored < raw:
        return 1
    if 4 * stored < 3 * raw:
        return 2
    if 10 * stored < 9 * raw:
        return 3
    if stored < raw:
        return 4
    return 5


def leaders(entries, limit):
    return sorted(entries, key=lambda e: (-e["storedSize"], e["index"]))[:limit]


class Page:
    """A report page parsed by html5lib; any parse error fails the test."""

    def __init__(self, test, path):
        try:
            import html5lib
        except ImportError as error:
            test.fail(f"html5lib is missing ({error}); scripts/bootstrap python3-html5lib installs it "
                      "for /usr/bin/python3, and make test does")
        parser = html5lib.HTMLParser(namespaceHTMLElements=False)
        with open(path, "rb") as page:
            self.raw = page.read()
        self.document = parser.parse(self.raw)
        test.assertEqual([str(error) for error in parser.errors], [], f"parse errors in {path}")

    def element(self, element_id):
        for element in self.document.iter():
            if element.get("id") == element_id:
                return element
        return None

    def rows(self, table_id):
        """The body rows of a table: (attributes, [(data-value, text)...])."""
        table = self.element(table_id)
        if table is None:
            return None
        rows = []
        for row in table.iter("tr"):
            cells = row.findall("td")
            if cells:
                rows.append((row.attrib, [(cell.get("data-value"), "".join(cell.itertext())) for cell in cells]))
        return rows

    def tiles(self):
        return list(self.document.iter(SVG + "rect"))


class ReportCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zelkor-report-")
        self.addCleanup(shutil.rmtree, self.dir)

    def build_example(self):
        shutil.copytree(os.path.join(SOURCE, "examples"), os.path.join(self.dir, "examples"))
        os.makedirs(os.path.join(self.dir, "build", "demo"))
        run([ZELKOR, "examples/generate.xml", "examples/pack.xml"], self.dir)
        run([ZELKOR, "build/demo/assets.xml"], self.dir)
        return "build/demo/assets.pak"

    def report(self, archive, *args, status=0):
        page = os.path.join(self.dir, "page.html")
        run([INSPECT, "report", archive, "-o", page, *args], self.dir, status)
        return Page(self, page)

    def listing(self, archive, *args):
        return json.loads(run([INSPECT, "list", archive, "--json", *args], self.dir))


class ParseTest(ReportCase):
    def check_against_list(self, page, listing, names=True):
        entries = listing["entries"]
        stored_total = sum(e["storedSize"] for e in entries)
        raw_total = sum(e["rawSize"] for e in entries)
        label = (lambda e: printable(e["name"])) if names else (lambda e: e["nameHash"])

        totals = {attributes["data-key"]: cells[0] for attributes, cells in page.rows("totals")}
        self.assertEqual(int(totals["entries"][0]), listing["totals"]["entries"])
        self.assertEqual(int(totals["rawBytes"][0]), listing["totals"]["rawBytes"])
        self.assertEqual(int(totals["storedBytes"][0]), listing["totals"]["storedBytes"])
        if listing["totals"]["ratio"] is None:
            self.assertEqual(totals["ratio"][0], "")
        else:
            self.assertAlmostEqual(float(totals["ratio"][0]), listing["totals"]["ratio"], places=6)
            self.assertEqual(totals["ratio"][1], f"{100 * listing['totals']['ratio']:.1f}%")
        self.assertEqual(int(totals["storedRaw"][0]), sum(e["method"] == "raw" for e in entries))
        hashes = {}
        for e in entries:
            hashes[e["nameHash"]] = hashes.get(e["nameHash"], 0) + 1
        shared = [count for count in hashes.values() if count > 1]
        self.assertEqual(int(totals["sharedNameHashes"][0]), len(shared))
        if shared:
            self.assertIn(f"held by {sum(shared):,} entries", totals["sharedNameHashes"][1])

        # By extension: the largest first, ties by extension; the rest in one row.
        extensions = page.rows("extensions")
        if not names:
            self.assertIsNone(extensions)
            self.assertIsNotNone(page.element("names-unknown"))
        else:
            self.assertIsNone(page.element("names-unknown"))
            groups = {}
            for e in entries:
                group = groups.setdefault(extension(e["name"]), [0, 0, 0])
                group[0] += 1
                group[1] += e["rawSize"]
                group[2] += e["storedSize"]
            ordered = sorted(groups.items(), key=lambda item: (-item[1][2], item[0]))
            expected = [("." + key.decode(), sizes) for key, sizes in ordered[:EXTENSION_ROWS]]
            if len(ordered) > EXTENSION_ROWS:
                rest = [sum(sizes[i] for _, sizes in ordered[EXTENSION_ROWS:]) for i in range(3)]
                expected.append(("*", rest))
            self.assertEqual([(attributes["data-key"], [int(cells[i][0]) for i in (1, 2, 3)])
                              for attributes, cells in extensions],
                             [(key, sizes) for key, sizes in expected])
            for attributes, cells in extensions:
                self.assertAlmostEqual(float(cells[5][0]), int(cells[3][0]) / stored_total, places=6)

        largest = page.rows("largest")
        self.assertEqual([(int(cells[0][0]), cells[1][1], int(cells[2][0]), int(cells[3][0]), cells[5][1])
                          for _, cells in largest],
                         [(e["index"], label(e), e["rawSize"], e["storedSize"], e["method"])
                          for e in leaders(entries, LARGEST)])

        unshrunk = [e for e in entries if e["method"] == "raw" and e["rawSize"] > INCOMPRESSIBLE_FROM]
        table = page.rows("incompressible")
        if not unshrunk:
            self.assertIsNone(table)
            self.assertIsNotNone(page.element("incompressible-none"))
        else:
            element = page.element("incompressible")
            self.assertEqual(int(element.get("data-files")), len(unshrunk))
            self.assertEqual(int(element.get("data-bytes")), sum(e["storedSize"] for e in unshrunk))
            listed = [(int(cells[0][0]), cells[1][1], int(cells[2][0])) for attributes, cells in table
                      if attributes.get("data-key") != "*"]
            self.assertEqual(listed, [(e["index"], label(e), e["storedSize"])
                                      for e in leaders(unshrunk, INCOMPRESSIBLE_ROWS)])

        # The map: bounded, every rectangle titled, and every entry that holds a
        # thousandth of the stored bytes drawn as itself, in its ratio's colour.
        tiles = page.tiles()
        self.assertLessEqual(len(tiles), TILE_LIMIT)
        titles = {}
        for tile in tiles:
            title = tile.find(SVG + "title")
            self.assertIsNotNone(title)
            if "f" in tile.get("class").split():
                titles.setdefault(title.text.rsplit(", ", 2)[0], []).append(tile.get("class"))
        for e in entries:
            if e["storedSize"] * 1000 >= stored_total and e["storedSize"] > 0:
                name = printable(e["name"].replace("\\", "/").strip("/")) if names else e["nameHash"]
                self.assertIn(name, titles)
                self.assertIn(f"f r{ratio_class(e['rawSize'], e['storedSize'])}", titles[name])
        return tiles

    def test_the_example_archive(self):
        archive = self.build_example()
        page = self.report(archive)
        tiles = self.check_against_list(page, self.listing(archive))
        self.assertGreater(len(tiles), 5)
        # Nothing leaves the page, and nothing runs in it.
        for outside in (b"<script", b"<link", b"src=", b"href=", b"url(", b"@import", b"http:", b"https:"):
            self.assertNotIn(outside, page.raw)

    def test_patterns_and_no_key_file(self):
        archive = self.build_example()
        self.check_against_list(self.report(archive, "*.png", "data/levels/*"),
                                self.listing(archive, "*.png", "data/levels/*"))
        self.check_against_list(self.report(archive, "--no-key"), self.listing(archive, "--no-key"), names=False)

    def test_a_generated_archive(self):
        # A seeded tree: 70 extensions (more than the table shows), text that
        # compresses, noise that does not (some of it over 64 KiB), empty files,
        # and names that HTML and XML must escape, or that hold controls.
        rng = random.Random(26)
        os.makedirs(os.path.join(self.dir, "src"))
        folders = ["", "textures/", "textures/ui/", "levels/", "levels/deep/er/", "sound/", "a&b <c>/", "caf\u00e9/"]
        files = []
        for i in range(400):
            kind = rng.choice(["text", "text", "noise", "big-noise", "empty"])
            size = {"text": rng.randrange(100, 40000), "noise": rng.randrange(10, 60000),
                    "big-noise": rng.randrange(65537, 200000), "empty": 0}[kind]
            if kind == "text":
                words = [rng.choice(["alpha", "beta", "gamma", "delta", "omega"]) for _ in range(size // 5 + 1)]
                content = " ".join(words).encode()[:size]
            else:
                content = rng.randbytes(size)
            source = f"src/{i}.bin"
            with open(os.path.join(self.dir, source), "wb") as out:
                out.write(content)
            name = f"{rng.choice(folders)}file {i}\"'.e{rng.randrange(70)}"
            if i % 97 == 5:
                name = f"tab\there {i}.txt"
            files.append((name, source))
        files.append(("textures/ui/twice.png", "src/1.bin"))
        files.append(("TEXTURES\\UI\\twice.png", "src/1.bin"))
        script = '<ScriptFile><CreateOrvanPack ArchivePath="gen.pak" BuildKeyfile="true">\n'
        for name, source in files:
            archived = quoteattr(name).replace("\t", "&#9;")
            script += f"<File ArchivedPath={archived}><![CDATA[{source}]]></File>\n"
        script += "</CreateOrvanPack></ScriptFile>\n"
        with open(os.path.join(self.dir, "gen.xml"), "w", encoding="utf-8") as out:
            out.write(script)
        # The two spellings of twice.png share a name hash, which the archiver warns about.
        run([ZELKOR, "gen.xml"], self.dir, status=1)
        listing = self.listing("gen.pak")
        self.assertGreater(len({extension(e["name"]) for e in listing["entries"]}), EXTENSION_ROWS)
        self.check_against_list(self.report("gen.pak"), listing)


def decode_png(data):
    """The pixels of an 8-bit, non-interlaced RGB or RGBA PNG, as RGB tuples."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.setdefault(kind, []).append(data[at + 8:at + 8 + length])
        at += 12 + length
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"][0])
    assert depth == 8 and colour in (2, 6) and interlace == 0, f"unexpected PNG layout {depth} {colour}"
    channels = 3 if colour == 2 else 4
    stride = width * channels
    raw = zlib.decompress(b"".join(chunks[b"IDAT"]))
    previous = bytearray(stride)
    pixels = []
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - channels] if x >= channels else 0
            up = previous[x]
            corner = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[x] = (line[x] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        pixels.extend(tuple(line[x:x + 3]) for x in range(0, stride, channels))
        previous = line
    return width, height, pixels


class BrowserTest(ReportCase):
    def test_the_page_shows_its_colours_without_errors(self):
        if shutil.which("chromium") is None:
            self.fail("chromium is missing; scripts/bootstrap chromium installs it, and make test does")
        archive = self.build_example()
        run([INSPECT, "report", archive, "-o", "page.html"], self.dir)
        page = Page(self, os.path.join(self.dir, "page.html"))
        start = time.monotonic()
        shot = subprocess.run([os.path.join(SOURCE, "scripts", "screenshot"), "page.html", "shot.png", "1280,1100"],
                              cwd=self.dir, capture_output=True, timeout=60)
        seconds = time.monotonic() - start
        log = shot.stderr.decode(errors="replace")
        self.assertEqual(shot.returncode, 0, log)
        self.assertLess(seconds, 10, "chromium took too long")
        # The page runs no script and loads nothing: any console line is a fault
        # (a blocked load, a policy violation).
        console = [line for line in log.splitlines() if "CONSOLE" in line or "net::ERR" in line]
        self.assertEqual(console, [])

        with open(os.path.join(self.dir, "shot.png"), "rb") as png:
            width, height, pixels = decode_png(png.read())
        self.assertEqual((width, height), (1280, 1100))
        counts = {}
        for pixel in pixels:
            counts[pixel] = counts.get(pixel, 0) + 1
        self.assertGreater(len(counts), 20, "the picture is blank")

        def seen(colour):
            want = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
            return sum(count for pixel, count in counts.items()
                       if all(abs(a - b) <= 3 for a, b in zip(pixel, want)))

        # Every colour of a file drawn large enough shows on the picture.
        drawn = {int(cls[1:]) for tile in page.tiles() for cls in tile.get("class").split()
                 if cls.startswith("r") and "f" in tile.get("class").split()
                 and float(tile.get("width")) * float(tile.get("height")) > 2000}
        self.assertGreaterEqual(len(drawn), 2)
        for index in drawn:
            self.assertGreater(seen(COLOURS[index]), 1000, f"colour {COLOURS[index]} is missing from the picture")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
