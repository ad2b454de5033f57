#!/usr/bin/env bash
# The main job: builds a Windows executable and runs the watchdog under Wine
# against a simulated write filter whose overlay fills within seconds.
#   bash tools/demo.sh [x86|x64]    (x86 unless this machine cannot show it)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/wine-deps.sh

need_packages cmake make g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
need_wine
python3 tools/demo.py "$@"
