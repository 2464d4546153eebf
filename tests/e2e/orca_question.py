#!/usr/bin/env python3
"""Prints the game's question as a screen reader reads it through AT-SPI:
the text of the paragraph named 問題 in the application tovrika, a spoken
outcome before it included. Tries for up to ten seconds."""

import sys
import time

import pyatspi


def question_line():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "tovrika":
            found = pyatspi.findDescendant(
                app, lambda o: o.getRole() == pyatspi.ROLE_PARAGRAPH and o.name == "問題")
            if found is not None:
                return found.queryText().getText(0, -1)
    return None


def main():
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        line = question_line()
        if line:
            print(line)
            return 0
        time.sleep(0.2)
    print("no question in the accessible tree", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
