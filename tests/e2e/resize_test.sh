# Resizing: below 80x25 a notice replaces the form; back at 80x25 (or larger)
# the form returns exactly as it was, focus look and cursor included. Keys
# typed between resizes are all kept; keys typed at the notice are dropped,
# but Esc or Ctrl+C there leaves without saving. The size is the terminal's,
# whatever LINES says; LINES and COLUMNS serve where the terminal reports none.
source "$(dirname "$0")/lib.sh"

# shrink_and_grow WHAT: the pane goes small, then back; it must look as before.
shrink_and_grow() {
    local before
    before=$(snapshot)
    resize 60 20
    wait_for "quenda-setup needs a terminal of at least 80x25."
    wait_for "This one is 60x20: please enlarge it."
    wait_for "Esc or Ctrl+C: leave without saving."
    resize 79 30
    wait_for "This one is 79x30: please enlarge it."
    resize 80 25
    expect_snapshot "$before" "$1"
}

start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/bbs/main/"
cursor_at 41 5
shrink_and_grow "the first field in its first look"
type_text "ab"
wait_for "c:/bbs/main/ab"
cursor_at 43 5
shrink_and_grow "the first field while editing"

# Keys typed while the notice is up act on nothing, then or later; ♥ is no
# Ctrl+C, though its byte is 3.
resize 79 25
wait_for "This one is 79x25"
type_text "q♥"
keys Up Up Enter Space Down
type_text "cd"
resize 80 25
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/ab                                    ░░"
cursor_at 43 5
type_text "cd"
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/abcd                                  ░░"
cursor_at 45 5

# Resizes in the middle of typing lose nothing.
for ch in e f g h i j; do
    type_text "$ch"
    resize 81 26
    type_text "${ch^^}"
    resize 80 25
done
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/abcdeEfFgGhHiIjJ                      ░░"
cursor_at 57 5

keys Enter Down
cursor_at 29 11
shrink_and_grow "an option with focus"
keys Down Down
cursor_at 25 20
shrink_and_grow "a button with focus"

# Larger than the form: the form at the top left, the rest blank.
want=$(pane_rows | sed 's/$/                    /'; for row in 26 27 28 29 30; do printf '%100s\n' ''; done)
resize 100 30
expect_pane "$want" "the form in a 100x30 terminal"
cursor_at 25 20

keys Enter
wait_for_exit 1
tty_restored
expect_record "c:/bbs/main/abcdeEfFgGhHiIjJ/" "d:/bbs/quenda/" 01
end_session

# Started in a terminal too small, Esc at the notice leaves without saving.
write_record 'c:/keep/' 'd:/keep/' 01
PANE_SIZE=80x24 start TERM=xterm-256color LANG=C.UTF-8
wait_for "This one is 80x24: please enlarge it."
keys q Escape
wait_for_exit 2
tty_restored
file_untouched
wait_for "Exit without saving. Have a very nice day!"
end_session

# So does Ctrl+C, also after edits made before the terminal shrank.
start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/keep/"
type_text "unsaved"
resize 60 20
wait_for "Esc or Ctrl+C: leave without saving."
keys C-c
wait_for_exit 2
tty_restored
file_untouched
end_session

# A stale LINES=24 from a shell profile in an 80x25 terminal: the form.
start TERM=xterm-256color LANG=C.UTF-8 LINES=24 COLUMNS=79
wait_for "VESK main directory: c:/keep/"
keys Up Enter
wait_for_exit 2
end_session

# A terminal that reports no size (a serial line): LINES and COLUMNS say it.
PANE_STTY="rows 0 cols 0" start TERM=xterm-256color LANG=C.UTF-8 LINES=25 COLUMNS=80
wait_for "VESK main directory: c:/keep/"
keys Up Enter
wait_for_exit 2
tty_restored
pass
