#!/usr/bin/env bash
# Static analysis of the product sources with clang-tidy (checks in
# .clang-tidy) and cppcheck, and the format of every C++ file against
# .clang-format; fails on any finding. Needs the host build's
# compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
# The check's run-time binding is Windows-only code, outside the host build.
sources=(volumes/*.cpp watchdog/*.cpp $(ls check/*.cpp | grep -v ewfapi_binding))

echo "== clang-tidy"
clang-tidy -p "$build" --quiet "${sources[@]}" 2>&1 | grep -v '^[0-9]* warnings generated' || true
# --quiet still prints findings; run again for the exit status alone.
clang-tidy -p "$build" --quiet "${sources[@]}" >/dev/null 2>&1

echo "== cppcheck"
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --inline-suppr \
    --enable=warning,style,performance,portability \
    --suppress=missingIncludeSystem --suppress=unusedFunction \
    `# Platform records declare what the platform has, not what we read;` \
    `# INVALID_HANDLE_VALUE is the platform's own C-style cast.` \
    --suppress=unusedStructMember --suppress=cstyleCast \
    -I . "${sources[@]}"
echo "== clang-format"
clang-format --dry-run -Werror $(git ls-files '*.cpp' '*.h')
echo "static analysis: clean"
