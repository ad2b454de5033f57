#!/usr/bin/env bash
# The main job: builds the Windows executables and runs the watchdog under
# Wine against a simulated write filter whose overlay fills within seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/wine-deps.sh

need_packages cmake make g++-mingw-w64-x86-64-win32
need_wine
cmake --preset win-x64 >/dev/null
cmake --build --preset win-x64 -j"$(nproc)" >/dev/null
python3 tools/demo.py
