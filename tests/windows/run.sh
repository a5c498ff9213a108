#!/usr/bin/env bash
# The Windows console build: cross-compiles it with mingw-w64 into build-win,
# checks the release zip cpack -G ZIP makes, then runs its unit tests and the
# end-to-end smoke test under Wine, in a private Wine prefix that is removed
# afterwards.
# Needs: cmake make g++-mingw-w64-x86-64 googletest wine wine64 tmux python3.
set -euo pipefail
# Root gives the unit tests file systems of their own to fail on, in a private
# mount namespace: nothing mounted outlives this script.
if [[ $(id -u) == 0 && -z "${QUENDA_WINE_NAMESPACE:-}" ]] && unshare -m true 2>/dev/null; then
    QUENDA_WINE_NAMESPACE=1 exec unshare -m --propagation private bash "$0" "$@"
fi
# With standard input closed, Wine mistakes descriptor 0 for its server socket.
exec < /dev/null
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD="$ROOT/build-win"

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON
cmake --build "$BUILD" --parallel "$(nproc)"

WORK=$(mktemp -d)
# Root may write read-only files, under Wine too: run Wine as an unprivileged
# user where we can, so the read-only case is tested for real.
AS_USER=()
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
    AS_USER=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
mkdir -p "$WORK/bin" "$WORK/home"
# full: a small file system to fill up; mounted: a "quenda.cfg" that is a
# mount point, which no new file can replace.
MOUNTS=""
if [[ -n "${QUENDA_WINE_NAMESPACE:-}" ]]; then
    mkdir -p "$WORK/mounts/full" "$WORK/mounts/mounted"
    : > "$WORK/mounts/source.cfg"
    : > "$WORK/mounts/mounted/quenda.cfg"
    chmod 777 "$WORK/mounts/mounted"
    chmod 666 "$WORK/mounts/source.cfg"
    if mount -t tmpfs -o size=64k,mode=0777 tmpfs "$WORK/mounts/full" &&
        mount --bind "$WORK/mounts/source.cfg" "$WORK/mounts/mounted/quenda.cfg"; then
        MOUNTS="$WORK/mounts"
    fi
fi
cp "$BUILD/quenda-setup.exe" "$BUILD/tests/windows/unit_tests.exe" "$ROOT/tests/windows/wine_smoke_test.sh" \
    "$WORK/bin/"
chmod -R a+rX "$WORK"
((${#AS_USER[@]} == 0)) || chown -R 65534:65534 "$WORK/home"

# mscoree and mshtml off: no .NET or browser engine to install into the prefix.
RIGHTS=()
as_wine() {
    "${AS_USER[@]}" "${RIGHTS[@]}" env HOME="$WORK/home" WINEPREFIX="$WORK/home/prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 "$@"
}
cleanup() {
    as_wine wineserver -k 2>/dev/null || true
    umount "$WORK/mounts/full" "$WORK/mounts/mounted/quenda.cfg" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

as_wine wineboot -i >/dev/null 2>&1 || true

# The release zip (cpack -G ZIP): one folder holding the program and its documents.
echo "== release zip"
(cd "$BUILD" && cpack -G ZIP -B "$WORK/zip") > "$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log"; exit 1; }
zip_files=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' \
    "$WORK"/zip/quenda-setup-*-win64.zip)
top=${zip_files%%/*}
expected=$(printf "$top/%s\n" CHANGELOG.md LICENSE README.md quenda-setup.exe)
[[ "$zip_files" == "$expected" ]] || { printf 'FAIL: the zip holds\n%s\nexpected\n%s\n' "$zip_files" "$expected"; exit 1; }
echo "PASS: $(basename "$WORK"/zip/*.zip): $(tr '\n' ' ' <<<"$zip_files")"

# The closing line counts single tests: GoogleTest's and the smoke test's runs.
passed=0
failed=0
# unit_tests LOG [ARG...]: runs the unit tests under Wine and counts them.
unit_tests() {
    local log=$1
    shift
    if as_wine env QUENDA_WINE_MOUNTS="$MOUNTS" bash -c 'cd "$HOME" && wine "$@"' wine \
        "$WORK/bin/unit_tests.exe" "$@" | tee "$log"; then
        passed=$((passed + $(tr -d '\r' < "$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p')))
    else
        failed=$((failed + $(tr -d '\r' < "$log" | sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' | grep . || echo 1)))
    fi
}
echo "== unit tests under Wine"
unit_tests "$WORK/unit.log"
# Wine's read-only is only a missing write permission, which root overrides:
# the read-only case once more with that right, the way root runs Wine. The
# wineserver opens the files, so it is started again with it, and after.
restart_wineserver() {
    as_wine wineserver -k 2>/dev/null || true
    as_wine wineserver -w
}
if ((${#AS_USER[@]} > 0)); then
    echo "== the read-only file, with the right to write any file"
    restart_wineserver
    RIGHTS=(--inh-caps=+dac_override --ambient-caps=+dac_override)
    unit_tests "$WORK/unit_read_only.log" --gtest_filter='*ReadOnly*'
    RIGHTS=()
    restart_wineserver
fi
echo "== smoke test under Wine"
as_wine bash "$WORK/bin/wine_smoke_test.sh" "$WORK/bin/quenda-setup.exe" | tee "$WORK/smoke.log" || failed=$((failed + 1))
passed=$((passed + $(grep -c '^PASS:' "$WORK/smoke.log" || true)))
echo "windows: $passed passed, $failed failed"
((failed == 0))
