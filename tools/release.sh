#!/usr/bin/env bash
# Packs the operator's kit, dist/tovrin-VERSION.zip, from the Windows builds
# in dist/ and the guides in docs/. Options: see `python3 tools/kit.py --help`.
set -euo pipefail
here="$(dirname "$0")"
. "$here/deps.sh"
need_packages python3
exec python3 "$here/kit.py" "$@"
