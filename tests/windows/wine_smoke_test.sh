#!/usr/bin/env bash
# End to end under Wine: quenda-setup.exe in an 80x25 pane of a private tmux
# server, its screen read back cell by cell with colours, keys typed into it,
# the settings file and exit status checked.
#
# usage: wine_smoke_test.sh path/to/quenda-setup.exe
# Uses $WINEPREFIX when set (the caller owns it), else makes a private one.
set -euo pipefail

EXE=$(realpath "${1:?usage: $0 path/to/quenda-setup.exe}")
WORK=$(mktemp -d)
SOCKET="quenda-wine-$$-$RANDOM"
# tmux runs pane commands with $SHELL, else the login shell, which for a
# service account such as nobody is nologin: name a real one.
T=(env SHELL=/bin/sh tmux -L "$SOCKET" -f /dev/null)
OWN_PREFIX=0
if [[ -z "${WINEPREFIX:-}" ]]; then
    export WINEPREFIX="$WORK/prefix"
    OWN_PREFIX=1
fi
export WINEDEBUG=-all

cleanup() {
    "${T[@]}" kill-server 2>/dev/null || true
    if ((OWN_PREFIX)); then wineserver -k 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

RUN=""
fail() {
    echo "FAIL: $*" >&2
    echo "---- pane ----" >&2
    "${T[@]}" capture-pane -p -t "$RUN" >&2 2>/dev/null || true
    echo "--------------" >&2
    exit 1
}

# start NAME: runs the program in $WORK/NAME, in a pane of its own. Standard
# output stays on the pane: Wine's terminal console shows nothing once it is
# redirected. The exit status lands in $WORK/NAME/status.
start() {
    RUN=$1
    mkdir -p "$WORK/$RUN"
    cat > "$WORK/$RUN/run.sh" <<SCRIPT
cd $(printf '%q' "$WORK/$RUN")
env LANG=C.UTF-8 wine $(printf '%q' "$EXE") 2> stderr.txt
echo \$? > status
exec sleep 600
SCRIPT
    if "${T[@]}" has-session 2>/dev/null; then
        "${T[@]}" new-window -d -n "$RUN" "bash $(printf '%q' "$WORK/$RUN/run.sh")"
    else
        "${T[@]}" new-session -d -s quenda -n "$RUN" -x 80 -y 25 "bash $(printf '%q' "$WORK/$RUN/run.sh")"
        "${T[@]}" set-option -t quenda status off >/dev/null
    fi
    RUN="quenda:$RUN"
    local size
    size=$("${T[@]}" display-message -p -t "$RUN" '#{pane_width}x#{pane_height}')
    [[ "$size" == 80x25 ]] || fail "pane is $size, not 80x25"
}

keys() { "${T[@]}" send-keys -t "$RUN" "$@"; }
type_text() { "${T[@]}" send-keys -t "$RUN" -l "$1"; }

# The pane as screen literals, one row per line: runs of one PC attribute as
# {L:text} (N normal, B backdrop, F field, H highlight, T box title, O box,
# P plain, ?xx any other), '^' before the cursor cell, '|' at the row end.
screen_literal() {
    local cursor
    cursor=$("${T[@]}" display-message -p -t "$RUN" '#{cursor_x} #{cursor_y}')
    "${T[@]}" capture-pane -p -e -N -t "$RUN" | python3 -c '
import re, sys
col, row = map(int, sys.argv[1].split())
# ANSI colour order to PC palette order, and PC attributes to letters.
PC = [0, 4, 2, 6, 1, 5, 3, 7]
LETTER = {0x70: "N", 0x71: "B", 0x1F: "F", 0x3F: "H", 0x2F: "T", 0x30: "O", 0x07: "P"}
fg, bg = 7, 0  # the terminal default is light grey on black
out = []
for y, line in enumerate(sys.stdin.read().split("\n")[:25]):
    text, run, x = "", None, 0
    for m in re.finditer(r"\x1b\[([0-9;]*)m|(.)", line):
        if m.group(2) is None:
            for p in [int(p or 0) for p in m.group(1).split(";")]:
                if p == 0: fg, bg = 7, 0
                elif 30 <= p <= 37: fg = PC[p - 30]
                elif 90 <= p <= 97: fg = PC[p - 90] + 8
                elif p == 39: fg = 7
                elif 40 <= p <= 47: bg = PC[p - 40]
                elif 100 <= p <= 107: bg = PC[p - 100] + 8
                elif p == 49: bg = 0
            continue
        attr = bg << 4 | fg
        if attr != run:
            text += ("}" if run is not None else "") + "{" + LETTER.get(attr, "?%02X" % attr) + ":"
            run = attr
        text += ("^" if (x, y) == (col, row) else "") + m.group(2)
        x += 1
    out.append(text + ("}" if run is not None else "") + "|")
print("\n".join(out))
' "$cursor"
}

shade() { local s; printf -v s '%*s' "$1" ''; echo "${s// /░}"; }
blanks() { printf '%*s' "$1" ''; }

# The whole form as it first appears with the built-in defaults.
initial_form() {
    local backdrop="{B:$(shade 80)}|" row
    echo "{N:  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS          }|"
    for row in 2 3 4; do echo "$backdrop"; done
    echo "{B:$(shade 3)}{N:    VESK main directory: }{H:c:/bbs/main/}{F:^$(blanks 38)}{B:$(shade 2)}|"
    echo "{B:$(shade 3)}{N:       Quenda directory: }{F:d:/bbs/quenda/$(blanks 36)}{B:$(shade 2)}|"
    for row in 7 8 9; do echo "$backdrop"; done
    echo "{B:$(shade 26)}{T:    Main toggless         }{B:$(shade 28)}|"
    echo "{B:$(shade 26)}{O: [X]  Backup when save    }{B:$(shade 28)}|"
    echo "{B:$(shade 26)}{O: [ ]  Create logfile      }{B:$(shade 28)}|"
    for row in 13 14 15 16 17 18 19; do echo "$backdrop"; done
    echo "{B:$(shade 24)}{N:[       Save and exit       ]}{B:$(shade 27)}|"
    echo "{B:$(shade 24)}{N:[    Exit without saving    ]}{B:$(shade 27)}|"
    for row in 22 23 24; do echo "$backdrop"; done
    echo "{N:|  SPACE to set  |  up/down to select  |  Main Menu$(blanks 29)}|"
}

# wait_for_screen EXPECTED [SECONDS]: polls until the whole pane is EXPECTED;
# on timeout prints both, marking the rows that differ.
wait_for_screen() {
    local expected=$1 deadline=$((SECONDS + ${2:-10})) actual
    while :; do
        actual=$(screen_literal)
        [[ "$actual" == "$expected" ]] && return 0
        ((SECONDS < deadline)) || break
        sleep 0.05
    done
    diff <(echo "$expected") <(echo "$actual") | sed 's/^</  expected/; s/^>/  actual  /' >&2 || true
    fail "the screen is not the expected one"
}

# wait_for_row N LITERAL: polls until row N of the screen literal is LITERAL.
wait_for_row() {
    local row=$1 expected=$2 deadline=$((SECONDS + 10)) actual
    while :; do
        actual=$(screen_literal | sed -n "${row}p")
        [[ "$actual" == "$expected" ]] && return 0
        ((SECONDS < deadline)) || break
        sleep 0.05
    done
    fail "row $row is
  $actual
expected
  $expected"
}

cursor_is() { [[ "$("${T[@]}" display-message -p -t "$RUN" '#{cursor_x},#{cursor_y}')" == "$1" ]]; }

# wait_for_form SECONDS: the initial form is shown and takes keys. Wine's
# console takes the terminal's input only some time after the form is drawn,
# and a key sent before that can be lost; so Home is sent until the cursor
# answers (repeating it is harmless), then End puts the cursor back.
wait_for_form() {
    wait_for_screen "$(initial_form)" "$1"
    local deadline=$((SECONDS + 30)) i
    while :; do
        type_text $'\e[H'
        for ((i = 0; i < 20; i++)); do
            cursor_is 28,4 && break 2
            sleep 0.1
        done
        ((SECONDS < deadline)) || fail "the program never took a key"
    done
    type_text $'\e[F'
    wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:c:/bbs/main/^$(blanks 38)}{B:$(shade 2)}|"
}

