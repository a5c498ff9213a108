# The terminal goes away under the program (the tmux server and its panes are
# killed, as when an SSH connection drops): the program ends within a second,
# saves nothing and does not spin. With SIGHUP ignored, as under nohup, the
# hang-up shows only as a failing read, which must end it just the same.
source "$(dirname "$0")/lib.sh"

# lose_terminal [env args...]: edits, then the terminal is taken away.
lose_terminal() {
    local pid
    write_record 'c:/keep/' 'd:/keep/' 01
    start "$@" TERM=xterm-256color LANG=C.UTF-8
    wait_for "VESK main directory: c:/keep/"
    pid=$(program_pid)
    type_text "unsaved"
    wait_for "c:/keep/unsaved"
    [[ -z "${SHRINK:-}" ]] || { resize 60 20; wait_for "needs a terminal of at least 80x25"; }
    "${T[@]}" kill-server
    wait_gone "$pid" 1
    file_untouched
    end_session
}

lose_terminal
# In a sanitizer build, LeakSanitizer's scan at exit can stall for tens of
# seconds in a process whose terminal has just hung up (its tracer waits for a
# thread that does not stop), so it is off for these runs; others check leaks.
no_leak_scan="ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
lose_terminal --ignore-signal=HUP "$no_leak_scan"
# While the size notice is up, a hang-up is seen just the same.
SHRINK=1 lose_terminal --ignore-signal=HUP "$no_leak_scan"
pass
