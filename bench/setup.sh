#!/usr/bin/env bash
# Checks for the comparison subjects, dialog and whiptail, and says how to
# install them; it installs nothing. The benchmark runs without them and
# skips the subjects that are missing, with a note.
set -u

missing=()
for pkg in dialog whiptail; do
    command -v "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup.sh: ${missing[*]} not installed; those subjects will be skipped." >&2
    echo "setup.sh: to compare with them, install them first: apt-get install ${missing[*]}" >&2
fi
exit 0
