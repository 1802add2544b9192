#!/usr/bin/python3
"""Reads a running Parlote through the AT-SPI accessibility bus, as a screen reader would.

    tools/atspi-read.py [--app NAME] [--wait SECONDS] [--press MENU_ITEM]...
                        [--focus-transcript] [--key KEY]... [--send TEXT]
                        [--listen SECONDS] [--transcript-only]

Finds the application NAME (default "Parlote") on the desktop, then, in this order:
  --press ITEM          activates the menu item named ITEM (e.g. "Next Conversation"),
                        as a screen reader user would from the menu bar;
  --focus-transcript    clicks the transcript's last message, which gives the window and
                        the transcript the keyboard focus (a pointer click, as Xvfb has no
                        window manager to activate the window);
  --key KEY             presses KEY (Up, Down, Home, End, Tab), as often as given;
  --send TEXT           types TEXT into the message box and presses Send;
  --listen SECONDS      meanwhile prints the focus changes and the notifications that
                        show, with what a screen reader reads of them;
and finally prints the tree of the application's windows: each node's role and name, its
description, its text when it has a text interface and its actions. --transcript-only
prints only the transcript (the list named "Transcript") and its messages.

Needs python3-pyatspi and a session where the accessibility bus runs (dbus-run-session,
and Qt with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).
"""

import argparse
import sys
import time

import pyatspi
from gi.repository import GLib


def safe(function, default=None):
    try:
        return function()
    except Exception:  # an object that went away while it was read
        return default


def role_of(node):
    return safe(lambda: node.getRoleName(), "?")


def name_of(node):
    return safe(lambda: node.name, "") or ""


def text_of(node):
    text = safe(lambda: node.queryText())
    if text is None:
        return None
    return safe(lambda: text.getText(0, -1), "")


def actions_of(node):
    action = safe(lambda: node.queryAction())
    if action is None:
        return []
    return [safe(lambda i=i: action.getName(i), "?") for i in range(safe(lambda: action.nActions, 0))]


def states_of(node):
    states = safe(lambda: node.getState().getStates(), [])
    return [pyatspi.stateToString(s) for s in states]


def children(node):
    count = safe(lambda: node.childCount, 0)
    for i in range(count):
        child = safe(lambda i=i: node.getChildAtIndex(i))
        if child is not None:
            yield child


def find(node, predicate, depth=0):
    if depth > 60:
        return None
    if predicate(node):
        return node
    for child in children(node):
        found = find(child, predicate, depth + 1)
        if found is not None:
            return found
    return None


def find_application(name, wait):
    deadline = time.monotonic() + wait
    while True:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            if name_of(app).lower() == name.lower():
                return app
        if time.monotonic() > deadline:
            return None
        time.sleep(0.2)


def describe(node, indent):
    """The lines a screen reader's review of `node` gives."""
    pad = "  " * indent
    name = name_of(node)
    shown = name if "\n" not in name else name.split("\n")[0] + " …"
    line = f"{pad}[{role_of(node)}] \"{shown}\""
    description = safe(lambda: node.description, "")
    if description:
        line += f" ({description})"
    interesting = [s for s in states_of(node) if s in ("focused", "selected")]
    if interesting:
        line += " {" + ", ".join(interesting) + "}"
    lines = [line]
    text = text_of(node)
    if text and text != shown:
        for text_line in text.split("\n"):
            lines.append(f"{pad}    | {text_line}")
    actions = actions_of(node)
    if actions and role_of(node) in ("list item", "push button", "notification"):
        lines.append(f"{pad}    actions: {', '.join(actions)}")
    return lines


def print_tree(node, indent=0, depth=0):
    if depth > 60:
        return
    for line in describe(node, indent):
        print(line)
    for child in children(node):
        print_tree(child, indent + 1, depth + 1)


def is_transcript(node):
    return role_of(node) == "list" and name_of(node) == "Transcript"


def press_menu_item(app, label):
    item = find(app, lambda n: role_of(n) == "menu item" and name_of(n).replace("&", "") == label)
    if item is None:
        sys.exit(f"atspi-read: no menu item named {label!r}")
    item.queryAction().doAction(0)