wait_for_exit() {
    local want=$1 status="$WORK/${RUN#quenda:}/status" deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        if [[ -s "$status" ]]; then
            [[ "$(cat "$status")" == "$want" ]] || fail "exit status $(cat "$status"), expected $want"
            return 0
        fi
        sleep 0.05
    done
    fail "the program did not exit"
}

# expect_file HEX: quenda.cfg of the current run is exactly these bytes.
expect_file() {
    local file="$WORK/${RUN#quenda:}/quenda.cfg" actual
    [[ -f "$file" ]] || fail "no quenda.cfg"
    actual=$(od -An -v -tx1 "$file" | tr -d ' \n')
    [[ "$actual" == "$1" ]] || fail "quenda.cfg is
  $actual
expected
  $1"
}

# record MAIN_HEX EDITOR_HEX FLAGS_HEX: the 165-byte record, directories NUL-padded.
record() {
    python3 -c '
import sys
main, editor, flags = (bytes.fromhex(a) for a in sys.argv[1:])
rec = b"\x89\x63\x00\x00" + main.ljust(80, b"\0") + editor.ljust(80, b"\0") + flags
assert len(rec) == 165
print(rec.hex())' "$@"
}
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# The operator's typical run, from the defaults to "Save and exit".
start typical
wait_for_form 60
keys BSpace BSpace BSpace BSpace BSpace
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:c:/bbs/^$(blanks 43)}{B:$(shade 2)}|"
type_text "games"
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:c:/bbs/games^$(blanks 38)}{B:$(shade 2)}|"
keys Enter
wait_for_row 6 "{B:$(shade 3)}{N:       Quenda directory: }{H:d:/bbs/quenda/}{F:^$(blanks 36)}{B:$(shade 2)}|"
keys Down
wait_for_row 11 "{B:$(shade 26)}{H: [^X]  Backup when save    }{B:$(shade 28)}|"
keys Space
wait_for_row 11 "{B:$(shade 26)}{H: [^ ]  Backup when save    }{B:$(shade 28)}|"
keys Down
keys Down
wait_for_row 20 "{B:$(shade 24)}{P:^[       Save and exit       ]}{B:$(shade 27)}|"
keys Enter
wait_for_exit 1
expect_file "$(record "$(hex c:/bbs/games/)" "$(hex d:/bbs/quenda/)" 00)"
# The closing line stays on the console's own screen.
wait_for_row 1 "{P:Configuration saved. Have a nice day!}|"
[[ ! -s "$WORK/typical/stderr.txt" ]] || fail "standard error carried: $(cat "$WORK/typical/stderr.txt")"
echo "PASS: typical run"

