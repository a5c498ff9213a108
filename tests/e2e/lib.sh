# Shared helpers for the end-to-end tests: the real binary in an 80x25 pane of a
# private tmux server, read back with capture-pane. Source it, then call start.
set -euo pipefail

BIN=$(realpath "${1:?usage: $0 path/to/quenda-setup}")
WORK=$(mktemp -d)
SOCKET="quenda-e2e-$$-$RANDOM"
T=(tmux -L "$SOCKET" -f /dev/null)

cleanup() {
    "${T[@]}" kill-server 2>/dev/null || true
    chattr -R -i "$WORK" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "---- pane ----" >&2
    "${T[@]}" capture-pane -p -t e2e 2>/dev/null >&2 || true
    echo "--------------" >&2
    exit 1
}

# start [VAR=value ...]: runs the program in $WORK with the given environment.
# The pane keeps running a shell afterwards so the closing screen can be read;
# the exit status lands in $WORK/status, the tty settings in stty.before/after.
# Standard output goes to $WORK/stdout.txt unless STDOUT_TO_TERMINAL=1;
# standard input is the terminal unless STDIN_FROM names a file.
start() {
    local env_args="" redirects=""
    local assignment
    for assignment in "$@"; do env_args+=" $(printf '%q' "$assignment")"; done
    [[ "${STDOUT_TO_TERMINAL:-0}" == 1 ]] || redirects+=" > stdout.txt"
    [[ -z "${STDIN_FROM:-}" ]] || redirects+=" < $(printf '%q' "$STDIN_FROM")"
    cat > "$WORK/run.sh" <<SCRIPT
cd $(printf '%q' "$WORK")
stty -g > stty.before
env$env_args $(printf '%q' "$BIN")$redirects
echo \$? > status
stty -g > stty.after
exec sleep 600
SCRIPT
    "${T[@]}" new-session -d -s e2e -x 80 -y 25 "bash $(printf '%q' "$WORK/run.sh")"
    "${T[@]}" set-option -t e2e status off >/dev/null
}

screen_text() { "${T[@]}" capture-pane -p -t e2e; }
screen_colours() { "${T[@]}" capture-pane -p -e -N -t e2e; }
keys() { "${T[@]}" send-keys -t e2e "$@"; }
# Literal bytes, for UTF-8 text and raw escape sequences.
type_text() { "${T[@]}" send-keys -t e2e -l "$1"; }

# wait_for TEXT [SECONDS]: polls the pane until TEXT appears.
wait_for() {
    local text=$1 limit=${2:-5} i
    for ((i = 0; i < limit * 20; i++)); do
        if screen_text | grep -qF -- "$text"; then return 0; fi
        sleep 0.05
    done
    fail "never saw: $text"
}

# wait_for_row N TEXT [SECONDS]: polls until row N (1-based) is exactly TEXT
# (trailing blanks ignored).
wait_for_row() {
    local row=$1 text=$2 limit=${3:-5} i actual
    for ((i = 0; i < limit * 20; i++)); do
        actual=$(screen_text | sed -n "${row}p" | sed 's/ *$//')
        [[ "$actual" == "$text" ]] && return 0
        sleep 0.05
    done
    fail "row $row is '$actual', expected '$text'"
}

# cursor_at COL ROW (1-based)
cursor_at() {
    local want="$1,$2" i got
    for ((i = 0; i < 100; i++)); do
        got=$("${T[@]}" display-message -p -t e2e '#{e}#{cursor_x},#{cursor_y}' | tr -d e)
        got="$((${got%,*} + 1)),$((${got#*,} + 1))"
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    fail "cursor at $got, expected $want"
}

# wait_for_exit STATUS: the program ended with STATUS.
wait_for_exit() {
    local want=$1 i
    for ((i = 0; i < 200; i++)); do
        if [[ -s "$WORK/status" ]]; then
            [[ "$(cat "$WORK/status")" == "$want" ]] || fail "exit status $(cat "$WORK/status"), expected $want"
            return 0
        fi
        sleep 0.05
    done
    fail "program did not exit"
}

