"""Reads the running deck through AT-SPI, as a screen reader does.

  accessibility_probe.py tree WINDOW_TITLE      every element a person can reach
                                                has a name and a role
  accessibility_probe.py press NAME [ROLE]      does the press action of the
                                                named element
  accessibility_probe.py text NAME              prints the element's text
  accessibility_probe.py state NAME             prints the element's states
  accessibility_probe.py description NAME       prints its description
  accessibility_probe.py row-texts              prints the tape box's rows
  accessibility_probe.py names                  prints every element's name
Exits 1 with the reason on a failure.
"""
import re
import sys
import time

import pyatspi

APP_NAME = "Cassora"
# Roles that tell a person nothing about what an element is.
MEANINGLESS_ROLES = {
    pyatspi.ROLE_FILLER,
    pyatspi.ROLE_UNKNOWN,
    pyatspi.ROLE_INVALID,
    pyatspi.ROLE_REDUNDANT_OBJECT,
}


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def application():
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == APP_NAME:
                return app
        time.sleep(0.1)
    fail("no application named %s on the accessibility bus" % APP_NAME)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for index in range(node.childCount):
        yield from walk(node.getChildAtIndex(index), depth + 1)


def action_count(node):
    try:
        return node.queryAction().nActions
    except NotImplementedError:
        return 0


def describe(node):
    parent = node.parent
    where = " in %s '%s'" % (parent.getRoleName(), parent.name) if parent is not None else ""
    return "%s '%s'%s" % (node.getRoleName(), node.name, where)


def window(title):
    app = application()
    for _ in range(50):
        for index in range(app.childCount):
            top = app.getChildAtIndex(index)
            if top is not None and top.name == title:
                return top
        time.sleep(0.1)
    fail("no window titled '%s' (windows: %s)" % (
        title, [app.getChildAtIndex(i).name for i in range(app.childCount)]))


def check_tree(title):
    top = window(title)
    checked = 0
    problems = []
    for node in walk(top):
        states = node.getState()
        # What is hidden or disabled (a list's separator) cannot be reached.
        if not states.contains(pyatspi.STATE_SHOWING) or not states.contains(
                pyatspi.STATE_ENABLED):
            continue
        reachable = states.contains(pyatspi.STATE_FOCUSABLE) or action_count(node) > 0
        # A list's separator (as in a combo box) cannot be chosen.
        if node.getRole() in (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL) and not \
                states.contains(pyatspi.STATE_SELECTABLE):
            reachable = False
        if not reachable:
            continue
        checked += 1
        if not node.name.strip():
            problems.append("unnamed " + describe(node))
        if node.getRole() in MEANINGLESS_ROLES:
            problems.append("no real role: " + describe(node))
    if problems:
        fail("in '%s': %s" % (title, "; ".join(problems)))
    if checked == 0:
        fail("nothing to reach in '%s'" % title)
    print("%d elements checked in '%s'" % (checked, title))


def find(name, role=None):
    app = application()
    for _ in range(50):
        for node in walk(app):
            if node.name == name and (role is None or node.getRoleName() == role):
                return node
        time.sleep(0.1)
    fail("no element named '%s'" % name)


def press(name, role=None):
    node = find(name, role)
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" in names:
        action.doAction(names.index("Press"))
    elif "press" in names:
        action.doAction(names.index("press"))
    else:
        fail("%s has no press action (%s)" % (describe(node), names))


def text(name):
    node = find(name)
    print(node.queryText().getText(0, -1))


def state(name):
    node = find(name)
    print(" ".join(sorted(pyatspi.stateToString(s) for s in node.getState().getStates())))


def row_texts():
    app = application()
    for node in walk(app):
        if node.getRole() in (pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE):
            for index in range(node.childCount):
                child = node.getChildAtIndex(index)
                if child is not None and child.getRole() not in (
                        pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_SCROLL_BAR):
                    print(child.name)


def main():
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "tree":
        check_tree(arguments[0])
    elif command == "press":
        press(*arguments)
    elif command == "text":
        text(arguments[0])
    elif command == "state":
        state(arguments[0])
    elif command == "description":
        print(find(arguments[0]).description)
    elif command == "names":
        for node in walk(application()):
            if node.name:
                print(node.name)
    elif command == "row-texts":
        row_texts()
    else:
        fail("unknown command " + command)


if __name__ == "__main__":
    main()
