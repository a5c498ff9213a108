# "Exit without saving" after edits in every field leaves an existing file
# byte for byte and with its time stamp, and creates none where there was none.
# Standard input is /dev/null: keys come from the terminal all the same.
source "$(dirname "$0")/lib.sh"

# No file: nothing may appear.
STDIN_FROM=/dev/null start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/bbs/main/"
type_text "zz"
keys Down BSpace Down Space Down Space Down Down
cursor_at 25 21
keys Enter
wait_for_exit 2
wait_for_row 1 "Exit without saving. Have a very nice day!"
tty_restored
[[ ! -e "$WORK/quenda.cfg" ]] || fail "quenda.cfg was created"
end_session

# An existing file: same bytes, same modification time afterwards.
printf '\x11\x22\x33\x44c:/old/\0' > "$WORK/quenda.cfg"
head -c 156 /dev/urandom >> "$WORK/quenda.cfg"
cp -p "$WORK/quenda.cfg" "$WORK/original"
touch -d '2001-02-03 04:05:06' "$WORK/quenda.cfg"
before=$(stat -c %Y "$WORK/quenda.cfg")
STDIN_FROM=/dev/null start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/old/"
keys BSpace BSpace Up
cursor_at 25 21
keys Enter
wait_for_exit 2
cmp -s "$WORK/original" "$WORK/quenda.cfg" || fail "quenda.cfg changed"
[[ "$(stat -c %Y "$WORK/quenda.cfg")" == "$before" ]] || fail "modification time changed"
pass