# The terminal settings after the run equal those before it.
tty_restored() {
    local i
    for ((i = 0; i < 100; i++)); do [[ -s "$WORK/stty.after" ]] && break; sleep 0.05; done
    cmp -s "$WORK/stty.before" "$WORK/stty.after" || fail "stty differs: $(cat "$WORK/stty.before") vs $(cat "$WORK/stty.after")"
}

# expect_record MAIN EDITOR FLAGS_HEX [AUX_HEX]: quenda.cfg is exactly the
# 165-byte record with these fields and zero padding.
expect_record() {
    local main=$1 editor=$2 flags=$3 aux=${4:-0000}
    local expected
    expected=$(python3 - "$main" "$editor" "$flags" "$aux" <<'PY'
import sys
main, editor, flags, aux = sys.argv[1:]
rec = bytes([0x89, 0x63]) + bytes.fromhex(aux)
rec += main.encode('latin-1').ljust(80, b'\0') + editor.encode('latin-1').ljust(80, b'\0')
rec += bytes([int(flags, 16)])
assert len(rec) == 165
print(rec.hex())
PY
)
    [[ -f "$WORK/quenda.cfg" ]] || fail "no quenda.cfg"
    local actual
    actual=$(xxd -p "$WORK/quenda.cfg" | tr -d '\n')
    [[ "$actual" == "$expected" ]] || fail "quenda.cfg is $actual, expected $expected"
}

pass() { echo "PASS: $(basename "$0")"; }

# attr_row N: one letter per cell of row N for its colours, as the unit tests
# name them: N black on grey, B blue on grey, F bright white on blue, H bright
# white on cyan, T bright white on green, O black on cyan, P grey on black,
# d terminal default, ? anything else; r marks reverse video, u underline.
attr_row() {
    screen_colours | python3 -c '
import re, sys
row = int(sys.argv[1])
names = {("30","47"):"N", ("34","47"):"B", ("97","44"):"F", ("97","46"):"H",
         ("97","42"):"T", ("30","46"):"O", ("37","40"):"P", ("39","49"):"d"}
by_bg = {"44":"F", "46":"H", "42":"T", "47":"N", "40":"P", "49":"d"}
bg_of = {letter: pair[1] for pair, letter in names.items()}
# The capture states colours only where they change, across lines too.
fg, bg, rev, und = "39", "49", False, False
def letter():
    return "r" if rev else ("u" if und else names.get((fg, bg), "?"))
for number, line in enumerate(sys.stdin.read().split("\n"), start=1):
    out = []
    for params, char in re.findall(r"\x1b\[([0-9;]*)m|(.)", line):
        if char == "":
            params = params.split(";") if params else ["0"]
            i = 0
            while i < len(params):
                p = params[i]
                if p in ("0", ""): fg, bg, rev, und = "39", "49", False, False
                elif p == "7": rev = True
                elif p == "4": und = True
                elif p in ("38", "48"):
                    i += 2
                    fg, bg = (fg, "?") if p == "48" else ("?", bg)
                elif len(p) == 2 and p[0] in "39": fg = p
                elif len(p) == 2 and p[0] == "4": bg = p
                i += 1
            continue
        cell = letter()
        # A blank erased by the terminal keeps only its background colour.
        if char == " " and cell == "?" and not rev and not und:
            cell = out[-1] if out and bg_of.get(out[-1]) == bg else by_bg.get(bg, "?")
        out.append(cell)
    if number == row:
        # Blanks cleared to the line end are not in the capture; the terminal
        # filled them with the colours in force (back colour erase).
        fill = out[-1] if out and bg_of.get(out[-1]) == bg else letter()
        print("".join(out[:80]).ljust(80, fill))
        break
' "$1"
}

# runs SPEC: expands "B3 N25 F50" to BBBNNN...FFF.
runs() {
    local spec out="" part
    for part in $1; do out+=$(printf "%${part:1}s" "" | tr ' ' "${part:0:1}"); done
    echo "$out"
}

# expect_attr_row N SPEC: row N has exactly these colour runs.
expect_attr_row() {
    local row=$1 want i got
    want=$(runs "$2")
    for ((i = 0; i < 60; i++)); do
        got=$(attr_row "$row")
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    fail "row $row colours: got $got, expected $want"
}
