#!/usr/bin/env python3
"""Keeps the documentation true to the tree and to the program.

  tools/check-docs.py [--root DIR] [--vesktest PATH]

1. Every relative link of README.md and docs/*.md, and every picture they
   show, points at a file or folder that exists; a link with an #anchor
   points at a heading of that Markdown file (the anchors GitHub makes:
   lower case, punctuation dropped, blanks as hyphens, -1, -2... for
   repeats). Links in code blocks and code spans are not links.
2. Every option that `vesktest --help` lists appears in docs/*.md as a
   word of its own, so that a new option cannot go in without words.

vesktest is the built program, build/linux/bin/vesktest under the root
unless --vesktest (or $VESKTEST) names another. Without it the check
fails, saying so: it never passes on what it could not look at.

Exit 0 when everything holds, 1 with one line per fault (file:line: ...).
"""
import argparse
import glob
import os
import re
import subprocess
import sys

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
OPTION = re.compile(r"^  (?:-\w, )?(--[a-z][a-z0-9-]*)")


def prose_lines(text):
    """The lines of a Markdown text with code blocks blanked and code spans
    removed, numbered from 1, so that only real links are seen."""
    out = []
    fenced = False
    previous_blank = True
    indented = False
    for number, line in enumerate(text.split("\n"), 1):
        if FENCE.match(line):
            fenced = not fenced
            out.append((number, ""))
            previous_blank = False
            continue
        if fenced:
            out.append((number, ""))
            continue
        blank = not line.strip()
        # An indented code block starts after a blank line and goes on
        # while lines stay indented (or blank).
        if line.startswith(("    ", "\t")) and (previous_blank or indented):
            indented = True
            out.append((number, ""))
            previous_blank = blank
            continue
        if not blank:
            indented = False
        out.append((number, CODE_SPAN.sub("", line)))
        previous_blank = blank
    return out


def slug(heading):
    """GitHub's anchor of a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text only
    text = text.replace("`", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        with open(path, encoding="utf-8") as f:
            text = f.read()
        fenced = False
        for line in text.split("\n"):
            if FENCE.match(line):
                fenced = not fenced
                continue
            m = None if fenced else HEADING.match(line)
            if m:
                base = slug(m.group(2))
                n = seen.get(base, 0)
                seen[base] = n + 1
                found.add(base if n == 0 else "%s-%d" % (base, n))
        cache[path] = found
    return cache[path]


def check_links(root, files, faults):
    for path in files:
        rel = os.path.relpath(path, root)
        with open(path, encoding="utf-8") as f:
            lines = prose_lines(f.read())
        for number, line in lines:
            for m in LINK.finditer(line):
                target = m.group(1)
                if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                    continue  # http:, https:, mailto:: not the tree's
                file_part, _, anchor = target.partition("#")
                dest = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) \
                    if file_part else path
                where = "%s:%d" % (rel, number)
                if not os.path.exists(dest):
                    faults.append("%s: link to %s: no such file" % (where, target))
                    continue
                if not os.path.realpath(dest).startswith(os.path.realpath(root) + os.sep):
                    faults.append("%s: link to %s: outside the repository" % (where, target))
                    continue
                if anchor:
                    if not dest.endswith(".md") or os.path.isdir(dest):
                        faults.append("%s: link to %s: an anchor in a file that is not "
                                      "Markdown" % (where, target))
                    elif anchor not in anchors(dest):
                        faults.append("%s: link to %s: %s has no heading #%s"
                                      % (where, target, os.path.relpath(dest, root), anchor))


def check_options(root, program, docs, faults):
    if not os.access(program, os.X_OK):
        faults.append("%s: no vesktest to ask for its options; build it first "
                      "(cmake --build build/linux --target vesktest) or name it with "
                      "--vesktest" % program)
        return
    run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60)
    options = [m.group(1) for m in map(OPTION.match, run.stdout.splitlines()) if m]
    if run.returncode != 0 or not options:
        faults.append("%s --help: exit code %d and %d options: not a help text"
                      % (program, run.returncode, len(options)))
        return
    text = ""
    for path in docs:
        with open(path, encoding="utf-8") as f:
            text += f.read() + "\n"
    for option in options:
        if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text):
            faults.append("docs/: the option %s of vesktest --help appears in no guide"
                          % option)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--root", default=here)
    parser.add_argument("--vesktest", default=os.environ.get("VESKTEST"))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    program = args.vesktest or os.path.join(root, "build", "linux", "bin", "vesktest")
    docs = sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    readme = os.path.join(root, "README.md")
    faults = []
    if not os.path.exists(readme) or not docs:
        faults.append("%s: no README.md or no docs/*.md to check" % root)
    else:
        check_links(root, [readme] + docs, faults)
        check_options(root, program, docs, faults)
    for fault in faults:
        print("check-docs: " + fault)
    if faults:
        return 1
    print("check-docs: %d files, their links and every option of vesktest --help: ok"
          % (len(docs) + 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
