#!/usr/bin/env bash
# Runs every test of the project: the host unit tests against the fake
# platform. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

need_packages cmake make g++ libgtest-dev

cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)"
ctest --preset host -j"$(nproc)"
