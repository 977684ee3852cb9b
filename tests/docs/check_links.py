#!/usr/bin/env python3
"""Every relative link in README.md and docs/*.md names a file that exists.

Usage: check_links.py SOURCE_DIR. Prints each broken link as FILE:LINE and
exits 1 when there is one. Links inside code (fenced or indented blocks,
`spans`) are text, not links; web and mail addresses are not looked up.
"""
import pathlib
import re
import sys

INLINE = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")


def prose_lines(text):
    """(number, line) of the lines outside code blocks, code spans blanked."""
    fence = None
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        if fence:
            if stripped.startswith(fence):
                fence = None
            continue
        if stripped.startswith("```") or stripped.startswith("~~~"):
            fence = stripped[:3]
            continue
        indented = line.startswith("    ") or line.startswith("\t")
        in_indented = indented and (previous_blank or in_indented)
        previous_blank = not line.strip()
        if in_indented:
            continue
        yield number, CODE_SPAN.sub("", line)


def targets(line):
    found = INLINE.findall(line)
    reference = REFERENCE.match(line)
    if reference:
        found.append(reference.group(1))
    return found


def broken_links(page):
    for number, line in prose_lines(page.read_text(encoding="utf-8")):
        for target in targets(line):
            if re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target) or target.startswith("#"):
                continue
            path = target.split("#", 1)[0]
            if not (page.parent / path).exists():
                yield f"{page}:{number}: {target} names no file"


def main():
    root = pathlib.Path(sys.argv[1])
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    problems = [problem for page in pages for problem in broken_links(page)]
    for problem in problems:
        print(problem)
    print(f"{len(pages)} pages checked, {len(problems)} broken links")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
