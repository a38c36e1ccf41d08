#!/usr/bin/python3
"""Reads the player's widgets through AT-SPI, the way a screen reader sees them.

  a11y.py ready                      starts the accessibility bus (before the player starts)
  a11y.py wait-app [SECONDS]         waits until the player's window is on the bus
  a11y.py dump                       the player's widget tree: role, name, states
  a11y.py names ROLE                 names of the player's widgets of ROLE, one a line
                                     ("label", "list item", "push button", ...)
  a11y.py showing ROLE               the same, of those on the screen now
  a11y.py dialog TITLE [SECONDS]     waits for the player's dialog captioned TITLE and
                                     prints its widgets: role, TAB, name
  a11y.py states ROLE NAME           states of the first widget of ROLE named NAME
  a11y.py extents ROLE NAME          its place on the screen: x y width height
  a11y.py list-blank                 a point of the playlist below its last entry: x y
  a11y.py list-head N                the playlist's entry count, then its first N entries
  a11y.py popup [--timeout S] [--items N] CMD...
                                     runs CMD (a click that opens a pop-up menu), waits for
                                     the menu (and its N items) and prints its items:
                                     caption, TAB, enabled|disabled, TAB, x y width height

Pop-up menus are not children of the application in the tree, so they are caught by
the event that announces them. Needs the system's python3 with pyatspi (python3-pyatspi).
Exit status 1 when what was asked for is not there.
"""

import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

APP_NAME = "velmora"


def fail(message):
    print(f"a11y.py: {message}", file=sys.stderr)
    sys.exit(1)


def states_of(accessible):
    state_set = accessible.get_state_set()
    return [Atspi.StateType(s).value_nick for s in state_set.get_states()]


def children(accessible):
    for i in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(i)
        if child is not None:
            yield child


def find_app():
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        try:
            if app.get_name() == APP_NAME and app.get_child_count() > 0:
                # Read states and texts from the program itself, never from a cache
                # that events may not have brought up to date yet.
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        except GLib.Error:
            continue
    return None


def walk(accessible, depth=0):
    yield accessible, depth
    if depth < 12:
        for child in children(accessible):
            yield from walk(child, depth + 1)


def app_or_fail():
    app = find_app()
    if app is None:
        fail("the player is not on the accessibility bus")
    return app


def find(role, name):
    for accessible, _ in walk(app_or_fail()):
        if accessible.get_role_name() == role and accessible.get_name() == name:
            return accessible
    fail(f"no {role} named {name!r}")


def extents_text(accessible):
    box = accessible.get_extents(Atspi.CoordType.SCREEN)
    return f"{box.x} {box.y} {box.width} {box.height}"


def cmd_ready():
    # Asking the desktop for its children starts the bus launcher and the registry.
    Atspi.get_desktop(0).get_child_count()


