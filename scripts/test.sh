#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite.
# Usage: scripts/test.sh [PRESET]   (dev by default; asan, tsan and release also work)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"

scripts/install-deps.sh
cmake --preset "$preset" -G Ninja
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)" --output-on-failure
