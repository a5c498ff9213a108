# Shared helpers for the end-to-end tests: the real binary in an 80x25 pane of a
# private tmux server, read back with capture-pane. Source it, then call start.
set -euo pipefail
# The helpers count characters of screen rows: this shell reads UTF-8 whatever
# the caller's locale, and the programs get only the locale each test names.
unset "${!LC_@}"
LC_ALL=C.UTF-8

BIN=$(realpath "${1:?usage: $0 path/to/quenda-setup}")
WORK=$(mktemp -d)
# new_server: the next session gets a tmux server of its own. A server being
# killed can still answer on its socket for a moment; a fresh name never meets it.
SERVERS=0
new_server() {
    SERVERS=$((SERVERS + 1))
    # tmux runs pane commands with $SHELL, else the login shell, which for a
    # service account such as nobody is nologin: name a real one.
    T=(env SHELL=/bin/sh tmux -L "quenda-e2e-$$-$RANDOM-$SERVERS" -f /dev/null)
}
new_server

cleanup() {
    "${T[@]}" kill-server 2>/dev/null || true
    chattr -R -i "$WORK" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "---- pane ----" >&2
    "${T[@]}" capture-pane -p -t e2e >&2 2>/dev/null || true
    echo "--------------" >&2
    exit 1
}

