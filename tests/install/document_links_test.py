#!/usr/bin/env python3
"""Every relative link of README.md and docs/*.md leads somewhere: the file (or
folder) exists inside the tree, and an #anchor names a heading of the Markdown
file it points at, spelt as GitHub spells heading anchors. Every page of docs/
is linked from the README, so that a reader who starts there finds it.

Usage: document_links_test.py SOURCE_DIR
       document_links_test.py --self-test    (the check finds planted faults)
"""
import os
import re
import sys
import tempfile
import urllib.parse

import document_check

FENCE = re.compile(r"^\s*(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
# From the bracket that ends a link's text, which may have started on an earlier line.
INLINE_LINK = re.compile(r"\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")


def prose_lines(text):
    """The lines outside fenced code blocks, with their numbers, code spans blanked."""
    inside = False
    for number, line in enumerate(text.split("\n"), 1):
        if FENCE.match(line):
            inside = not inside
            continue
        if not inside:
            yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def anchor_of(heading):
    """GitHub's anchor for a heading: lower case, markup and punctuation dropped
    (letters, digits, '-' and '_' kept), spaces as hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = text.replace("`", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    """The anchors of a Markdown file; a repeated heading gets -1, -2, ... as on GitHub."""
    seen = {}
    found = set()
    inside = False
    for line in open(path, encoding="utf-8").read().split("\n"):
        if FENCE.match(line):
            inside = not inside
            continue
        match = None if inside else HEADING.match(line)
        if match:
            base = anchor_of(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
    return found


def links(path):
    text = open(path, encoding="utf-8").read()
    for number, line in prose_lines(text):
        for match in INLINE_LINK.finditer(line):
            yield number, match.group(1)
        reference = REFERENCE.match(line)
        if reference:
            yield number, reference.group(1)


def check(root):
    """The faults of the tree at root, one line each."""
    root = os.path.realpath(root)
    pages = [os.path.join(root, "README.md")]
    docs = os.path.join(root, "docs")
    pages += sorted(os.path.join(docs, name) for name in os.listdir(docs) if name.endswith(".md"))
    faults = []
    cache = {}
    linked_from_readme = set()
    for page in pages:
        shown = os.path.relpath(page, root)
        for number, target in links(page):
            where = f"{shown}:{number}: {target}"
            if not target or re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue  # a web address, mail, or an empty link (Markdown's own business)
            file_part, _, anchor = target.partition("#")
            file_part = urllib.parse.unquote(file_part)
            destination = os.path.realpath(os.path.join(os.path.dirname(page), file_part)) if file_part else page
            if destination != root and not destination.startswith(root + os.sep):
                faults.append(f"{where}: leads out of the tree")
                continue
            if not os.path.exists(destination):
                faults.append(f"{where}: no such file")
                continue
            if page == pages[0]:
                linked_from_readme.add(destination)
            if not anchor:
                continue
            if not destination.endswith(".md") or os.path.isdir(destination):
                faults.append(f"{where}: an anchor into a file that is not Markdown")
                continue
            if destination not in cache:
                cache[destination] = anchors(destination)
            if urllib.parse.unquote(anchor) not in cache[destination]:
                faults.append(f"{where}: {os.path.relpath(destination, root)} has no heading #{anchor}")
    for page in pages[1:]:
        if page not in linked_from_readme:
            faults.append(f"README.md does not link {os.path.relpath(page, root)}")
    return faults


# Planted trees for the self-test: (files, the faults the check must report).
CASES = [
    ({"README.md": "[a](docs/a.md)\n", "docs/a.md": "# A\n"}, []),
    ({"README.md": "[a](docs/a.md) [b](docs/b.md)\n", "docs/a.md": "# A\n"},
     ["README.md:1: docs/b.md: no such file"]),
    ({"README.md": "[a](docs/a.md#what-diff-prints)\n", "docs/a.md": "## What `diff` prints\n"}, []),
    ({"README.md": "[a](docs/a.md#missing)\n", "docs/a.md": "# A\n"},
     ["README.md:1: docs/a.md#missing: docs/a.md has no heading #missing"]),
    ({"README.md": "[a](docs/a.md#x-1) [s](#top)\n# Top\n", "docs/a.md": "# X\n## X\n"}, []),
    ({"README.md": "[a](docs/a.md#x-2)\n", "docs/a.md": "# X\n## X\n"},
     ["README.md:1: docs/a.md#x-2: docs/a.md has no heading #x-2"]),
    ({"README.md": "[a](docs/a.md)\n", "docs/a.md": "# A\n", "docs/b.md": "[r](../README.md)\n"},
     ["README.md does not link docs/b.md"]),
    ({"README.md": "[a](docs/a.md) `[x](nowhere.md)`\n```\n[y](nowhere.md)\n```\n",
      "docs/a.md": "# A\n[w](https://example.org/x.md) ![p](../README.md)\n"}, []),
    ({"README.md": "[a](docs/a.md)\n", "docs/a.md": "[up](../../outside.md)\n"},
     ["docs/a.md:1: ../../outside.md: leads out of the tree"]),
    ({"README.md": "[a](docs/a.md)\n[ref]: docs/gone.md\n", "docs/a.md": "# A\n"},
     ["README.md:2: docs/gone.md: no such file"]),
    ({"README.md": "[a](docs/a.md) [h](#the-cache-is-its-owners)\n## The cache is its owner's\n",
      "docs/a.md": "# A\n"}, []),
    ({"README.md": "[a](docs/a.md), see [the\nnext page](docs/b.md#gone)\n", "docs/a.md": "# A\n"},
     ["README.md:2: docs/b.md#gone: no such file"]),
]


def self_test():
    failures = 0
    for number, (files, expected) in enumerate(CASES, 1):
        with tempfile.TemporaryDirectory() as scratch:
            root = os.path.join(scratch, "tree")
            for name, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
                with open(os.path.join(root, name), "w", encoding="utf-8") as out:
                    out.write(text)
            found = check(root)
            if found != expected:
                print(f"case {number}: found {found}, expected {expected}")
                failures += 1
    return failures


if __name__ == "__main__":
    sys.exit(document_check.run(__doc__.strip().split("\n\n")[1], check, self_test))
