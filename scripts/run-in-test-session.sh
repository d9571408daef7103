#!/usr/bin/env bash
# Runs a command inside the private D-Bus session of the tests, with a keyring daemon of its own
# (an unlocked login keyring with a throwaway password, kept in a temporary folder) and a virtual X server.
set -euo pipefail

data_home=$(mktemp -d)
trap 'rm -rf "$data_home"' EXIT
export XDG_DATA_HOME="$data_home"
export XDG_RUNTIME_DIR="$data_home/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
# What the session bus starts on demand, such as the accessibility bus, keeps its sockets in this session's runtime
# folder too: one shared by sessions side by side would be taken over by the last one started.
dbus-update-activation-environment XDG_RUNTIME_DIR

eval "$(printf 'tavrine-test' | gnome-keyring-daemon --unlock --components=secrets)"
export GNOME_KEYRING_CONTROL

xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
