#!/usr/bin/env bash
# Runs every test of the project, installing what it needs first:
# - the host unit tests against the fake platform, plainly and under
#   valgrind's memcheck, AddressSanitizer with UndefinedBehaviorSanitizer,
#   and ThreadSanitizer;
# - the fuzz targets for a bounded time, and static analysis;
# - both Windows builds with their checks and their end-to-end runs under
#   Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/wine-deps.sh

need_packages cmake make g++ libgtest-dev valgrind clang libclang-rt-14-dev clang-tidy clang-format cppcheck \
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
need_wine

jobs=$(nproc)
for preset in host host-asan host-tsan fuzz win-x86 win-x64; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    # The end-to-end runs order themselves; everything else may share the cores.
    ctest --preset "$preset" -j"$jobs"
    if [ "$preset" = host ]; then
        echo "== static analysis"
        bash tools/analyze.sh build/host
    fi
done
