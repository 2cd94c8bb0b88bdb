#!/usr/bin/env python3
"""Checks the manual pages against the programs: the options (and for vlxini
the commands) that a page's synopsis and lists name are the ones the
program's --help lists, and a man-page linter (mandoc -T lint), where one is
installed, finds nothing in them.

usage: test-man-pages.py MAN_DIR PROGRAM..."""

import os
import re
import shutil
import subprocess
import sys


MACRO = re.compile(r"[A-Z][a-z]{1,2}")


def help_names(program):
    """The options and commands that the usage of program lists: its usage
    lines ("Usage: NAME ...", "  NAME get ...") and option lines ("  -h, --help")
    up to the two spaces before their description."""
    text = subprocess.run([program, "--help"], check=True, capture_output=True, text=True).stdout
    name = re.escape(os.path.basename(program))
    options, commands = set(), set()
    for line in text.splitlines():
        usage = re.match(r"(?:Usage:)?\s*" + name + r"\s+(.*?)(?:\s{2,}|$)", line)
        option = re.match(r"\s+(-.*?)(?:\s{2,}|$)", line)
        listed = usage or option
        if not listed:
            continue
        words = [w for w in re.split(r"[\s,|\[\]]+", listed.group(1)) if w]
        options |= {w for w in words if re.fullmatch(r"--?[\w?][\w-]*", w)}
        if usage and words and re.fullmatch(r"[a-z]+", words[0]):
            commands.add(words[0])
    return options, commands


def flags(words):
    """The options a line of macros names: "Fl s", "Fl h | -help"."""
    found = set()
    i = 0
    while i + 1 < len(words):
        if words[i] == "Fl" and not MACRO.fullmatch(words[i + 1]) and words[i + 1] != "|":
            found.add("-" + words[i + 1])
            i += 2
            while i + 1 < len(words) and words[i] == "|" and not MACRO.fullmatch(words[i + 1]):
                found.add("-" + words[i + 1])
                i += 2
        else:
            i += 1
    return found


def page_names(page):
    """The options and commands of a page's synopsis and of its tagged lists."""
    options, commands = set(), set()
    section = None
    with open(page, encoding="utf-8") as source:
        for line in source:
            words = line[1:].split() if line.startswith(".") else []
            if words[:1] == ["Sh"]:
                section = " ".join(words[1:])
            elif section == "SYNOPSIS" or words[:1] == ["It"]:
                options |= flags(words)
                commands |= {words[i + 1] for i in range(len(words) - 1) if words[i] == "Cm"}
    return options, commands


def lint(lint_program, pages, man_dir):
    """What the linter finds, but that a page refers to another of these
    pages, which it cannot find before they are installed."""
    result = subprocess.run([lint_program, "-T", "lint", "-W", "style"] + pages, capture_output=True, text=True)
    ours = {os.path.basename(p)[:-2] for p in os.listdir(man_dir) if p.endswith(".1")}
    found = [line for line in (result.stdout + result.stderr).splitlines()
             if not any(line.endswith(f"referenced manual not found: Xr {name} 1") for name in ours)]
    return found


def main():
    man_dir, programs = sys.argv[1], sys.argv[2:]
    failed = False
    for program in programs:
        name = os.path.basename(program)
        page = os.path.join(man_dir, name + ".1")
        listed, page_listed = help_names(program), page_names(page)
        for kind, in_help, in_page in zip(("options", "commands"), listed, page_listed):
            if in_help != in_page:
                print(f"test-man-pages: {name}.1 and {name} --help list different {kind}: "
                      f"only in --help {sorted(in_help - in_page)}, only in the page {sorted(in_page - in_help)}")
                failed = True
        print(f"{name}.1: options {sorted(page_listed[0])}, commands {sorted(page_listed[1])}")
    lint_program = shutil.which("mandoc")
    if lint_program:
        found = lint(lint_program, [os.path.join(man_dir, os.path.basename(p) + ".1") for p in programs], man_dir)
        print("\n".join(found) if found else "mandoc -T lint: clean")
        failed = failed or bool(found)
    else:
        print("test-man-pages: mandoc is not installed; the pages were not linted")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
