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

# Every signal whose default action ends the program, a crash's among them.
terms=(xterm-256color tmux-256color screen) n=0
for signal in TERM HUP INT QUIT SEGV ABRT BUS FPE ILL TRAP SYS XCPU XFSZ USR1 USR2 ALRM VTALRM PROF; do
    end_by "$signal" $((128 + $(kill -l "$signal"))) "${terms[n++ % 3]}"
    screen_text | grep -q "VESK main directory" && fail "SIG$signal left the form on the screen"
    [[ $("${T[@]}" display-message -p -t e2e '#{cursor_flag}') == 1 ]] || fail "SIG$signal left the cursor hidden"
    end_session
done

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
# kernel discards a stop: the program must carry on with the form intact. Nor
# may a file size limit stop it (SIGXFSZ at its default): only the save fails.
write_record 'c:/bbs/main/' 'd:/bbs/quenda/' 01
RUN_WITH="prlimit --fsize=0 --" STDOUT_TO_TERMINAL=1 start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory"
pid=$(program_pid)
((0x$(awk '/^SigIgn/ { print $2 }' "/proc/$pid/status") >> ($(kill -l XFSZ) - 1) & 1)) && fail "SIGXFSZ ignored"
kill -s TSTP "$pid"
type_text "go"
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/go                                    ░░"
cursor_at 43 5
keys Down Up Up Up Enter
wait_for_exit 0
wait_for "Disk error, cannot save quenda.cfg."
tty_restored
pass
