# Signals from outside end the program without saving, with the terminal given
# back (paste marking off again where it was on) and the status a shell reports
# for a death by that signal. SIGTSTP sent to a program that cannot stop
# (orphaned process group) leaves it working.
source "$(dirname "$0")/lib.sh"

# end_by SIGNAL STATUS TERM: edits without saving, then is sent SIGNAL.
end_by() {
    local signal=$1 status=$2 term=$3 pid
    write_record 'c:/keep/' 'd:/keep/' 01
    start TERM="$term" LANG=C.UTF-8
    record_output
    wait_for "VESK main directory: c:/keep/"
    pid=$(program_pid)
    type_text "unsaved"
    keys Down Down Space
    wait_for_row 11 "░░░░░░░░░░░░░░░░░░░░░░░░░░ [ ]  Backup when save    ░░░░░░░░░░░░░░░░░░░░░░░░░░░░"
    kill -s "$signal" "$pid"
    wait_for_exit "$status"
    tty_restored
    file_untouched
    [[ $term != *-256color ]] || expect_pastes_marked off "$signal under $term"
    if screen_text | grep -q '\$<'; then fail "$signal under $term: terminfo padding written as text"; fi
}

end_by TERM 143 xterm-256color
# The form's private screen is gone: the shell's own screen is back.
screen_text | grep -q "VESK main directory" && fail "SIGTERM left the form on the screen"
end_session

end_by HUP 129 tmux-256color
screen_text | grep -q "VESK main directory" && fail "SIGHUP left the form on the screen"
end_session

end_by INT 130 screen
end_session

# vt100 has no private screen to leave: the form stays, the cursor goes below
# it, and what the shell prints next lands there, not inside the form.
end_by QUIT 131 vt100
rows=$(screen_text)
grep -qx "░░░░░░░░░░░░░░░░░░░░░░░░░░ \[ \]  Backup when save    ░░░░░░░░░░░░░░░░░░░░░░░░░░░░" <<< "$rows" ||
    fail "the shell wrote into the form"
grep -A1 "^|  SPACE to set" <<< "$rows" | grep -q "Quit" ||
    fail "the shell's report of the signal is not on the line below the form"
end_session

# Started straight from tmux the program's process group is orphaned, so the
# kernel discards a stop: the program must carry on with the form intact.
write_record 'c:/bbs/main/' 'd:/bbs/quenda/' 01
start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory"
pid=$(program_pid)
kill -s TSTP "$pid"
type_text "go"
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/go                                    ░░"
cursor_at 43 5
keys Down Up Up
cursor_at 25 21
keys Enter
wait_for_exit 2
tty_restored
pass
