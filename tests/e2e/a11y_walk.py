"""What a screen reader finds in Parcelo's windows, read over AT-SPI (the bus Orca reads).

  a11y_walk.py unnamed           every shown, focusable control of the program's windows that
                                 has no accessible name, one per line as "window > ... > role"
  a11y_walk.py focusable         every shown, focusable control, named or not, the same way
  a11y_walk.py windows           the names of the program's shown windows, one per line
  a11y_walk.py centre ROLE NAME [PANEL]
                                 the screen position "x y" of the centre of the shown control
                                 with that role and name (inside the panel so named, if given)

The content of a web page shown in the browser belongs to the page, not to the program's
controls, and is left out.
"""
import sys

import pyatspi

PROGRAM = "Parcelo"
PAGE_ROLES = {"document web", "document frame", "document email"}


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == PROGRAM:
            return app
    sys.exit(f"no application named {PROGRAM} on the accessibility bus")


def shown(states):
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def walk(node, path, visit):
    try:
        role, name, states = node.getRoleName(), (node.name or "").strip(), node.getState()
    except Exception:  # a control that went away while it was read
        return
    if role in PAGE_ROLES or not shown(states):
        return
    here = path + [f"{role} '{name}'" if name else role]
    visit(node, role, name, states, here)
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, here, visit)


def windows(app):
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and shown(window.getState()):
            yield window


def main():
    app = program()
    if sys.argv[1] == "windows":
        for window in windows(app):
            print(window.name)
    elif sys.argv[1] in ("unnamed", "focusable"):
        everyone = sys.argv[1] == "focusable"

        def report(node, role, name, states, path):
            if states.contains(pyatspi.STATE_FOCUSABLE) and (everyone or not name):
                print(" > ".join(path))
        for window in windows(app):
            walk(window, [], report)
    elif sys.argv[1] == "centre":
        role, name = sys.argv[2], sys.argv[3]
        panel = sys.argv[4] if len(sys.argv) > 4 else None
        found = []

        def match(node, r, n, states, path):
            if r == role and n == name and (panel is None or any(f"'{panel}'" in p for p in path)):
                found.append(node)
        for window in windows(app):
            walk(window, [], match)
        if not found:
            sys.exit(f"no shown {role} named {name!r}")
        box = found[0].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        print(box.x + box.width // 2, box.y + box.height // 2)


main()
