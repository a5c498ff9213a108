# A settings file that cannot be written: the terminal is given back (paste
# marking off again), the message is readable in it, the status is 0 and the
# old file is untouched.
source "$(dirname "$0")/lib.sh"

command -v chattr >/dev/null || { echo "SKIP: no chattr"; exit 77; }
printf '\x89\x63\0\0c:/old/' > "$WORK/quenda.cfg"
truncate -s 165 "$WORK/quenda.cfg"
cp "$WORK/quenda.cfg" "$WORK/original"
# Immutable: even root cannot open it for writing or rename over it.
chattr +i "$WORK/quenda.cfg" 2>/dev/null || { echo "SKIP: file system without immutable files"; exit 77; }

STDOUT_TO_TERMINAL=1 start TERM=xterm-256color LANG=C.UTF-8
record_output
wait_for "VESK main directory: c:/old/"
keys Up Up
cursor_at 25 20
keys Enter
wait_for_exit 0
wait_for "Disk error, cannot save quenda.cfg."
tty_restored
expect_pastes_marked off "after the disk error"
# The form is gone: the message stands in the terminal's own screen.
screen_text | grep -q "VESK main directory" && fail "the form is still on the screen"
chattr -i "$WORK/quenda.cfg"
cmp -s "$WORK/original" "$WORK/quenda.cfg" || fail "quenda.cfg changed"
ls -A "$WORK" | grep -q '^\.quenda' && fail "a temporary file was left behind"
pass
