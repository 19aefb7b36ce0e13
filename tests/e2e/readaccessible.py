#!/usr/bin/env python3
"""Prints what a screen reader reads of one control of the running program.

    readaccessible.py NAME          the text of the control with that accessible name,
                                    after a line "showing" or "hidden"; "absent" when
                                    the program has no such control (Qt leaves hidden
                                    ones out); exit 1 when the program is not on the bus.
    readaccessible.py --state NAME  "enabled" or "disabled" instead of the text.
"""
import sys
import pyatspi


def find(root, name):
    return pyatspi.findDescendant(root, lambda a: a is not None and a.name == name, True)


def main():
    state_only = sys.argv[1] == "--state"
    name = sys.argv[-1]
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != "tidemarsh":
            continue
        control = find(app, name)
        if control is None:
            print("absent")
            return 0
        if state_only:
            print("enabled" if control.getState().contains(pyatspi.STATE_ENABLED) else "disabled")
            return 0
        showing = control.getState().contains(pyatspi.STATE_SHOWING)
        text = control.queryText()
        print("showing" if showing else "hidden")
        print(text.getText(0, text.characterCount))
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
