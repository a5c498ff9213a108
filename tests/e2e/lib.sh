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
