#!/usr/bin/env bash
# Runs every test of the project, installing what it needs first:
# - the host unit tests against the fake platform, plainly and under
#   valgrind's memcheck, AddressSanitizer with UndefinedBehaviorSanitizer,
#   and ThreadSanitizer;
# - the fuzz targets for a bounded time, and static analysis;
# - both Windows builds, the operator's kit packed from them (twice, which
#   must give the same bytes), and the builds' checks and end-to-end runs
#   under Wine, some of which run the executables out of the kit.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/wine-deps.sh

need_packages cmake make g++ libgtest-dev valgrind clang libclang-rt-14-dev clang-tidy clang-format cppcheck \
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 unzip
need_wine

jobs=$(nproc)
build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$jobs"
}
for preset in host host-asan host-tsan fuzz; do
    echo "== $preset"
    build "$preset"
    ctest --preset "$preset" -j"$jobs"
    if [ "$preset" = host ]; then
        echo "== static analysis"
        bash tools/analyze.sh build/host
    fi
done

for preset in win-x86 win-x64; do
    echo "== build $preset"
    build "$preset"
done

# The operator's kit from the Windows builds above: its own tests on temporary
# trees, then the real archive packed twice, which must give the same bytes.
echo "== kit"
python3 -m unittest discover -s tests/kit -v
kit_scratch=$(mktemp -d)
trap 'rm -rf "$kit_scratch"' EXIT
bash tools/release.sh | tee "$kit_scratch/first.log"
bash tools/release.sh --out "$kit_scratch/again.zip"
# A run's last line is "SHA256  ARCHIVE".
kit=$(tail -n 1 "$kit_scratch/first.log" | cut -d' ' -f3-)
if ! cmp "$kit" "$kit_scratch/again.zip"; then
    echo "FAIL: two runs of tools/release.sh gave different archives" >&2
    exit 1
fi

for preset in win-x86 win-x64; do
    echo "== $preset"
    # The end-to-end runs order themselves; everything else may share the cores.
    ctest --preset "$preset" -j"$jobs"
done
