# The form in locales that cannot show every code page 437 glyph. In the C
# locale only ASCII goes out: the backdrop as the terminal's line-drawing
# checker board, letters as their bare ASCII forms. In a Latin-1 locale the
# Nordic letters go out as their Latin-1 bytes and are typed that way too.
# Never a UTF-8 byte where the terminal does not expect one (mojibake).
# The Latin-1 locale is built here with localedef (Debian package "locales").
source "$(dirname "$0")/lib.sh"

[[ -d /usr/share/i18n/locales ]] || { echo "SKIP: no locale sources (Debian package locales)"; exit 77; }
mkdir -p "$WORK/locale"
localedef -i en_US -f ISO-8859-1 "$WORK/locale/en_US.ISO-8859-1" 2>/dev/null || true
[[ -d "$WORK/locale/en_US.ISO-8859-1" ]] || fail "localedef could not build en_US.ISO-8859-1"

band=$(printf '%80s' '' | sed 's/ /▒/g')
main_row() { printf '▒▒▒    VESK main directory: %-50s▒▒' "$1"; }

# high_bytes: every byte above 127 the program wrote, in hex.
high_bytes() { LC_ALL=C tr -d '\000-\177' < "$WORK/output.raw" | xxd -p | tr -d '\n'; }

# run_in LOCALE_ARGS...: the form with äö in the main directory, from a shell
# whose output is recorded byte for byte.
run_in() {
    write_record 'c:/\x84\x94/' 'd:/bbs/quenda/' 01
    start_shell
    record_output
    shell_start TERM=xterm-256color "$@"
    wait_for "VESK main directory"
}

run_in LANG=C
cursor_at 35 5
expect_row 3 "$band"
expect_row 6 "▒▒▒       Quenda directory: d:/bbs/quenda/                                    ▒▒"
expect_row 5 "$(main_row c:/ao/)"
[[ -z "$(high_bytes)" ]] || fail "C locale: bytes above 127 went out: $(high_bytes)"
# Typed UTF-8 and Latin-1 letters mean nothing here: dropped, not mangled.
type_text "x"
keys -H c3 a4 e4
type_text "y"
expect_row 5 "$(main_row c:/ao/xy)"
keys Up Enter
wait_for_exit 2
tty_restored
file_untouched
end_session

run_in LANG=en_US.ISO-8859-1 LOCPATH="$WORK/locale"
# tmux shows only UTF-8, so the row with Latin-1 bytes is checked in the bytes.
expect_row 3 "$band"
expect_row 6 "▒▒▒       Quenda directory: d:/bbs/quenda/                                    ▒▒"
for ((i = 0; i < 100; i++)); do [[ "$(high_bytes)" == e4f6* ]] && break; sleep 0.05; done
[[ "$(high_bytes)" == e4f6 ]] || fail "Latin-1: expected only ä and ö (e4 f6) above 127, got $(high_bytes)"
LC_ALL=C grep -qF "$(printf 'c:/\xe4\xf6/')" "$WORK/output.raw" || fail "Latin-1: c:/äö/ did not go out as one run"
# ä typed on a Latin-1 terminal is byte e4: it arrives as code page 437 ä and
# goes out as e4 again. (tmux's cursor is no guide here: it skipped the bytes.)
keys -H e4
for ((i = 0; i < 100; i++)); do [[ "$(high_bytes)" =~ ^e4f6(e4|f6)*e4$ ]] && break; sleep 0.05; done
[[ "$(high_bytes)" =~ ^e4f6(e4|f6)*e4$ ]] || fail "Latin-1: typed ä did not come out as e4: $(high_bytes)"
keys Enter Down Down Down
cursor_at 25 20
keys Enter
wait_for_exit 1
tty_restored
expect_saved 'c:/\x84\x94/\x84/' "d:/bbs/quenda/" 01
pass
