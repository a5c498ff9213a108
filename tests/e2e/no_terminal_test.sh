# Without a terminal to show the form on the program says so on standard error
# and ends at once with status 3, touching nothing: with no controlling terminal
# at all (setsid, input from /dev/null), and in a terminal whose type is unknown
# (empty included, and said to be so) or cannot place the cursor.
source "$(dirname "$0")/lib.sh"

write_record 'c:/keep/' 'd:/keep/' 01
status=0
(cd "$WORK" && timeout 3 setsid -w "$BIN" < /dev/null > "$WORK/out" 2> "$WORK/err") || status=$?
[[ $status == 3 ]] || fail "no controlling terminal: status $status, expected 3; stderr: $(cat "$WORK/err")"
grep -q "^quenda-setup: there is no terminal to show the form on" "$WORK/err" ||
    fail "no controlling terminal: unclear message: $(cat "$WORK/err")"
[[ ! -s "$WORK/out" ]] || fail "standard output carried: $(cat "$WORK/out")"
file_untouched

# in_terminal TERM MESSAGE [SHOWN]: run in a pane under TERM, which cannot
# work; the message names it as SHOWN (default TERM itself).
in_terminal() {
    start TERM="$1" LANG=C.UTF-8
    wait_for_exit 3
    tty_restored
    wait_for "quenda-setup: the terminal type TERM=${3:-$1} $2"
    file_untouched
    [[ ! -s "$WORK/stdout.txt" ]] || fail "standard output carried: $(cat "$WORK/stdout.txt")"
    end_session
}
in_terminal no-such-terminal "is not known here"
in_terminal dumb "cannot place the cursor"
in_terminal "" "is not known here" '""'
pass
