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
    ("filler", "Conversion list"), ("check box", "Eject when done"),
    ("slider", "Preview position"), ("label", "Time of the preview's picture"),
    ("image", "Preview picture"),
}
# Fields a screen reader names by their caption (on Linux a combo box is named by its item, so
# only the caption tells what it chooses).
LABELLED = {("combo box", "Format:"), ("text", "Filename:"), ("text", "Title:")}
# Controls whose name is not enough: they must say what they do, or what they show. Both Send
# to PSP buttons (tool bar and Folders page) are looked at.
DESCRIBED = {("push button", "Send to PSP"), ("check box", "Eject when done"),
             ("slider", "Preview position"), ("frame", "The memory stick"),
             ("label", "Expected"), ("label", "Time of the preview's picture")}
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


def read_names(app):
    """What a screen reader would miss in the window: names not found, controls without one,
    and controls without a needed description."""
    found = set()
    faults = []
    seen, bare = set(), set()
    for node in walk(app):
        role = node.getRoleName()
        name = node.name or ""
        found.add((role, name.replace("&", "")))
        for relation in node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                found.update((role, relation.getTarget(i).name)
                             for i in range(relation.getNTargets()))
        # The expected size is read by its line, which starts with the word.
        key = (role, "Expected") if name.startswith("Expected ") else (role, name)
        if key in DESCRIBED:
            seen.add(key)
            if not (node.description or "").strip():
                bare.add(key)
        if not node.getState().contains(pyatspi.STATE_SHOWING) and role != "menu item":
            continue  # a hidden control (a button shown only when it applies)
        if role in NAMED_ROLES and not name.strip():
            faults.append("without a name: %s in %s" %
                          (role, node.parent.getRoleName() if node.parent else "?"))
    faults += ["not found by name: %s \"%s\"" % what
               for what in sorted((EXPECTED | LABELLED) - found)]
    faults += ["without a description: %s \"%s\"" % what
               for what in sorted((DESCRIBED - seen) | bare)]
    return faults


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
        # The panel, the expected size and the stick's line come as the window reads the
        # file and the mounts: read again until all is there, or the time is up.
        deadline = time.time() + 60
        while True:
            faults = read_names(app)
            if not faults or time.time() > deadline:
                break
            time.sleep(0.5)
        for fault in faults:
            print(fault)
        return 1 if faults else 0
    finally:
        window.terminate()
        try:
            window.wait(10)
        except subprocess.TimeoutExpired:
            window.kill()


if __name__ == "__main__":
    sys.exit(main())
