# Ctrl+C, Ctrl+Z and Ctrl+\ typed at the keyboard are characters for the form,
# not signals: they land in the field as their code page 437 glyphs, the
# program keeps running, and they are saved as bytes 3, 26 and 28 (the store
# ends a directory with "/").
source "$(dirname "$0")/lib.sh"

start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/bbs/main/"
pid=$(program_pid)
keys C-c C-z 'C-\'
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/♥→∟                                   ░░"
cursor_at 44 5
process_gone "$pid" && fail "the program ended"
[[ "$(awk '{print $3}' "/proc/$pid/stat")" != T ]] || fail "the program was stopped"
keys Enter Down Down Down
cursor_at 25 20
keys Enter
wait_for_exit 1
tty_restored
expect_record $'c:/bbs/main/\x03\x1a\x1c/' "d:/bbs/quenda/" 01
pass
