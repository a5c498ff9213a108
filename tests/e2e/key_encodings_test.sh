# The encodings terminals send for the keys the form uses, sent as raw bytes:
# CSI and SS3 arrows, the Home and End variants, Delete, both Backspace bytes,
# Shift+arrow, keypad Enter; unknown sequences (also ones cut short by the
# next sequence) are swallowed whole; UTF-8 letters and symbols arrive as their
# code page 437 byte, and α is a letter, not a prefix. Reports a terminal sends unasked vanish, and a
# real paste is text: it never moves the focus nor touches an option, and the
# terminal marks pastes only while the program runs.
source "$(dirname "$0")/lib.sh"

# raw COL HEX...: sends the bytes as one write, then expects the cursor at COL.
raw() {
    local col=$1
    shift
    keys -H "$@"
    cursor_at "$col" 5
}

start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/bbs/main/"
cursor_at 41 5
raw 40 1b 5b 44          # CSI D, Left
raw 39 1b 4f 44          # SS3 D
raw 40 1b 5b 43          # CSI C, Right
raw 41 1b 4f 43          # SS3 C
raw 29 1b 5b 48          # CSI H, Home
raw 41 1b 5b 46          # CSI F, End
raw 29 1b 4f 48          # SS3 H
raw 41 1b 4f 46          # SS3 F
raw 29 1b 5b 31 7e       # CSI 1 ~
raw 41 1b 5b 34 7e       # CSI 4 ~
raw 29 1b 5b 37 7e       # CSI 7 ~
raw 41 1b 5b 38 7e       # CSI 8 ~
raw 40 1b 5b 31 3b 32 44 # CSI 1;2 D, Shift+Left
raw 40 1b 5b 33 7e       # CSI 3 ~, Delete: the final "/" goes
wait_for_row 5 "░░░    VESK main directory: c:/bbs/main                                       ░░"
raw 39 7f                # Backspace as DEL
raw 38 08                # Backspace as BS
wait_for_row 5 "░░░    VESK main directory: c:/bbs/ma                                         ░░"
# Nothing may come of these (the row checked after the typing below shows it):
# an unknown key, Ctrl+Up, a Linux console F1 whose sequence is cut short by an
# arrow's, F5 and Alt+x.
raw 38 1b 5b 39 39 7e
raw 38 1b 5b 31 3b 35 41
raw 37 1b 5b 5b 1b 5b 44  # ... the arrow still counts: Left
raw 37 1b 5b 31 35 7e 1b 78
type_text "äα"
type_text "H"
wait_for_row 5 "░░░    VESK main directory: c:/bbs/mäαHa                                      ░░"
cursor_at 40 5
# A paste whose end marker comes in two reads, as over a slow link: the pause
# inside the marker must neither end the paste early nor leave "1~" as text.
keys -H 1b 5b 32 30 30 7e 6a 0d 6b 1b 5b 32 30
sleep 0.1
keys -H 31 7e
wait_for_row 5 "░░░    VESK main directory: c:/bbs/mäαHjka                                    ░░"
cursor_at 42 5
# A colour reply in two pieces, the same way: its tail is no text either.
keys -H 1b 5d 31 31 3b 72 67 62 3a 30 30
sleep 0.1
keys -H 30 30 2f 30 30 30 30 07 7a
wait_for_row 5 "░░░    VESK main directory: c:/bbs/mäαHjkza                                   ░░"
cursor_at 43 5
keys -H 1b 5b 42          # CSI B, Down
cursor_at 43 6
keys -H 1b 4f 41          # SS3 A, Up
cursor_at 44 5
keys -H 0d                # Enter
cursor_at 43 6
keys Up Up Enter
wait_for_exit 2
tty_restored
end_session

for term in xterm-256color tmux-256color; do
    start_shell dash
    record_output
    # Keypad Enter comes as a line feed, or as ESC O M where a program has
    # left the keypad in application mode: Enter either way.
    if [[ $term == tmux-256color ]]; then type_text "printf '\\033='"; keys Enter; shell_idle; fi
    shell_start TERM=$term LANG=C.UTF-8
    wait_for "VESK main directory: c:/bbs/main/"
    cursor_at 41 5
    expect_pastes_marked on "the form under $term"
    keys -H 1b 5d 31 31 3b 72 67 62 3a 30 30 30 30 2f 30 30 30 30 2f 30 30 30 30 07  # OSC 11 reply
    keys -H 1b 50 31 24 72 30 6d 1b 5c                                               # DCS reply
    keys -H 1b 5b 4d 20 21 21 1b 5b 4d 23 21 21                                      # X10 click
    keys -H 1b 5f 47 1b 5c 1b 5e 78 1b 5c 1b 58 78 07                                # APC, PM, SOS
    type_text "§"   # a code page 437 symbol whose byte, 0x15, is a control code
    wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/§                                     ░░"
    # Two lines into the main directory: the line break and the Tab go, a
    # backslash is a slash; the focus stays.
    paste_text $'one\\two\n three\tfour\n'
    wait_for_row 5 "░░░    VESK main directory: c:/bbs/main/§one/two threefour                    ░░"
    cursor_at 59 5
    keys KPEnter Down
    cursor_at 29 11
    # Onto an option: nothing, neither its spaces, its line breaks nor Enter.
    paste_text $' x \n \n'
    keys KPEnter Down
    cursor_at 29 12
    keys Down KPEnter
    wait_for_exit 1
    expect_pastes_marked off "the program's end under $term"
    # Once the program has ended a paste arrives unmarked.
    shell_idle
    type_text 'cat -v > after.txt'
    keys Enter
    paste_text 'after'
    keys Enter C-d
    shell_idle
    [[ "$(cat "$WORK/after.txt")" == after ]] || fail "a paste after the end under $term arrived as: $(cat "$WORK/after.txt")"
    tty_restored
    expect_record $'c:/bbs/main/\x15one/two threefour/' "d:/bbs/quenda/" 01
    end_session
    rm -f "$WORK/quenda.cfg"
done
pass