def cmd_wait_app(seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        app = find_app()
        if app is not None and any(c.get_role_name() == "frame" for c in children(app)):
            return
        time.sleep(0.1)
    fail(f"the player did not appear on the accessibility bus within {seconds:g}s")


def cmd_dump():
    for accessible, depth in walk(app_or_fail()):
        print("  " * depth + f"{accessible.get_role_name()} {accessible.get_name()!r} "
              + ",".join(states_of(accessible)))


def cmd_names(role):
    found = False
    for accessible, _ in walk(app_or_fail()):
        if accessible.get_role_name() == role:
            print(accessible.get_name())
            found = True
    if not found:
        sys.exit(1)


def cmd_showing(role):
    # Panels change their text several times a second; a widget read in the middle of
    # that can fail, so the whole reading is taken again.
    for _ in range(5):
        try:
            names = [a.get_name() for a, _ in walk(app_or_fail())
                     if a.get_role_name() == role and "showing" in states_of(a)]
        except GLib.Error:
            time.sleep(0.05)
            continue
        print("\n".join(names))
        return
    fail(f"the {role} widgets could not be read")


def cmd_dialog(title, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        app = find_app()
        for window in children(app) if app is not None else ():
            try:
                if window.get_name() == title and "showing" in states_of(window):
                    for accessible, _ in walk(window):
                        print(f"{accessible.get_role_name()}\t{accessible.get_name()}")
                    return
            except GLib.Error:
                continue
        time.sleep(0.1)
    fail(f"no dialog captioned {title!r} within {seconds:g}s")


def cmd_list_blank():
    playlist = find("list", "播放列表")
    box = playlist.get_extents(Atspi.CoordType.SCREEN)
    bottom = box.y + 4
    for item in children(playlist):
        if item.get_role_name() == "list item" and "showing" in states_of(item):
            item_box = item.get_extents(Atspi.CoordType.SCREEN)
            bottom = max(bottom, item_box.y + item_box.height)
    # Keep clear of a horizontal scroll bar along the bottom edge.
    y = bottom + 6
    if y > box.y + box.height - 24:
        fail("the playlist has no blank space below its entries")
    print(f"{box.x + box.width // 3} {y}")


def cmd_list_head(count):
    """The playlist's number of entries, then its first `count` entries: role and name.
    Reads only those: a list of a million entries is never walked."""
    playlist = find("list", "播放列表")
    rows = playlist.get_child_count()
    print(rows)
    for i in range(min(count, rows)):
        item = playlist.get_child_at_index(i)
        print(f"{item.get_role_name()}\t{item.get_name()}")


def cmd_popup(timeout, items, command):
    menus = []

    def on_event(event):
        source = event.source
        try:
            if event.detail1 == 1 and source.get_role_name() in ("popup menu", "menu"):
                menus.append(source)
                loop.quit()
        except GLib.Error:
            pass

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:showing")
    loop = GLib.MainLoop()

    def run_command():
        subprocess.run(command, check=False)
        return False

    GLib.idle_add(run_command)
    GLib.timeout_add(int(timeout * 1000), loop.quit)
    loop.run()
    listener.deregister("object:state-changed:showing")
    if not menus:
        fail(f"no pop-up menu showed within {timeout:g}s")
    menu = menus[0]
    # On a busy machine the announcement can come before every item is on the bus:
    # read until the items are all there and laid out.
    deadline = time.monotonic() + 5
    while True:
        lines = menu_lines(menu, items)
        if lines is not None or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    if lines is None:
        fail("the pop-up menu's items did not all appear")
    print("\n".join(lines))


def menu_lines(menu, items):
    """Caption, state and place of every item, or None while some are missing."""
    try:
        menu.clear_cache()
        count = menu.get_child_count()
        if count == 0 or count < items:
            return None
        lines = []
        for i in range(count):
            item = menu.get_child_at_index(i)
            if item is None:
                return None
            box = item.get_extents(Atspi.CoordType.SCREEN)
            if box.width <= 0 or box.height <= 0:
                return None
            enabled = "enabled" if "enabled" in states_of(item) else "disabled"
            lines.append(f"{item.get_name()}\t{enabled}\t{box.x} {box.y} {box.width} {box.height}")
        return lines
    except GLib.Error:
        return None


def main():
    args = sys.argv[1:]
    if not args:
        fail(__doc__)
    command, rest = args[0], args[1:]
    if command == "ready":
        cmd_ready()
    elif command == "wait-app":
        cmd_wait_app(float(rest[0]) if rest else 15.0)
    elif command == "dump":
        cmd_dump()
    elif command == "names" and len(rest) == 1:
        cmd_names(rest[0])
    elif command == "showing" and len(rest) == 1:
        cmd_showing(rest[0])
    elif command == "dialog" and rest:
        cmd_dialog(rest[0], float(rest[1]) if len(rest) > 1 else 10.0)
    elif command == "states" and len(rest) == 2:
        print(",".join(states_of(find(rest[0], rest[1]))))
    elif command == "extents" and len(rest) == 2:
        print(extents_text(find(rest[0], rest[1])))
    elif command == "list-blank":
        cmd_list_blank()
    elif command == "list-head" and len(rest) == 1:
        cmd_list_head(int(rest[0]))
    elif command == "popup" and rest:
        timeout, items = 5.0, 1
        while rest and rest[0] in ("--timeout", "--items") and len(rest) > 1:
            if rest[0] == "--timeout":
                timeout = float(rest[1])
            else:
                items = int(rest[1])
            rest = rest[2:]
        if not rest:
            fail("popup needs a command")
        cmd_popup(timeout, items, rest)
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()
