#!/usr/bin/env python3
"""Checks the project's documentation as a reader meets it.

- Every relative link and image in README.md, SECURITY.md, CHANGELOG.md and
  docs/ (Markdown, outside code) leads to a file or folder that exists, and
  a link with "#anchor" into a Markdown file to one of its headings, named
  as GitHub names them, or to an element's id there.
- Every "bash PATH" command shown in code in README.md and docs/ names a
  script that exists and that bash can parse, and README.md still shows
  the commands that set up and start Tavik on the demo site and that set
  up and run every test.

usage: check_docs.py [TOP]     (default: the repository this file is in)
       check_docs.py --self-test
Prints each fault on a line of its own and exits 1 when there is any.
"""

import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import urllib.parse

# The commands the README must show: set up and start on the demo site (one
# of the two), and set up and run every test.
README_START_COMMANDS = ("bash scripts/serve", "bash scripts/demo")
README_TEST_COMMAND = "bash scripts/test"

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)[ \t]*#*[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1", re.S)
# [text](target) and ![alt](target); the text may hold one level of
# brackets (an image inside a link).
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^\s()]+(?:\([^\s()]*\)[^\s()]*)*)(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(\S+)")
HTML_ID = re.compile(r"<[a-zA-Z][^>]*\s(?:id|name)=[\"']([^\"']+)[\"']")
BASH_COMMAND = re.compile(r"(?<![\w/.-])bash\s+([A-Za-z0-9_][\w./-]*/[\w./-]+)")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def heading_text(raw):
    """The text GitHub renders for a heading's Markdown."""
    pieces = []
    at = 0
    for match in CODE_SPAN.finditer(raw):
        pieces.append(("markdown", raw[at:match.start()]))
        pieces.append(("code", match.group(2).strip()))
        at = match.end()
    pieces.append(("markdown", raw[at:]))
    text = []
    for kind, piece in pieces:
        if kind == "markdown":
            piece = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", piece)
            piece = re.sub(r"<[^>]+>", "", piece)
            piece = re.sub(r"\*+", "", piece)
            piece = re.sub(r"(?<!\w)_+|_+(?!\w)", "", piece)
        text.append(piece)
    return "".join(text)


def slug(text):
    """GitHub's anchor for a heading's text: lower case, every character
    but letters, digits, marks, "_", "-" and spaces dropped, spaces made
    hyphens."""
    kept = []
    for c in text.lower():
        category = unicodedata.category(c)
        if c in " -_" or category[0] in "LNM":
            kept.append("-" if c == " " else c)
    return "".join(kept)


class Document:
    """A Markdown file read as GitHub renders it, as far as links go."""

    def __init__(self, path):
        self.path = path
        with open(path, encoding="utf-8") as f:
            self.lines = f.read().split("\n")
        self.anchors = set()
        self.links = []     # (line number, target)
        self.code = []      # (line number, text) of code, inline or block
        self.counts = {}
        paragraph = []      # (line number, line) of the prose block so far
        fence = None
        previous_blank = True
        in_indented = False
        for number, line in enumerate(self.lines, 1):
            if fence:
                if re.match(r"^ {0,3}" + re.escape(fence[0]) + "{" + str(len(fence)) + r",}\s*$", line):
                    fence = None
                else:
                    self.code.append((number, line))
                continue
            opening = FENCE.match(line)
            if opening:
                self.read_prose(paragraph)
                fence = opening.group(1)
                continue
            blank = line.strip() == ""
            if not blank and line.startswith("    ") and (previous_blank or in_indented):
                self.read_prose(paragraph)
                in_indented = True
                self.code.append((number, line))
                continue
            in_indented = in_indented and blank
            previous_blank = blank
            for match in HTML_ID.finditer(line):
                self.anchors.add(match.group(1))
            heading = HEADING.match(line)
            if heading:
                self.read_prose(paragraph)
                anchor = slug(heading_text(heading.group(2)))
                seen = self.counts.get(anchor, 0)
                self.counts[anchor] = seen + 1
                self.anchors.add(anchor if seen == 0 else f"{anchor}-{seen}")
                self.read_prose([(number, heading.group(2))])
            elif blank:
                self.read_prose(paragraph)
            else:
                paragraph.append((number, line))
        self.read_prose(paragraph)

    def read_prose(self, paragraph):
        """Takes the links and code spans of one block of prose, whose lines
        a link or a code span may run across; empties the block."""
        if not paragraph:
            return
        text = "\n".join(line for _, line in paragraph)
        starts = []
        at = 0
        for number, line in paragraph:
            starts.append((at, number))
            at += len(line) + 1

        def line_of(offset):
            return [number for start, number in starts if start <= offset][-1]

        for match in CODE_SPAN.finditer(text):
            self.code.append((line_of(match.start()), match.group(2).replace("\n", " ")))
        # Code spans hide what looks like links; blanks keep the offsets.
        prose = CODE_SPAN.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)
        for match in INLINE_LINK.finditer(prose):
            self.links.append((line_of(match.start()), match.group(1).strip("<>")))
        for offset, line in ((start, prose[start:].split("\n", 1)[0]) for start, _ in starts):
            definition = REFERENCE_DEFINITION.match(line)
            if definition:
                self.links.append((line_of(offset), definition.group(1).strip("<>")))
        paragraph.clear()


