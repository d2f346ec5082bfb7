#!/usr/bin/env python3
"""Checks of the repository itself, run by the test command (native ctest).

  check_repository.py links        every relative link and image in README.md
                                   and docs/ names a file or folder that exists
  check_repository.py text         every tracked source file is text: no NUL
                                   byte (C and C++ sources and headers,
                                   resource scripts, CMake files, Markdown,
                                   text files, shell and Python scripts)
  check_repository.py fa2-help FA2 the blocks of docs/fa2.md are what
                                   "FA2 help COMMAND" prints

Prints one line per problem ("FILE:LINE: what") and exits 1 when there is
any, 0 otherwise.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TEXT_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".rc", ".txt", ".md", ".sh", ".py", ".cmake")


def tracked_files():
    """The files git tracks, or every file outside build folders."""
    try:
        out = subprocess.run(["git", "-C", ROOT, "ls-files", "-z"], check=True,
                             capture_output=True).stdout
        return [name for name in out.decode("utf-8").split("\0") if name]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for folder, dirs, names in os.walk(ROOT):
            dirs[:] = [d for d in dirs if d != ".git" and not d.startswith("build")]
            files += [os.path.relpath(os.path.join(folder, n), ROOT) for n in names]
        return files


def is_script(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read(2) == b"#!"


def check_text():
    problems = []
    for path in tracked_files():
        name = os.path.basename(path)
        if not (path.endswith(TEXT_SUFFIXES) or name == "CMakeLists.txt" or is_script(path)):
            continue
        with open(os.path.join(ROOT, path), "rb") as f:
            data = f.read()
        if b"\0" in data:
            line = data[:data.index(b"\0")].count(b"\n") + 1
            problems.append(f"{path}:{line}: a NUL byte: the file is not text")
    return problems


# [text](target) and ![alt](target), with an optional title; <img src="...">
# and <a href="...">.
MARKDOWN_LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HTML_LINK = re.compile(r"<(?:img|a)\s[^>]*(?:src|href)=\"([^\"]+)\"")


def link_targets(text):
    """(line, target) of every link outside code blocks and code spans."""
    in_block = False
    for number, line in enumerate(text.split("\n"), 1):
        if line.lstrip().startswith("```"):
            in_block = not in_block
            continue
        if in_block or line.startswith("    "):
            continue
        line = re.sub(r"`[^`]*`", "", line)
        for pattern in (MARKDOWN_LINK, HTML_LINK):
            for match in pattern.finditer(line):
                yield number, match.group(1)


def check_links():
    problems = []
    pages = [p for p in tracked_files()
             if p == "README.md" or (p.startswith("docs/") and p.endswith(".md"))]
    for page in pages:
        with open(os.path.join(ROOT, page), encoding="utf-8") as f:
            text = f.read()
        for line, target in link_targets(text):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target) or target.startswith("#"):
                continue  # another site, mail, or a place on the same page
            path = target.split("#")[0].split("?")[0]
            resolved = os.path.normpath(os.path.join(ROOT, os.path.dirname(page), path))
            if not os.path.exists(resolved):
                problems.append(f"{page}:{line}: broken link: {target}")
    return problems


def check_fa2_help(fa2):
    problems = []
    page = "docs/fa2.md"
    with open(os.path.join(ROOT, page), encoding="utf-8") as f:
        lines = f.read().split("\n")
    seen = set()
    for i, line in enumerate(lines):
        match = re.match(r"^<!-- fa2 help ?([a-z-]*) -->$", line)
        if not match:
            continue
        command = match.group(1)
        seen.add(command)
        if i + 1 >= len(lines) or lines[i + 1] != "```text":
            problems.append(f"{page}:{i + 1}: no ```text block after the marker")
            continue
        end = lines.index("```", i + 2)
        block = "\n".join(lines[i + 2:end]) + "\n"
        args = [fa2, "help"] + ([command] if command else [])
        printed = subprocess.run(args, capture_output=True).stdout.decode("utf-8")
        if printed.replace("\r\n", "\n") != block:
            problems.append(f"{page}:{i + 1}: differs from '{' '.join(['fa2'] + args[1:])}'"
                            " (copy the tool's text into the page)")
    listed = subprocess.run([fa2, "help"], capture_output=True).stdout.decode("utf-8")
    for command in re.findall(r"^  ([a-z][a-z-]+)  ", listed, re.M):
        if command != "help" and command not in seen:
            problems.append(f"{page}:1: no block of 'fa2 help {command}'")
    return problems


def main(argv):
    checks = {"links": check_links, "text": check_text}
    if len(argv) == 3 and argv[1] == "fa2-help":
        problems = check_fa2_help(argv[2])
    elif len(argv) == 2 and argv[1] in checks:
        problems = checks[argv[1]]()
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
