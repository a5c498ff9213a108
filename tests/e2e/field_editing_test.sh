# The main directory field edited with the cursor keys, Delete, Backspace and
# typed text (a UTF-8 "ä" and a backslash among it), then saved: the row shown
# and the record's bytes (code page 437 0x84 for ä, "/" for the backslash).
source "$(dirname "$0")/lib.sh"

start TERM=xterm-256color LANG=C.UTF-8
# Row 5: shade, label (columns 4..28), the 50-cell field (29..78), shade.
main_dir_row() { printf '░░░    VESK main directory: %s%*s░░' "$1" "$((50 - $2))" ''; }

wait_for_row 5 "$(main_dir_row c:/bbs/main/ 12)"
cursor_at 41 5
keys Left
cursor_at 40 5
keys Home
cursor_at 29 5
keys Delete Delete
wait_for_row 5 "$(main_dir_row /bbs/main/ 10)"
cursor_at 29 5
type_text "e:"
wait_for_row 5 "$(main_dir_row e:/bbs/main/ 12)"
cursor_at 31 5
keys End
cursor_at 41 5
keys Left BSpace BSpace BSpace BSpace
wait_for_row 5 "$(main_dir_row e:/bbs// 8)"
cursor_at 36 5
type_text 'bäd\x'
wait_for_row 5 "$(main_dir_row e:/bbs/bäd/x/ 13)"
cursor_at 41 5

# Down through the Quenda directory and both options to "Save and exit".
keys Down
cursor_at 43 6
keys Down
cursor_at 29 11
keys Down
cursor_at 29 12
keys Down
cursor_at 25 20
keys Enter
wait_for_exit 1
# expect_record encodes as latin-1: U+0084 (UTF-8 C2 84) stands for the byte 0x84.
expect_record $'e:/bbs/b\xc2\x84d/x/' "d:/bbs/quenda/" 01
[[ "$(xxd -s 12 -l 1 -p "$WORK/quenda.cfg")" == 84 ]] || fail "main_dir[8] is not code page 437 ä"
pass