def check_links(top, files, documents):
    faults = []
    for path in files:
        document = documents[path]
        shown = os.path.relpath(path, top)
        for number, target in document.links:
            if SCHEME.match(target) or target.startswith("//"):
                continue
            file_part, _, anchor = target.partition("#")
            file_part = urllib.parse.unquote(file_part)
            if file_part:
                destination = os.path.normpath(os.path.join(os.path.dirname(path), file_part))
            else:
                destination = path
            where = f"{shown}:{number}: link {target}"
            if not os.path.exists(destination):
                faults.append(f"{where}: no such file")
                continue
            if not anchor or not destination.endswith(".md"):
                continue
            if destination not in documents:
                documents[destination] = Document(destination)
            if urllib.parse.unquote(anchor) not in documents[destination].anchors:
                faults.append(f"{where}: no heading with that anchor in {os.path.relpath(destination, top)}")
    return faults


def check_commands(top, readme, guides, documents):
    faults = []
    for path in [readme] + guides:
        shown = os.path.relpath(path, top)
        for number, code in documents[path].code:
            for match in BASH_COMMAND.finditer(code):
                script = os.path.join(top, match.group(1))
                where = f"{shown}:{number}: bash {match.group(1)}"
                if not os.path.isfile(script):
                    faults.append(f"{where}: no such script")
                    continue
                parsed = subprocess.run(["bash", "-n", script], capture_output=True, text=True)
                if parsed.returncode != 0:
                    faults.append(f"{where}: bash cannot parse it: {parsed.stderr.strip()}")
    shown_code = "\n".join(code for _, code in documents[readme].code)

    def shows(command):
        return re.search(re.escape(command) + r"(?![\w./-])", shown_code) is not None

    if not any(shows(command) for command in README_START_COMMANDS):
        faults.append(f"README.md: shows neither {' nor '.join(README_START_COMMANDS)}")
    if not shows(README_TEST_COMMAND):
        faults.append(f"README.md: does not show {README_TEST_COMMAND}")
    return faults


def check(top, counts=None):
    readme = os.path.join(top, "README.md")
    guides = []
    for folder, _, names in os.walk(os.path.join(top, "docs")):
        guides += [os.path.join(folder, name) for name in names if name.endswith(".md")]
    guides.sort()
    files = [readme] + [os.path.join(top, name) for name in ("SECURITY.md", "CHANGELOG.md")
                        if os.path.exists(os.path.join(top, name))] + guides
    documents = {path: Document(path) for path in files}
    if counts is not None:
        counts["files"] = len(files)
        counts["links"] = sum(len(documents[path].links) for path in files)
    return check_links(top, files, documents) + check_commands(top, readme, guides, documents)


def self_test():
    """The checker on a small tree whose faults are known."""
    files = {
        "scripts/serve": "echo serve\n",
        "scripts/test": "echo test\n",
        "scripts/broken": "if then\n",
        "docs/images/shot.png": "",
        "README.md": """# Tavik
![shot](docs/images/shot.png)

    bash scripts/serve
    bash scripts/test

[guide](docs/guide.md#the-serve-command-and-its-options) and
[missing heading](docs/guide.md#nothing-here), [missing file](docs/gone.md),
[web](https://example.org/x), [mail](mailto:a@b.c), [self](#tavik),
`[not a link](nowhere.md)`, [folder](docs/images/), [encoded](docs/guide%2Emd).
A [link that
wraps](docs/wrapped.md) and a command that wraps: `bash
scripts/wrapped`.
""",
        "docs/guide.md": """# A guide
## The `serve` command, and its options!
## Café & crème
## Twice
## Twice
<a id="kept-name"></a>
```
[inside a fence](fenced.md)
bash scripts/fenced-but-checked
```
Run `bash scripts/broken`, then `bash scripts/absent --flag`.
[1](#café--crème) [2](#twice-1) [3](#twice-2) [4](#kept-name) [5](../README.md#tavik)
[6](#a-guide)

    [inside an indented block](indented.md)
""",
    }
    expected = [
        "README.md:8: link docs/guide.md#nothing-here: no heading with that anchor in docs/guide.md",
        "README.md:8: link docs/gone.md: no such file",
        "README.md:11: link docs/wrapped.md: no such file",
        "README.md:12: bash scripts/wrapped: no such script",
        "docs/guide.md:12: link #twice-2: no heading with that anchor in docs/guide.md",
        "docs/guide.md:9: bash scripts/fenced-but-checked: no such script",
        "docs/guide.md:11: bash scripts/broken: bash cannot parse it",
        "docs/guide.md:11: bash scripts/absent: no such script",
    ]
    with tempfile.TemporaryDirectory() as top:
        for name, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(top, name)), exist_ok=True)
            with open(os.path.join(top, name), "w", encoding="utf-8") as f:
                f.write(content)
        faults = check(top)
        # Without the README's commands, both are missed.
        with open(os.path.join(top, "README.md"), "w", encoding="utf-8") as f:
            f.write("# Tavik\nRun `bash scripts/tests`.\n")
        bare = check(top)
    failures = []
    for want in expected:
        if not any(fault.startswith(want) for fault in faults):
            failures.append(f"expected a fault: {want}")
    for fault in faults:
        if not any(fault.startswith(want) for want in expected):
            failures.append(f"unexpected fault: {fault}")
    for want in ("README.md:2: bash scripts/tests: no such script",
                 "README.md: shows neither", "README.md: does not show bash scripts/test"):
        if not any(fault.startswith(want) for fault in bare):
            failures.append(f"expected a fault without the README's commands: {want}")
    for line in failures:
        print(f"check_docs self-test: {line}")
    if not failures:
        print("check_docs self-test: every planted fault found, nothing else")
    return 1 if failures else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    top = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.dirname(os.path.abspath(__file__))))
    counts = {}
    faults = check(top, counts)
    for fault in faults:
        print(fault)
    if not faults:
        print(f"check_docs: {counts['links']} links in {counts['files']} pages, and every "
              "command shown, lead somewhere")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