# Typed α (224) and ä are characters of code page 437, never a key prefix;
# Home, End and Delete edit; a lone Esc and a key Wine cannot name change nothing.
start characters
wait_for_form 30
type_text "αHä"
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:c:/bbs/main/αHä^$(blanks 35)}{B:$(shade 2)}|"
type_text $'\e[H'  # Home as tmux's terminal sends it
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:^c:/bbs/main/αHä$(blanks 35)}{B:$(shade 2)}|"
type_text $'\e[1~'  # Home in another encoding: Wine gives no key code for it
keys Escape
keys DC
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F:^:/bbs/main/αHä$(blanks 36)}{B:$(shade 2)}|"
type_text $'\e[F'  # End
wait_for_row 5 "{B:$(shade 3)}{N:    VESK main directory: }{F::/bbs/main/αHä^$(blanks 36)}{B:$(shade 2)}|"
keys Enter
wait_for_row 6 "{B:$(shade 3)}{N:       Quenda directory: }{H:d:/bbs/quenda/}{F:^$(blanks 36)}{B:$(shade 2)}|"
keys Up
keys Up
wait_for_row 21 "{B:$(shade 24)}{P:^[    Exit without saving    ]}{B:$(shade 27)}|"
keys Up
wait_for_row 20 "{B:$(shade 24)}{P:^[       Save and exit       ]}{B:$(shade 27)}|"
keys Enter
wait_for_exit 1
expect_file "$(record "$(hex :/bbs/main/)e048842f" "$(hex d:/bbs/quenda/)" 01)"
echo "PASS: code page 437 characters and editing keys"

