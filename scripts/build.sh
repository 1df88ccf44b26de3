#!/usr/bin/env bash
# Configures (the release preset, so that its settings reach the folder each time) and builds
# everything into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root" && cmake --preset release >/dev/null)
cmake --build "$root/build" -j2
