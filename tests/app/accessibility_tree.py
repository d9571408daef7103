#!/usr/bin/env python3
"""Reads one process's accessibility tree over AT-SPI, as assistive tools do, or performs an action in it.

    accessibility_tree.py PID                     prints the elements on screen as JSON: role, name, description,
                                                  states, actions, children
    accessibility_tree.py PID ROLE NAME ACTION    performs ACTION on the first element on screen with ROLE and NAME
    accessibility_tree.py PID focus               prints "ready" once it listens, then the element of the process that
                                                  has the keyboard once it comes to rest, as a screen reader learns of
                                                  it, as JSON: role, name, and whether the tree holds it (each element
                                                  up to the application is among its parent's children)

Exits with 2 while the process is not among the desktop's applications, with 3 when no element matches, with 4 when
no element takes the keyboard within 60 seconds.
"""
import json
import sys
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The action's name: the newer call that the library points to is not in this version's bindings.
warnings.filterwarnings("ignore", category=DeprecationWarning)

MAX_DEPTH = 40
MAX_ELEMENTS = 5000


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        candidate = desktop.get_child_at_index(index)
        if candidate is not None and candidate.get_process_id() == pid:
            return candidate
    return None


def action_names(element):
    if "Action" not in element.get_interfaces():
        return []
    return [Atspi.Action.get_action_name(element, index) for index in range(Atspi.Action.get_n_actions(element))]


def on_screen(element):
    return element.get_state_set().contains(Atspi.StateType.SHOWING)


def children(element):
    for index in range(element.get_child_count()):
        child = element.get_child_at_index(index)
        if child is not None and on_screen(child):
            yield child


def describe(element, depth, budget):
    budget[0] -= 1
    node = {"role": element.get_role_name(), "name": element.get_name(), "description": element.get_description(),
            "states": [state.value_nick for state in element.get_state_set().get_states()],
            "actions": action_names(element)}
    if depth < MAX_DEPTH and budget[0] > 0:
        node["children"] = [describe(child, depth + 1, budget) for child in children(element)]
    return node


def find(element, role, name, depth=0):
    if element.get_role_name() == role and element.get_name() == name:
        return element
    if depth >= MAX_DEPTH:
        return None
    for child in children(element):
        found = find(child, role, name, depth + 1)
        if found is not None:
            return found
    return None


def held_by_tree(element):
    for _ in range(MAX_DEPTH):
        parent = element.get_parent()
        if parent is None:
            return element.get_role() == Atspi.Role.APPLICATION
        if element.get_index_in_parent() < 0:
            return False
        element = parent
    return False


def next_focus(pid):
    found = []
    quiet = [None]

    def settle():
        quiet[0] = None
        Atspi.event_quit()
        return False

    def taken(event):
        source = event.source
        if event.detail1 == 1 and source is not None and source.get_process_id() == pid:
            found.append({"role": source.get_role_name(), "name": source.get_name(), "held": held_by_tree(source)})
            # The last element told of once the keyboard has come to rest is where it is.
            if quiet[0] is not None:
                GLib.source_remove(quiet[0])
            quiet[0] = GLib.timeout_add(1500, settle)

    listener = Atspi.EventListener.new(taken)
    listener.register("object:state-changed:focused")
    GLib.timeout_add_seconds(60, lambda: Atspi.event_quit() or False)
    print("ready", flush=True)
    Atspi.event_main()
    listener.deregister("object:state-changed:focused")
    if not found:
        return 4
    json.dump(found[-1], sys.stdout, ensure_ascii=False)
    return 0


def main(arguments):
    root = application(int(arguments[0]))
    if root is None:
        return 2
    if arguments[1:] == ["focus"]:
        return next_focus(int(arguments[0]))
    if len(arguments) == 1:
        json.dump(describe(root, 0, [MAX_ELEMENTS]), sys.stdout, ensure_ascii=False)
        return 0
    role, name, action = arguments[1:4]
    element = find(root, role, name)
    names = action_names(element) if element is not None else []
    if action not in names:
        return 3
    return 0 if Atspi.Action.do_action(element, names.index(action)) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
