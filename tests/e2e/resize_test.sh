# Resizing: below 80x25 a notice replaces the form; back at 80x25 (or larger)
# the form returns exactly as it was, focus look and cursor included. Keys
# typed meanwhile, or between resizes, are all kept.
source "$(dirname "$0")/lib.sh"

# shrink_and_grow WHAT: the pane goes small, then back; it must look as before.
shrink_and_grow() {
    local before
    before=$(snapshot)
    resize 60 20
    wait_for "quenda-setup needs a terminal of at least 80x25."
    wait_for "This one is 60x20: please enlarge it."
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

# Keys typed while the notice is up wait until the form is back.
resize 70 20
wait_for "This one is 70x20"
type_text "cd"
resize 80 25
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
pass
