#!/usr/bin/env bash
# Installs the comparison subjects (dialog, whiptail) from Debian if missing.
# The benchmark itself runs without them; missing ones are skipped with a note.
set -u

missing=()
for pkg in dialog whiptail; do
    command -v "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: not root, cannot install ${missing[*]}; those subjects will be skipped" >&2
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if ! apt-get update -q >/dev/null || ! apt-get install -y -q "${missing[@]}" >/dev/null; then
    # A failed install must not stop the run of our own subjects.
    echo "setup.sh: could not install ${missing[*]}; those subjects will be skipped" >&2
fi
exit 0
