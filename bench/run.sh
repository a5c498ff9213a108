#!/usr/bin/env bash
# The one command for the benchmark: installs dialog and whiptail if missing,
# builds quenda-setup and the harness in Release, then runs every subject.
# Arguments go to pty_bench, e.g. --runs 2 or --write-results.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
# Its own build tree, so a developer's Debug build is never what gets measured.
build="${BENCH_BUILD_DIR:-$root/build-bench}"

bash "$here/setup.sh"

if [ -f "$root/CMakeLists.txt" ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build" --target pty_bench bench_floor quenda-setup -j "$(nproc)"
    bench="$build/bench/pty_bench"
else
    # No program yet: the harness alone, against the floor and the others.
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build" -j "$(nproc)"
    bench="$build/pty_bench"
fi

commit="$(git -C "$root" describe --always --dirty 2>/dev/null || echo 'no commit')"
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")"
exec "$bench" --note "commit $commit, ${build_type:-default} build" "$@"