# start [VAR=value ...]: runs the program in $WORK with the given environment.
# The pane keeps running a shell afterwards so the closing screen can be read;
# the exit status lands in $WORK/status, the tty settings in stty.before/after.
# Standard output goes to $WORK/stdout.txt unless STDOUT_TO_TERMINAL=1;
# standard input is the terminal unless STDIN_FROM names a file. The pane is
# PANE_SIZE (default 80x25); PANE_STTY is applied to it before the run (e.g.
# "rows 0 cols 0", a terminal that reports no size); RUN_WITH precedes the command.
start() {
    local env_args="" redirects=""
    local assignment
    for assignment in "$@"; do env_args+=" $(printf '%q' "$assignment")"; done
    [[ "${STDOUT_TO_TERMINAL:-0}" == 1 ]] || redirects+=" > stdout.txt"
    [[ -z "${STDIN_FROM:-}" ]] || redirects+=" < $(printf '%q' "$STDIN_FROM")"
    cat > "$WORK/run.sh" <<SCRIPT
cd $(printf '%q' "$WORK")
${PANE_STTY:+stty $PANE_STTY}
stty -g > stty.before
${RUN_WITH:-} env$env_args $(printf '%q' "$BIN")$redirects
echo \$? > status
stty -g > stty.after
exec sleep 600
SCRIPT
    local size=${PANE_SIZE:-80x25}
    "${T[@]}" new-session -d -s e2e -x "${size%x*}" -y "${size#*x}" "bash $(printf '%q' "$WORK/run.sh")"
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

# runs LAYOUT: expands "B3 N25 F50" to BBBNNN...FFF.
runs() {
    local out="" part
    for part in $1; do out+=$(printf "%${part:1}s" "" | tr ' ' "${part:0:1}"); done
    echo "$out"
}

# ---- Signals, job control, resizes and the raw output ----

# end_session: stops the tmux server (a program still running gets SIGHUP) and
# forgets the last run, so that one script can run the program several times.
end_session() {
    "${T[@]}" kill-server 2>/dev/null || true
    new_server
    rm -f "$WORK"/status "$WORK"/stty.* "$WORK"/stdout.txt "$WORK"/output.raw
}

# program_pid: the pid of the program in the pane (a child of the pane's
# process or further down), once it has started.
program_pid() {
    local i pid queue
    for ((i = 0; i < 100; i++)); do
        queue=$("${T[@]}" display-message -p -t e2e '#{pane_pid}' 2>/dev/null || true)
        while [[ -n "$queue" ]]; do
            pid=${queue%% *}
            [[ "$queue" == *" "* ]] && queue=${queue#* } || queue=""
            if [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$BIN" ]]; then
                echo "$pid"
                return 0
            fi
            queue="$queue $(cat /proc/"$pid"/task/*/children 2>/dev/null | tr '\n' ' ')"
            queue=$(echo $queue)
        done
        sleep 0.05
    done
    fail "the program is not running in the pane"
}

# process_gone PID: the process has ended (a zombie nobody reaps counts as ended).
process_gone() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
    [[ -z "$state" || "$state" == Z || "$state" == X ]]
}

# cpu_per_second PID: clock ticks of CPU the process uses over one second
# (100 is one core spinning).
cpu_per_second() {
    local a b
    a=$(awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null) || { echo "gone"; return; }
    sleep 1
    b=$(awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null) || { echo "gone"; return; }
    echo $((b - a))
}

# wait_gone PID [SECONDS]: the process ends within SECONDS (default 1). A
# survivor is reported with the CPU it burns, to tell a hang from a busy loop.
wait_gone() {
    local pid=$1 limit=${2:-1} i
    for ((i = 0; i < limit * 20; i++)); do
        process_gone "$pid" && return 0
        sleep 0.05
    done
    fail "process $pid still runs after ${limit}s, using $(cpu_per_second "$pid") CPU ticks a second"
}

# start_shell [dash]: an interactive bash (or dash) in the pane, in $WORK,
# prompt "e2e$ ", for job control (a program tmux starts directly sits in an
# orphaned process group, where the kernel discards SIGTSTP). bash puts its own
# terminal modes back whenever a job stops or ends; dash leaves them as the job
# left them, so with dash the modes a program leaves can be read.
start_shell() {
    local shell="bash --norc --noprofile -i"
    [[ "${1:-bash}" == dash ]] && shell="dash -i"
    "${T[@]}" new-session -d -s e2e -x 80 -y 25 -c "$WORK" \
        "env PS1='e2e\$ ' HISTFILE=/dev/null $shell"
    "${T[@]}" set-option -t e2e status off >/dev/null
    shell_idle
}

# shell_idle: the shell waits at an empty prompt on the last line it wrote.
shell_idle() {
    local i last
    for ((i = 0; i < 100; i++)); do
        last=$(screen_text | sed '/^ *$/d' | tail -n 1)
        [[ "$last" == 'e2e$' ]] && return 0
        sleep 0.05
    done
    fail "the shell shows no prompt"
}

# shell_start [VAR=value ...]: from that shell, runs the program in $WORK with
# this environment, as start does: tty settings in stty.before and stty.after,
# standard output in stdout.txt, the status in status. The program and the
# commands after it form one job (a subshell), so the settings after it are
# taken before the shell applies its own.
shell_start() {
    local env_args="" assignment
    for assignment in "$@"; do env_args+=" $(printf '%q' "$assignment")"; done
    type_text "stty -g > stty.before; (env$env_args $(printf '%q' "$BIN") > stdout.txt; "
    type_text 'echo $? > status; stty -g > stty.after)'
    keys Enter
}

# shell_start_alone [VAR=value ...]: the same with the program as the job on
# its own, as an operator starts it, so that a stop sent to it stops the job;
# once it has ended, shell_finish takes the status and the settings after it
# (as the shell has left them by then).
shell_start_alone() {
    local env_args="" assignment
    for assignment in "$@"; do env_args+=" $(printf '%q' "$assignment")"; done
    type_text "stty -g > stty.before; env$env_args $(printf '%q' "$BIN") > stdout.txt"
    keys Enter
}

shell_finish() {
    shell_idle
    type_text 'echo $? > status; stty -g > stty.after'
    keys Enter
}

# record_output: from now on every byte the pane's program writes collects in
# $WORK/output.raw, as it was written.
record_output() {
    "${T[@]}" pipe-pane -t e2e -o "cat >> $(printf '%q' "$WORK/output.raw")"
}

# pastes_marked: whether, by the bytes record_output has collected, the
# terminal was last asked to mark pastes (on), to stop (off), or never (never).
pastes_marked() {
    python3 - "$WORK/output.raw" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
on, off = data.rfind(b'\x1b[?2004h'), data.rfind(b'\x1b[?2004l')
print('never' if on < 0 and off < 0 else 'on' if on > off else 'off')
PY
}

# expect_pastes_marked on|off|never WHAT: polls until pastes_marked says so.
expect_pastes_marked() {
    local want=$1 i got
    for ((i = 0; i < 60; i++)); do
        got=$(pastes_marked 2>/dev/null || echo none)
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    fail "$2: paste marking is $got, expected $want"
}

# paste_text TEXT: pastes TEXT into the pane as a terminal would, marked as a paste
# only where the program asked for that.
paste_text() {
    "${T[@]}" set-buffer -b e2e -- "$1"
    "${T[@]}" paste-buffer -p -b e2e -t e2e
}

# pane_rows [looks]: the pane as a terminal shows it, one line per row, each
# exactly as wide as the pane; line-drawing characters as their Unicode shapes
# (the checker board as ▒). With "looks", one letter per cell instead: the
# colour letters of attr_row (N B F H T O P, a bold 3x counting as bright 9x),
# d no attributes, r reverse video (bold or not), u underline, b bold alone,
# ? anything else; a blank by its background alone. Parsed with awk, byte by byte: a cell starts at every byte
# that is not a UTF-8 continuation byte.
pane_rows() {
    local width
    width=$("${T[@]}" display-message -p -t e2e '#{pane_width}')
    "${T[@]}" capture-pane -p -e -N -t e2e | LC_ALL=C awk -v width="$width" -v mode="${1:-text}" '
function reset() { fg = "39"; bg = "49"; bold = 0; rev = 0; und = 0; other = 0 }
function look(   f) {
    f = fg
    if (bold && f ~ /^3[0-7]$/) f = "9" substr(f, 2, 1)
    if (other) return "?"
    if (rev) return "r"
    if (und) return "u"
    if (f == "39" && bg == "49") return bold ? "b" : "d"
    return ((f "/" bg) in colour) ? colour[f "/" bg] : "?"
}
function sgr(params,   codes, n, i, c) {
    if (params == "") params = "0"
    n = split(params, codes, ";")
    for (i = 1; i <= n; i++) {
        c = codes[i]
        if (c == "" || c == "0") reset()
        else if (c == "1") bold = 1
        else if (c == "22") bold = 0
        else if (c == "4") und = 1
        else if (c == "24") und = 0
        else if (c == "7") rev = 1
        else if (c == "27") rev = 0
        else if (c == "38" || c == "48") {
            if (c == "38") fg = "x"; else bg = "x"
            i += (codes[i + 1] == "5") ? 2 : 4
        }
        else if (c ~ /^[39][0-9]$/) fg = c
        else if (c ~ /^4[0-9]$/) bg = c
        else other = 1
    }
}
BEGIN {
    for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i
    n = split("` a f g j k l m n o p q r s t u v w x y z { | } ~ 0 h + , - .", from, " ")
    split("◆ ▒ ° ± ┘ ┐ ┌ └ ┼ ⎺ ⎻ ─ ⎼ ⎽ ├ ┤ ┴ ┬ │ ≤ ≥ π ≠ £ · █ ░ → ← ↑ ↓", to, " ")
    for (i = 1; i <= n; i++) acs[from[i]] = to[i]
    split("30/47 N 34/47 B 97/44 F 97/46 H 97/42 T 30/46 O 37/40 P", pairs, " ")
    for (i = 1; i < 14; i += 2) {
        colour[pairs[i]] = pairs[i + 1]
        bgof[pairs[i + 1]] = substr(pairs[i], 4, 2)
    }
    split("47 N 44 F 46 O 42 T 40 P", pairs, " ")
    for (i = 1; i < 10; i += 2) bybg[pairs[i]] = pairs[i + 1]
    reset()
    charset = 0
}
{
    line = $0; text = ""; looks = ""; cells = 0; len = length(line); i = 1; last = ""
    while (i <= len) {
        c = substr(line, i, 1)
        if (c == "\033") {
            # A control sequence: parameters up to a final byte; only SGR counts.
            j = i + 2
            while (j <= len && substr(line, j, 1) !~ /[@-~]/) j++
            if (substr(line, j, 1) == "m") sgr(substr(line, i + 2, j - i - 2))
            i = j + 1
            continue
        }
        if (c == "\016" || c == "\017") { charset = (c == "\016"); i++; continue }
        if (ord[c] >= 128 && ord[c] < 192) { text = text c; i++; continue }
        cells++
        l = look()
        # A blank shows its background only: terminals and curses are free to
        # send it with any foreground.
        if (c == " " && l == "?" && !other) l = (bgof[last] == bg) ? last : ((bg in bybg) ? bybg[bg] : "?")
        looks = looks l
        last = l
        text = text ((charset && (c in acs)) ? acs[c] : c)
        i++
    }
    # Cells cleared to the line end are not in the capture: they are blank in
    # the colours then in force.
    for (; cells < width; cells++) { text = text " "; looks = looks look() }
    print (mode == "looks" ? looks : text)
}'
}

# pane_row N [looks]: one row of pane_rows.
pane_row() { pane_rows "${2:-text}" | sed -n "${1}p"; }

# expect_row N TEXT: polls until row N is exactly TEXT, all cells included.
expect_row() {
    local row=$1 want=$2 i got
    for ((i = 0; i < 60; i++)); do
        got=$(pane_row "$row")
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    fail "row $row is '$got', expected '$want'"
}

# expect_looks N LAYOUT: polls until row N has exactly these runs of looks
# (LAYOUT as for runs, e.g. "B3 N25 H12 F38 B2").
expect_looks() {
    local row=$1 want i got
    want=$(runs "$2")
    for ((i = 0; i < 60; i++)); do
        got=$(pane_row "$row" looks)
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    fail "row $row looks $got, expected $want"
}

# expect_pane TEXT WHAT [looks]: polls until pane_rows (with looks, its looks)
# gives exactly TEXT.
expect_pane() {
    local want=$1 what=$2 mode=${3:-text} i got
    for ((i = 0; i < 60; i++)); do
        got=$(pane_rows "$mode")
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    diff <(echo "$want") <(echo "$got") >&2 || true
    fail "$what: the pane is not as expected (diff above: < expected, > now)"
}

# snapshot: the whole pane, its looks and the cursor, to compare later.
snapshot() {
    pane_rows
    pane_rows looks
    "${T[@]}" display-message -p -t e2e 'cursor #{cursor_x},#{cursor_y}'
}

# expect_snapshot SNAPSHOT WHAT: polls until the pane is back to SNAPSHOT.
expect_snapshot() {
    local want=$1 what=$2 i got
    for ((i = 0; i < 60; i++)); do
        got=$(snapshot)
        [[ "$got" == "$want" ]] && return 0
        sleep 0.05
    done
    diff <(echo "$want") <(echo "$got") >&2 || true
    fail "$what: the pane differs from before (diff above: < before, > now)"
}

# resize COLS ROWS: the pane's window takes this size (the program gets SIGWINCH).
resize() { "${T[@]}" resize-window -t e2e -x "$1" -y "$2"; }

# record_bytes MAIN EDITOR FLAGS_HEX: the 165 bytes of a quenda.cfg with these
# directories (code page 437 bytes as \xNN escapes), aux value 0x1234 and these
# flags.
record_bytes() {
    local dir
    printf '\x89\x63\x34\x12'
    for dir in "$1" "$2"; do
        printf '%b' "$dir" > "$WORK/field"
        cat "$WORK/field"
        head -c $((80 - $(stat -c %s "$WORK/field"))) /dev/zero
    done
    printf "\\x$3"
    rm -f "$WORK/field"
}

# write_record MAIN EDITOR FLAGS_HEX: that record as quenda.cfg, and a copy in
# $WORK/original to compare with later.
write_record() {
    record_bytes "$@" > "$WORK/quenda.cfg"
    cp "$WORK/quenda.cfg" "$WORK/original"
}

# expect_saved MAIN EDITOR FLAGS_HEX: quenda.cfg is now that record.
expect_saved() {
    record_bytes "$@" > "$WORK/expected"
    cmp -s "$WORK/expected" "$WORK/quenda.cfg" ||
        fail "quenda.cfg is $(xxd -p "$WORK/quenda.cfg" | tr -d '\n'), expected $(xxd -p "$WORK/expected" | tr -d '\n')"
}

# file_untouched: quenda.cfg is byte for byte what write_record wrote.
file_untouched() {
    cmp -s "$WORK/original" "$WORK/quenda.cfg" || fail "quenda.cfg changed"
}
