#!/usr/bin/env bash
# Builds everything and starts the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev -G Ninja >/dev/null
cmake --build --preset dev -j"$(nproc)"
exec build/bin/edogtool --help
