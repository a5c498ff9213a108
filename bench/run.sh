#!/usr/bin/env bash
# The one command for the benchmark: checks for dialog and whiptail,
# builds quenda-setup and the harness in Release, then runs every subject.
# Arguments go to pty_bench, e.g. --runs 2 or --write-results.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
# Its own build trees, so a developer's Debug or sanitizer build is never what gets measured.
build="${BENCH_BUILD_DIR:-$root/build-bench}"

bash "$here/setup.sh"

# The harness on its own, so it runs whether or not the project includes bench/.
[ -f "$build/harness/CMakeCache.txt" ] ||
    cmake -S "$here" -B "$build/harness" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/harness" -j "$(nproc)" >/dev/null

args=(--floor "$build/harness/bench_floor")
note="no quenda-setup"
if [ -f "$root/CMakeLists.txt" ]; then
    [ -f "$build/program/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build/program" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build/program" --target quenda-setup -j "$(nproc)" >/dev/null
    program="$(find "$build/program" -name quenda-setup -type f -perm -u+x -print -quit)"
    args+=(--program "$program")
    note="quenda-setup $(git -C "$root" describe --always --dirty 2>/dev/null || echo 'uncommitted'), Release build"
fi

exec "$build/harness/pty_bench" "${args[@]}" --note "$note" "$@"
