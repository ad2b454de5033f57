#!/usr/bin/env bash
# Runs every test of the project: the host unit tests against the fake
# platform, then both Windows builds with their checks and their end-to-end
# runs under Wine. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/wine-deps.sh

need_packages cmake make g++ libgtest-dev \
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
need_wine

jobs=$(nproc)
for preset in host win-x86 win-x64; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    ctest --preset "$preset" -j"$jobs"
done
