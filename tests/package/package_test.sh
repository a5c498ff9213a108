#!/usr/bin/env bash
# The Debian package, from a configured build tree:
#   bash tests/package/package_test.sh <build-dir>
# Builds the binary, the manual page and the Debian documents, runs cpack -G
# DEB, checks the package's contents, control fields and documents, runs
# lintian and hardening-check on it, unpacks it into a temporary root with
# dpkg -x, runs the unpacked binary in a private tmux server until the form
# shows and "Exit without saving" ends it with status 2, and lints the unpacked
# manual page. Nothing is installed on the system.
# Needs: cmake, dpkg-dev (dpkg-shlibdeps), lintian, devscripts (hardening-check),
# tmux, groff-base; mandoc if present.
set -euo pipefail

BUILD=$(realpath "${1:?usage: $0 <build-dir>}")
[[ -f "$BUILD/CMakeCache.txt" ]] || { echo "FAIL: $BUILD is not a configured build tree" >&2; exit 1; }

WORK=$(mktemp -d)
SOCKET="quenda-pkg-$$-$RANDOM"
# tmux runs pane commands with $SHELL, else the login shell, which for a
# service account such as nobody is nologin: name a real one.
T=(env SHELL=/bin/sh tmux -L "$SOCKET" -f /dev/null)
cleanup() {
    "${T[@]}" kill-server 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }

if [[ "$(cache_value ENABLE_SANITIZERS)" == ON ]]; then
    fail "$BUILD is built with sanitizers; package a plain build (e.g. cmake -S . -B build-pkg -G Ninja)"
fi
VERSION=$(cache_value CMAKE_PROJECT_VERSION)
[[ -n "$VERSION" ]] || fail "no project version in $BUILD/CMakeCache.txt"
SOURCE=$(cache_value CMAKE_HOME_DIRECTORY)
ARCH=$(dpkg --print-architecture)
for tool in lintian hardening-check; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (Debian packages lintian, devscripts)"
done

# --- build the package ------------------------------------------------------
cmake --build "$BUILD" --target quenda-setup quenda-setup-man quenda-setup-debian-docs
(cd "$BUILD" && cpack -G DEB -B "$WORK/out") > "$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log" >&2
    fail "cpack -G DEB failed"
}
# The project's version and a Debian revision.
DEB=$(compgen -G "$WORK/out/quenda-setup_${VERSION}-[0-9]*_${ARCH}.deb" || true)
[[ -f "$DEB" ]] || fail "no quenda-setup_${VERSION}-<revision>_${ARCH}.deb; cpack made: $(cd "$WORK/out" && ls -- *.deb 2>/dev/null)"
echo "built $(basename "$DEB")"

# --- contents -----------------------------------------------------------------
dpkg -c "$DEB" > "$WORK/contents"
grep -Eq '^-rwxr-xr-x root/root +[0-9]+ .* \./usr/bin/quenda-setup$' "$WORK/contents" ||
    fail "dpkg -c lists no executable ./usr/bin/quenda-setup owned by root:"$'\n'"$(cat "$WORK/contents")"
EXPECTED_FILES=(usr/share/man/man1/quenda-setup.1.gz usr/share/doc/quenda-setup/copyright
                usr/share/doc/quenda-setup/changelog.gz usr/share/doc/quenda-setup/changelog.Debian.gz
                usr/share/lintian/overrides/quenda-setup)
for file in "${EXPECTED_FILES[@]}"; do
    grep -Eq "^-rw-r--r-- root/root +[0-9]+ .* \./${file//./\\.}\$" "$WORK/contents" ||
        fail "dpkg -c lists no ./$file:"$'\n'"$(cat "$WORK/contents")"
done
# Files only where they belong: nothing from the tests or the build tree.
unexpected=$(grep -v '^d' "$WORK/contents" | sed 's|.* \./||' |
    grep -v -F -x -f <(printf '%s\n' usr/bin/quenda-setup "${EXPECTED_FILES[@]}") || true)
[[ -z "$unexpected" ]] || fail "unexpected files in the package:"$'\n'"$unexpected"

