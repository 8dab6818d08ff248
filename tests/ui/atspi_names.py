#!/usr/bin/python3
# Reads the window as a screen reader does, through AT-SPI, and fails on a control it cannot
# name: every button, field, list and bar is found by its name. Run with a session bus of
# its own (see CMakeLists.txt), on an X server it starts; arguments: the window program and a
# media file, whose panel's controls are read too.
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

# The controls a person must be able to find by name, with their kind.
EXPECTED = {
    ("push button", "Add"), ("push button", "Remove"), ("push button", "Clear"),
    ("push button", "Start"), ("push button", "Stop"), ("push button", "Pause"),
    ("push button", "Resume"), ("push button", "AVC Folder"), ("push button", "MPEG4 Folder"),
    ("push button", "Device Folder"), ("progress bar", "Overall progress"),
    ("page tab", "Home"), ("page tab", "Convert"), ("page tab", "Folders and Files"),
    ("menu item", "File"), ("menu item", "Convert"), ("menu item", "Go"), ("menu item", "Help"),
    ("menu item", "Folders and Files"), ("text", "Device folder"),
    ("text", "Convert output folder"), ("push button", "Browse for the device folder"),
    ("table", "Converted files"), ("table", "On the memory stick"),
    ("filler", "Conversion list"),
}
# Kinds a person acts on or reads from, which need a name to be told apart.
NAMED_ROLES = {"push button", "toggle button", "check box", "radio button", "combo box", "text",
               "entry", "password text", "list", "table", "tree", "tree table", "progress bar",
               "slider", "spin button", "page tab", "menu", "menu item"}


def find_app(name, deadline):
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name and app.childCount > 0:
                return app
        time.sleep(0.3)
    return None


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def start_x_server():
    """An X server on a display nobody else holds: Xvfb picks it and tells it (-displayfd)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "1280x800x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                              stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        display = numbers.readline().strip()
    return server, ":" + display


def main():
    program, media = sys.argv[1], sys.argv[2]
    x_server, display = start_x_server()
    try:
        return read_window(program, media, display)
    finally:
        x_server.terminate()
        x_server.wait(10)


def read_window(program, media, display):
    home = tempfile.mkdtemp(prefix="korvelo-atspi-")
    # Folders of its own: a window of another test must not take this one's files.
    os.mkdir(home + "/runtime", 0o700)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/runtime",
               XDG_STATE_HOME=home + "/state", XDG_CACHE_HOME=home + "/cache")
    window = subprocess.Popen([program, media], env=env, cwd=home)
    try:
        app = find_app(os.path.basename(program), time.time() + 30)
        if app is None:
            print("the window never appeared on the accessibility bus")
            return 1
        # The panel comes once its file has loaded.
        deadline = time.time() + 60
        while time.time() < deadline and not any(
                node.getRoleName() == "combo box" for node in walk(app)):
            time.sleep(0.5)
        found = set()
        unnamed = []
        for node in walk(app):
            role = node.getRoleName()
            name = node.name or ""
            found.add((role, name.replace("&", "")))
            if not node.getState().contains(pyatspi.STATE_SHOWING) and role != "menu item":
                continue  # a hidden control (a button shown only when it applies)
            if role in NAMED_ROLES and not name.strip():
                unnamed.append(role + " in " + (node.parent.getRoleName() if node.parent else "?"))
        missing = sorted(EXPECTED - found)
        for role, name in missing:
            print("not found by name: %s \"%s\"" % (role, name))
        for what in unnamed:
            print("without a name: " + what)
        return 1 if missing or unnamed else 0
    finally:
        window.terminate()
        try:
            window.wait(10)
        except subprocess.TimeoutExpired:
            window.kill()


if __name__ == "__main__":
    sys.exit(main())