def focus_transcript(app):
    transcript = find(app, is_transcript)
    if transcript is None or safe(lambda: transcript.childCount, 0) == 0:
        sys.exit("atspi-read: no transcript, or no message in it")
    last = transcript.getChildAtIndex(transcript.childCount - 1)
    x, y, width, height = last.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    # Near the top left of the row, where its bubble or its text is.
    pyatspi.Registry.generateMouseEvent(x + min(40, width // 2), y + min(10, height // 2),
                                        pyatspi.MOUSE_B1C)


KEYSYMS = {"Up": 0xFF52, "Down": 0xFF54, "Home": 0xFF50, "End": 0xFF57, "Tab": 0xFF09}


def press_key(name):
    if name not in KEYSYMS:
        sys.exit(f"atspi-read: no key named {name!r} ({', '.join(KEYSYMS)})")
    pyatspi.Registry.generateKeyboardEvent(KEYSYMS[name], None, pyatspi.KEY_SYM)


def send(app, text):
    box = find(app, lambda n: "editable" in states_of(n) and role_of(n) in ("text", "entry"))
    if box is None:
        sys.exit("atspi-read: no message box")
    box.queryEditableText().setTextContents(text)
    button = find(app, lambda n: role_of(n) == "push button" and name_of(n) == "Send")
    if button is None:
        sys.exit("atspi-read: no Send button")
    button.queryAction().doAction(0)


def listen(seconds, actions):
    """Runs `actions` once the listeners are in, and prints what happens for `seconds`."""

    def on_event(event):
        source = event.source
        if event.type.startswith("object:state-changed:showing"):
            if not event.detail1 or role_of(source) != "notification":
                return
            print(f"event: notification shows: \"{name_of(source)}\"")
            for line in (text_of(source) or "").split("\n"):
                print(f"    | {line}")
            for label in children(source):
                print(f"    [{role_of(label)}] \"{name_of(label).split(chr(10))[0]} …\"")
        elif event.type.startswith("object:state-changed:focused") and event.detail1:
            if role_of(source) == "list item":
                print(f"event: focus on [{role_of(source)}] \"{name_of(source)}\"")
        sys.stdout.flush()

    pyatspi.Registry.registerEventListener(
        on_event, "object:state-changed:showing", "object:state-changed:focused")

    def run(action):
        action()
        return False

    def stop():
        pyatspi.Registry.stop()
        return False

    # One after another, each once the application has had time to act on the last.
    for i, action in enumerate(actions):
        GLib.timeout_add(300 + 700 * i, run, action)
    GLib.timeout_add(int(seconds * 1000), stop)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(
        on_event, "object:state-changed:showing", "object:state-changed:focused")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", default="Parlote")
    parser.add_argument("--wait", type=float, default=20)
    parser.add_argument("--press", action="append", default=[])
    parser.add_argument("--focus-transcript", action="store_true")
    parser.add_argument("--key", action="append", default=[])
    parser.add_argument("--send")
    parser.add_argument("--listen", type=float, default=0)
    parser.add_argument("--transcript-only", action="store_true")
    options = parser.parse_args()

    app = find_application(options.app, options.wait)
    if app is None:
        sys.exit(f"atspi-read: no application named {options.app!r} on the accessibility bus")

    actions = [lambda label=label: press_menu_item(app, label) for label in options.press]
    if options.focus_transcript:
        actions.append(lambda: focus_transcript(app))
    actions += [lambda key=key: press_key(key) for key in options.key]
    if options.send:
        actions.append(lambda: send(app, options.send))
    if options.listen > 0:
        listen(options.listen, actions)
    else:
        for action in actions:
            action()
            time.sleep(0.7)

    if options.transcript_only:
        transcript = find(app, is_transcript)
        if transcript is None:
            sys.exit("atspi-read: no transcript")
        print_tree(transcript)
    else:
        print_tree(app)


if __name__ == "__main__":
    main()
