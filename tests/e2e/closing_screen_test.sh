# The closing message stays readable after the program has ended, and the form
# does not: on a terminal with a screen of its own to leave (xterm) the line is
# written under what was there before; without one (vt100) the closing screen
# itself is what remains.
source "$(dirname "$0")/lib.sh"

start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory"
keys Up Enter
wait_for_exit 2
wait_for_row 1 "Exit without saving. Have a very nice day!"
screen_text | grep -q "VESK main directory" && fail "the form is still on the screen (xterm)"
tty_restored
end_session

start TERM=vt100 LANG=C.UTF-8
wait_for "VESK main directory"
keys Up Up Enter
wait_for_exit 1
wait_for_row 3 "Configuration saved. Have a nice day!"
screen_text | grep -q "VESK main directory" && fail "the form is still on the screen (vt100)"
[[ "$(screen_text | grep -c 'Have a nice day')" == 1 ]] || fail "the closing line appears more than once"
# Without colours the form's plain look is reverse video; the closing screen
# must be left as ordinary text.
[[ -z "$(pane_rows looks | tr -d 'd\n')" ]] || fail "the closing screen is not plain text: $(pane_rows looks | sort -u)"
tty_restored
pass
