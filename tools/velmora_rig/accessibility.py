"""Reading a program's windows through the accessibility tree (AT-SPI).

The AT-SPI library ends the interpreter when it starts with no session bus, so it starts on
the first look-up, after Desktop.adopt() has given this process the test's bus.
"""

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

from .waiting import wait_until  # noqa: E402

MAX_TREE_NODES = 2000
# A frozen program makes every read wait this long before it fails (AT-SPI's own default is 25 s).
CALL_TIMEOUT_MS = 5000


def application(pid, timeout_s):
    """The accessible application of process `pid`, once it has registered."""
    Atspi.init()  # a no-op after the first call
    Atspi.set_timeout(CALL_TIMEOUT_MS, 3 * CALL_TIMEOUT_MS)

    def find():
        for app in children(Atspi.get_desktop(0)):
            try:
                if app.get_process_id() == pid:
                    # Read everything afresh: no main loop runs here to keep a cache current.
                    app.set_cache_mask(Atspi.Cache.NONE)
                    return app
            except GLib.Error:
                continue
        return None
    return wait_until(find, timeout_s, f"process {pid} on the accessibility bus")


def bus_name(app):
    return app.app.bus_name


def find_all(root, role, name=None):
    """Accessibles below root with the role (e.g. "push button") and, if given, exact name.

    What closes while it is walked is skipped. (A frozen program raises nothing here: AT-SPI
    answers its timeouts with empty values, so freezes are measured by UiHeartbeat instead.)
    """
    found, queue = [], [root]
    for _ in range(MAX_TREE_NODES):
        if not queue:
            break
        for child in children(queue.pop(0)):
            queue.append(child)
            try:
                if child.get_role_name() == role and (name is None or child.get_name() == name):
                    found.append(child)
            except GLib.Error:
                continue
    return found


def find_one(root, role, name=None):
    """The single accessible with that role and name; fails on none or several."""
    found = find_all(root, role, name)
    if len(found) != 1:
        raise AssertionError(f"expected one {role!r} named {name!r}, found {len(found)}")
    return found[0]


def children(node):
    """The node's children (an application's: its top-level windows, open or not), leaving out
    what goes while they are read."""
    found = []
    try:
        count = node.get_child_count()
    except GLib.Error:
        return found
    for i in range(count):
        try:
            found.append(node.get_child_at_index(i))
        except GLib.Error:
            continue
    return [child for child in found if child is not None]


def has_state(node, state):
    return node.get_state_set().contains(state)


def is_enabled(node):
    return has_state(node, Atspi.StateType.ENABLED) and has_state(node, Atspi.StateType.SENSITIVE)


def is_focused(node):
    return has_state(node, Atspi.StateType.FOCUSED)


def is_showing(node):
    return has_state(node, Atspi.StateType.SHOWING)


def text_of(node):
    return Atspi.Text.get_text(node, 0, -1)


def set_text(node, text):
    """Replaces the whole text, as a paste over a selection would."""
    if not Atspi.EditableText.set_text_contents(node, text):
        raise AssertionError("the text control refused the new text")


def press(node):
    """Does the control's press action (Qt names it "Press" on buttons and menu items)."""
    for i in range(Atspi.Action.get_n_actions(node)):
        if Atspi.Action.get_action_name(node, i) == "Press":
            Atspi.Action.do_action(node, i)
            return
    raise AssertionError(f"{node.get_role_name()} {node.get_name()!r} has no press action")


def centre(node):
    rect = node.get_extents(Atspi.CoordType.SCREEN)
    if rect.width <= 0 or rect.height <= 0:
        raise AssertionError(f"{node.get_role_name()} {node.get_name()!r} has no area")
    return rect.x + rect.width // 2, rect.y + rect.height // 2
