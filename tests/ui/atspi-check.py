"""What a screen reader finds in the phone's main window, read through AT-SPI as Orca reads it.

Run by accessibility-test.sh with the phone on the display and both on one private session bus:
    atspi-check.py APPLICATION_NAME
Prints "ok - ..." or "not ok - ..." for each check, like the other test scripts. The keyboard is
driven with xdotool; the last check presses Exit through AT-SPI, which ends the phone.
"""
import subprocess
import sys
import time

import pyatspi

APP = sys.argv[1]

# name: (role names AT-SPI may give it, description)
CONTROLS = {
    "Call": ({"push button"}, "Make / Answer Call"),
    "End": ({"push button"}, "End / Decline Call"),
    "Settings": ({"push button"}, "Settings..."),
    "Address Book": ({"push button"}, "Hailing Frequencies..."),
    "Snapshot": ({"push button"}, "Take Snapshot"),
    "Maximize": ({"push button"}, "Maximize / Restore"),
    "Mute": ({"push button"}, "Mute Microphone"),
    "Exit": ({"push button"}, "Close Talvora"),
    "Microphone Level": ({"slider"}, "Microphone Level"),
    "Volume Level": ({"slider"}, "Volume Level"),
    "Hailing Frequency": ({"text", "entry"}, "Address or host name to call; Enter calls"),
}
TAB_ORDER = ["Call", "End", "Settings", "Address Book", "Snapshot", "Maximize", "Mute", "Exit",
             "Microphone Level", "Volume Level", "Hailing Frequency"]

failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok - " if ok else "not ok - ") + name + ("" if ok or not detail else f" ({detail})"))
    failures += 0 if ok else 1


def application():
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == APP:
                return app
        time.sleep(0.2)
    return None


def showing(root):
    """Every accessible below root that is on the screen."""
    found = []
    stack = [root]
    while stack:
        node = stack.pop()
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None and child.getState().contains(pyatspi.STATE_SHOWING):
                found.append(child)
                stack.append(child)
    return found


def focused_name(app):
    for node in showing(app):
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            return node.name
    return None


def wait_for_focus(app, name):
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        current = focused_name(app)
        if current == name:
            return current
        time.sleep(0.05)
    return focused_name(app)


app = application()
check(f"the application {APP!r} is on the accessibility bus", app is not None)
if app is None:
    sys.exit(1)

# A name may be shared by a caption and its control ("Hailing Frequency"): the control counts.
nodes = {}
for node in showing(app):
    wanted = CONTROLS.get(node.name, (set(), ""))[0]
    if node.name not in nodes or node.getRoleName() in wanted:
        nodes[node.name] = node
for name, (roles, description) in CONTROLS.items():
    node = nodes.get(name)
    role = node.getRoleName() if node else None
    check(f"{name!r} is a {'/'.join(sorted(roles))}", node is not None and role in roles, f"found {role}")
    if node is not None:
        check(f"{name!r} is described as {description!r}", node.description == description,
              f"found {node.description!r}")
mic = nodes.get("Microphone Level")
check("the microphone slider tells its level", mic is not None and mic.queryValue().currentValue == 85)

check("the focus starts in the host field", wait_for_focus(app, "Hailing Frequency") == "Hailing Frequency",
      f"found {focused_name(app)!r}")
visited = []
for expected in TAB_ORDER:
    subprocess.run(["xdotool", "key", "Tab"], check=False)
    visited.append(wait_for_focus(app, expected))
check("Tab visits the panel as it reads", visited == TAB_ORDER, f"visited {visited}")

exit_button = nodes.get("Exit")
pressed = False
if exit_button is not None:
    actions = exit_button.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i).lower() in ("press", "click"):
            pressed = actions.doAction(i)
            break
check("Exit can be pressed through AT-SPI", bool(pressed))
sys.exit(1 if failures else 0)
