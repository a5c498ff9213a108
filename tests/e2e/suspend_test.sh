# Job control from an interactive shell: SIGTSTP from outside gives the shell
# its screen and its terminal modes back while the program is stopped; fg
# brings the whole form back as it was and editing carries on; modes the
# operator changed meanwhile are the ones given back at the end. Paste marking
# is off while stopped and on again after fg. Ctrl+Z typed in the form is a
# character, never a stop. The shell is dash: bash would put its own modes
# back itself and hide what the program left.
source "$(dirname "$0")/lib.sh"

write_record 'c:/keep/' 'd:/keep/' 01
start_shell dash
record_output
shell_start_alone TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/keep/"
pid=$(program_pid)
type_text "ab"
keys C-z
wait_for "VESK main directory: c:/keep/ab→"
[[ "$(awk '{print $3}' "/proc/$pid/stat")" != T ]] || fail "Ctrl+Z stopped the program"
before=$(snapshot)

kill -s TSTP "$pid"
wait_for "Stopped"
shell_idle
expect_pastes_marked off "while stopped"
if screen_text | grep -q "VESK main directory"; then fail "the form stayed on the screen while stopped"; fi
[[ "$(awk '{print $3}' "/proc/$pid/stat")" == T ]] || fail "the program did not stop"
type_text 'stty -g > stty.stopped'
keys Enter
shell_idle
cmp -s "$WORK/stty.before" "$WORK/stty.stopped" ||
    fail "terminal modes while stopped: $(cat "$WORK/stty.stopped"), the shell's: $(cat "$WORK/stty.before")"
type_text 'stty -echoctl; stty -g > stty.changed'
keys Enter
shell_idle

# The shell's screen is cleared first, so only a full redraw can pass.
type_text 'clear; fg'
keys Enter
expect_snapshot "$before" "after fg"
expect_pastes_marked on "after fg"
type_text "cd"
wait_for "VESK main directory: c:/keep/ab→cd"
keys Enter Down Down Down
cursor_at 25 20
keys Enter
shell_finish
wait_for_exit 1
expect_pastes_marked off "at the end"
for ((i = 0; i < 100; i++)); do [[ -s "$WORK/stty.after" ]] && break; sleep 0.05; done
cmp -s "$WORK/stty.changed" "$WORK/stty.after" ||
    fail "terminal modes at the end: $(cat "$WORK/stty.after"), as set while stopped: $(cat "$WORK/stty.changed")"
expect_saved 'c:/keep/ab\x1acd/' "d:/keep/" 01
end_session

# SIGSTOP cannot be caught, and bash puts its own modes on the terminal while
# the job is stopped: after fg the form takes keys as before, not lines.
start_shell
record_output
shell_start_alone TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/keep/ab→cd/"
pid=$(program_pid)
kill -s STOP "$pid"
wait_for "Stopped"
wait_for 'e2e$'  # the prompt, over the form: nothing could take the form away
type_text 'fg'
keys Enter
wait_for "VESK main directory: c:/keep/ab→cd/ "
keys Down  # echoed as text by a terminal left in the shell's modes
cursor_at 37 6
expect_pastes_marked on "after SIGSTOP and fg"
keys Up Up Enter
shell_finish
wait_for_exit 2
pass