# A settings file that cannot be written: the form is given back first, then
# the message follows on standard output and the status is 0.
mkdir -p "$WORK/disk_error/quenda.cfg"
start disk_error
wait_for_form 30
keys Up
keys Up
wait_for_row 20 "{B:$(shade 24)}{P:^[       Save and exit       ]}{B:$(shade 27)}|"
keys Enter
wait_for_exit 0
wait_for_row 2 "{P:Disk error, cannot save quenda.cfg.}|"
[[ -d "$WORK/disk_error/quenda.cfg" ]] || fail "quenda.cfg is no longer the directory it was"
echo "PASS: disk error"

# Without a console there is no form: a message and status 3, nothing waits.
mkdir -p "$WORK/no_console"
status=0
(cd "$WORK/no_console" && timeout 60 setsid wine "$EXE" < /dev/null > stdout.txt 2> stderr.txt) || status=$?
[[ $status == 3 ]] || fail "without a console the status is $status, expected 3"
grep -q "no console" "$WORK/no_console/stderr.txt" || fail "no message on standard error: $(cat "$WORK/no_console/stderr.txt")"
[[ ! -s "$WORK/no_console/stdout.txt" ]] || fail "standard output carried: $(cat "$WORK/no_console/stdout.txt")"
echo "PASS: no console"

# The command line, also without a console: --help and --version answer on
# standard output with status 0, another argument is refused in one line on
# standard error with 64; reaching for the console there would end with 3.
mkdir -p "$WORK/command_line"
# command_line ARG...: sets $status; output in out.txt and err.txt, CRs dropped.
command_line() {
    status=0
    (cd "$WORK/command_line" && timeout 60 setsid wine "$EXE" "$@" < /dev/null > out.raw 2> err.raw) || status=$?
    tr -d '\r' < "$WORK/command_line/out.raw" > "$WORK/command_line/out.txt"
    tr -d '\r' < "$WORK/command_line/err.raw" > "$WORK/command_line/err.txt"
}
command_line --version
[[ $status == 0 ]] || fail "--version: status $status, expected 0"
grep -Eqx 'quenda-setup [0-9]+\.[0-9]+\.[0-9]+' <(head -n 1 "$WORK/command_line/out.txt") ||
    fail "--version: $(cat "$WORK/command_line/out.txt")"
command_line --help
[[ $status == 0 ]] || fail "--help: status $status, expected 0"
grep -q '^Usage: quenda-setup ' "$WORK/command_line/out.txt" || fail "--help: $(cat "$WORK/command_line/out.txt")"
command_line --version --bogus
[[ $status == 64 ]] || fail "--version --bogus: status $status, expected 64"
[[ ! -s "$WORK/command_line/out.txt" ]] || fail "--bogus: standard output carried: $(cat "$WORK/command_line/out.txt")"
[[ "$(cat "$WORK/command_line/err.txt")" == *"'--bogus'"*--help* ]] ||
    fail "--bogus: standard error: $(cat "$WORK/command_line/err.txt")"
[[ $(wc -l < "$WORK/command_line/err.txt") == 1 ]] || fail "--bogus: not one line on standard error"
[[ ! -e "$WORK/command_line/quenda.cfg" ]] || fail "the command line created quenda.cfg"
echo "PASS: command line"
