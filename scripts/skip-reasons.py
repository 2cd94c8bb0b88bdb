#!/usr/bin/env python3
"""Prints why each test of the last CTest run in BUILD_DIR was skipped, one
line a test ("skipped: NAME: reason"), from GoogleTest's own words in the
run's log. usage: skip-reasons.py BUILD_DIR"""

import os
import re
import sys


def main():
    log = os.path.join(sys.argv[1], "Testing", "Temporary", "LastTest.log")
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return 0
    # Each test's record starts with "N/M Test: NAME" and holds its output.
    for record in re.split(r"\n(?=\d+/\d+ Test: )", text):
        name = re.match(r"\d+/\d+ Test: (\S+)", record)
        reason = re.search(r": Skipped\n(.*)\n", record)
        if name and reason:
            print("skipped: %s: %s" % (name.group(1), reason.group(1).strip() or "(no reason given)"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