# --- control fields -------------------------------------------------------------
field() { dpkg-deb -f "$DEB" "$1"; }
[[ "$(field Package)" == quenda-setup ]] || fail "Package is '$(field Package)'"
[[ "$(field Version)" =~ ^"$VERSION"-[0-9]+$ ]] || fail "Version is '$(field Version)', the project's is $VERSION"
[[ "$(field Architecture)" == "$ARCH" ]] || fail "Architecture is '$(field Architecture)'"
[[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
[[ -n "$(field Description)" ]] || fail "no Description"
[[ -n "$(field Section)" ]] || fail "no Section"
depends=$(field Depends)
echo "Depends: $depends"
grep -Eq '(^|, )libncursesw6( |,|$)' <<<"$depends" || fail "Depends names no libncursesw6: '$depends'"
grep -Eq '(^|, )libtinfo6( |,|$)' <<<"$depends" || fail "Depends names no libtinfo6: '$depends'"
grep -Eq '(^|, )libc6( |,|$)' <<<"$depends" || fail "Depends names no libc6: '$depends'"
# The access-list and attribute libraries are linked, so that dpkg-shlibdeps
# finds them like the others and a missing one stops the install, not a save.
needed=$(readelf -d "$BUILD/quenda-setup" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
for lib in libacl1:libacl.so.1 libattr1:libattr.so.1; do
    grep -qx "${lib#*:}" <<<"$needed" || fail "the binary does not link ${lib#*:}: $(echo $needed)"
    grep -Eq "(^|, )${lib%%:*}( |,|\$)" <<<"$depends" || fail "Depends names no ${lib%%:*}: '$depends'"
done
if grep -Eq 'libasan|libubsan' <<<"$depends"; then fail "Depends names a sanitizer runtime: '$depends'"; fi

# --- unpack into a temporary root --------------------------------------------------
ROOT="$WORK/root"
dpkg -x "$DEB" "$ROOT"
BIN="$ROOT/usr/bin/quenda-setup"
MAN="$ROOT/usr/share/man/man1/quenda-setup.1.gz"
[[ -x "$BIN" ]] || fail "unpacked $BIN is not executable"
[[ -f "$MAN" ]] || fail "unpacked manual page missing"
if readelf -S "$BIN" | grep -q ' \.symtab '; then fail "the packaged binary is not stripped"; fi
out=$("$BIN" --version) || fail "the unpacked binary's --version failed"
[[ "$(head -n 1 <<<"$out")" == "quenda-setup $VERSION" ]] || fail "--version says: $out"

# --- the documents: the licence as a machine-readable copyright, the changelogs --
DOC="$ROOT/usr/share/doc/quenda-setup"
[[ "$(head -n 1 "$DOC/copyright")" == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
    fail "copyright is not in the copyright format 1.0: $(head -n 1 "$DOC/copyright")"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$SOURCE/LICENSE")" "$DOC/copyright" ||
    fail "copyright does not name LICENSE's holder"
# The licence text, line for line, as LICENSE has it below its copyright line.
diff <(sed -n '/^License: Expat$/,$p' "$DOC/copyright" | tail -n +2 | sed 's/^ //; s/^\.$//') \
    <(sed -n '/^Permission is hereby granted/,$p' "$SOURCE/LICENSE") >&2 ||
    fail "copyright's Expat text differs from LICENSE (diff above)"
gzip -dc "$DOC/changelog.gz" | cmp -s - "$SOURCE/CHANGELOG.md" || fail "changelog.gz is not CHANGELOG.md"
gzip -dc "$DOC/changelog.Debian.gz" | head -n 1 | grep -q "^quenda-setup ($(field Version)) " ||
    fail "changelog.Debian.gz does not start with version $(field Version)"

# --- lintian and hardening-check ------------------------------------------------------
# lintian, unprivileged where we are root (it warns about root otherwise):
# errors and warnings fail, informational tags are shown.
LINT=(lintian)
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
    mkdir "$WORK/lint"
    cp "$DEB" "$WORK/lint/"
    chown -R 65534:65534 "$WORK/lint"
    chmod 755 "$WORK"
    DEB_TO_LINT="$WORK/lint/$(basename "$DEB")"
    LINT=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$WORK/lint" TMPDIR="$WORK/lint" lintian)
else
    DEB_TO_LINT=$DEB
fi
lint_out=$("${LINT[@]}" --fail-on error,warning --display-info "$DEB_TO_LINT" 2>&1) ||
    fail "lintian:"$'\n'"$lint_out"
echo "lintian: ${lint_out:-no tags}"
# Control-flow protection needs the CET marking on every object linked in;
# Debian 12's C start files lack it, so no program linked there has it (the
# system's own tmux neither): required only where the start files carry it.
HC_OPTIONS=()
start_file=$("$(cache_value CMAKE_CXX_COMPILER)" -print-file-name=Scrt1.o)
readelf -n "$start_file" 2>/dev/null | grep -q 'x86 feature: IBT, SHSTK' || HC_OPTIONS+=(--nocfprotection)
hc_out=$(hardening-check "${HC_OPTIONS[@]}" "$BIN" 2>&1) || fail "hardening-check ${HC_OPTIONS[*]}:"$'\n'"$hc_out"
echo "hardening-check ${HC_OPTIONS[*]}:"
sed 1d <<<"$hc_out"

# --- the unpacked binary draws the form and leaves with status 2 -----------------
RUN="$WORK/run"
mkdir "$RUN"
cat > "$WORK/run.sh" <<SCRIPT
cd $(printf '%q' "$RUN")
$(printf '%q' "$BIN") > stdout.txt 2> stderr.txt
echo \$? > status
exec sleep 600
SCRIPT
"${T[@]}" new-session -d -s pkg -x 80 -y 25 "bash $(printf '%q' "$WORK/run.sh")"
screen_text() { "${T[@]}" capture-pane -p -t pkg; }
wait_for() {
    local text=$1 i
    for ((i = 0; i < 200; i++)); do
        if screen_text | grep -qF -- "$text"; then return 0; fi
        sleep 0.05
    done
    echo "---- pane ----" >&2
    screen_text >&2 || true
    echo "--------------" >&2
    [[ -s "$RUN/stderr.txt" ]] && echo "stderr: $(cat "$RUN/stderr.txt")" >&2
    fail "the unpacked binary never showed: $text"
}
wait_for "VESK main directory: c:/bbs/main/"
wait_for "Exit without saving"
# Up from the first field lands on "Exit without saving"; Enter chooses it.
"${T[@]}" send-keys -t pkg Up
"${T[@]}" send-keys -t pkg Enter
for ((i = 0; i < 200; i++)); do
    [[ -s "$RUN/status" ]] && break
    sleep 0.05
done
[[ -s "$RUN/status" ]] || fail "the unpacked binary did not exit after Up, Enter"
status=$(cat "$RUN/status")
[[ "$status" == 2 ]] || fail "exit status $status after \"Exit without saving\", expected 2"
wait_for "Exit without saving. Have a very nice day!"
[[ ! -e "$RUN/quenda.cfg" ]] || fail "\"Exit without saving\" created quenda.cfg"
[[ ! -s "$RUN/stdout.txt" ]] || fail "standard output carried: $(cat "$RUN/stdout.txt")"
echo "unpacked binary ran: form shown, exit status 2"

# --- the unpacked manual page lints clean ------------------------------------------
PAGE="$WORK/quenda-setup.1"
gzip -dc "$MAN" > "$PAGE"
grep -Eq "^\.TH QUENDA\\\\-SETUP 1 [^ ]+ \"quenda\\\\-setup $VERSION\"" "$PAGE" ||
    fail "the manual page's .TH line does not carry version $VERSION: $(grep -m1 '^\.TH' "$PAGE")"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS KEYS FILES "EXIT STATUS" ENVIRONMENT COPYRIGHT; do
    grep -q "^\.SH \"\?$section\"\?\$" "$PAGE" || fail "the manual page has no $section section"
done
# The typesetter, and the terminal devices man uses in an ASCII and a UTF-8
# locale (the ASCII one lacks many glyphs).
for device in ps ascii utf8; do
    groff_out=$(groff -man -ww -z -T"$device" "$PAGE" 2>&1) || fail "groff -man -ww -z -T$device failed: $groff_out"
    [[ -z "$groff_out" ]] || fail "groff -man -ww -T$device warns:"$'\n'"$groff_out"
done
echo "groff -man -ww -z (ps, ascii, utf8): clean"
if command -v mandoc >/dev/null; then
    mandoc_out=$(mandoc -T lint -W style "$PAGE" 2>&1) || fail "mandoc -T lint:"$'\n'"$mandoc_out"
    [[ -z "$mandoc_out" ]] || fail "mandoc -T lint:"$'\n'"$mandoc_out"
    echo "mandoc -T lint: clean"
else
    echo "mandoc not installed: mandoc -T lint skipped"
fi
if command -v man >/dev/null; then
    # As an operator reads it, in an ASCII and a UTF-8 locale.
    for locale in C C.UTF-8; do
        rendered=$(LC_ALL=$locale MANWIDTH=80 man -l "$MAN" 2>"$WORK/man.err") ||
            fail "man -l failed under LC_ALL=$locale: $(cat "$WORK/man.err")"
        [[ ! -s "$WORK/man.err" ]] || fail "man -l under LC_ALL=$locale warns:"$'\n'"$(cat "$WORK/man.err")"
        grep -q "quenda-setup $VERSION" <<<"$rendered" || fail "man -l under LC_ALL=$locale renders no footer"
    done
    echo "man -l (C, C.UTF-8): renders"
fi

echo "PASS: package_test.sh"
