# The operator's typical run: defaults shown, main directory edited, the
# backup option cleared, saved; the record checked byte for byte.
source "$(dirname "$0")/lib.sh"

start TERM=xterm-256color LANG=C.UTF-8
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/                                      ░░"
wait_for_row 6 "░░░       Quenda directory: d:/bbs/quenda/                                    ░░"
wait_for_row 11 "░░░░░░░░░░░░░░░░░░░░░░░░░░ [X]  Backup when save    ░░░░░░░░░░░░░░░░░░░░░░░░░░░░"
cursor_at 41 5
keys BSpace BSpace BSpace BSpace BSpace
wait_for_row 5 "░░░    VESK main directory: c:/bbs/                                           ░░"
type_text "games"
wait_for "c:/bbs/games"
cursor_at 41 5
keys Enter
cursor_at 43 6
keys Down
cursor_at 29 11
keys Space
wait_for_row 11 "░░░░░░░░░░░░░░░░░░░░░░░░░░ [ ]  Backup when save    ░░░░░░░░░░░░░░░░░░░░░░░░░░░░"
keys Down Down
cursor_at 25 20
keys Enter
wait_for_exit 1
wait_for_row 1 "Configuration saved. Have a nice day!"
tty_restored
expect_record "c:/bbs/games/" "d:/bbs/quenda/" 00
[[ ! -s "$WORK/stdout.txt" ]] || fail "standard output carried: $(cat "$WORK/stdout.txt")"
pass
