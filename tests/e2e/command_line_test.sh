# The command line: --help and --version answer on standard output with status
# 0, any other argument is refused in one line on standard error with status 64.
# None of them may open the terminal or quenda.cfg, so each runs with no
# controlling terminal at all (setsid, input from /dev/null: reaching for the
# terminal there ends with status 3) and under strace, which lists every file
# opened. With no argument the form still opens.
source "$(dirname "$0")/lib.sh"

command -v strace > /dev/null || { echo "SKIP: strace is not installed"; exit 77; }
strace -o /dev/null true 2> /dev/null || { echo "SKIP: strace cannot trace here"; exit 77; }

# The version has one source, the project() line.
VERSION=$(sed -n 's/^project(quenda-setup VERSION \([0-9.]*\) .*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[[ -n "$VERSION" ]] || fail "no version in the project() line of CMakeLists.txt"

write_record 'c:/keep/' 'd:/keep/' 01

# alone ARG...: runs the program in $WORK without a terminal; sets $status,
# leaves standard output and error in $WORK/out and $WORK/err, and fails if it
# opened the terminal, a terminfo entry or quenda.cfg.
alone() {
    status=0
    # LeakSanitizer cannot work under ptrace.
    (cd "$WORK" && timeout 5 setsid -w strace -f -qq -e trace=open,openat,openat2 -o "$WORK/trace" \
        env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        "$BIN" "$@" < /dev/null > "$WORK/out" 2> "$WORK/err") || status=$?
    local touched
    touched=$(grep -E '"(/dev/tty|/dev/pts/[^"]*|[^"]*terminfo[^"]*|quenda\.cfg)"' "$WORK/trace" || true)
    [[ -z "$touched" ]] || fail "$*: opened"$'\n'"$touched"
    file_untouched
}

alone --help
[[ $status == 0 ]] || fail "--help: status $status, expected 0; stderr: $(cat "$WORK/err")"
[[ ! -s "$WORK/err" ]] || fail "--help: standard error carried: $(cat "$WORK/err")"
[[ "$(head -n 1 "$WORK/out")" == "Usage: quenda-setup [--help | --version]" ]] ||
    fail "--help: first line is '$(head -n 1 "$WORK/out")'"
for part in quenda.cfg "current directory" Up Down Space Enter "64 unknown" "man quenda-setup"; do
    grep -qF -- "$part" "$WORK/out" || fail "--help does not mention '$part':"$'\n'"$(cat "$WORK/out")"
done

alone --version
[[ $status == 0 ]] || fail "--version: status $status, expected 0; stderr: $(cat "$WORK/err")"
[[ ! -s "$WORK/err" ]] || fail "--version: standard error carried: $(cat "$WORK/err")"
[[ "$(head -n 1 "$WORK/out")" == "quenda-setup $VERSION" ]] ||
    fail "--version: first line is '$(head -n 1 "$WORK/out")', expected 'quenda-setup $VERSION'"
grep -q "MIT" "$WORK/out" || fail "--version names no licence: $(cat "$WORK/out")"

# refused ARG... BAD: status 64, nothing on standard output, one line on
# standard error that names BAD and points to --help.
refused() {
    local bad=${*: -1}
    alone "${@:1:$#-1}"
    [[ $status == 64 ]] || fail "$*: status $status, expected 64; stderr: $(cat "$WORK/err")"
    [[ ! -s "$WORK/out" ]] || fail "$*: standard output carried: $(cat "$WORK/out")"
    [[ $(wc -l < "$WORK/err") == 1 ]] || fail "$*: standard error is not one line:"$'\n'"$(cat "$WORK/err")"
    grep -qF -- "'$bad'" "$WORK/err" || fail "$*: the message does not name '$bad': $(cat "$WORK/err")"
    grep -qF -- "--help" "$WORK/err" || fail "$*: the message does not point to --help: $(cat "$WORK/err")"
}
refused --bogus --bogus
refused -h -h
refused quenda.cfg quenda.cfg
# An operand is refused also before or after a valid option.
refused other --help other
refused --version other other
refused -- --
refused --help -- --

# With no argument the form opens as before.
start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory: c:/keep/"
keys Up Enter
wait_for_exit 2
tty_restored
file_untouched
pass
