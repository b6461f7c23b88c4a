#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test through ctest but the fault
# soak (label soak, scripts/soak.sh).
# Usage: scripts/test.sh [preset]   (default, asan or tsan; default: default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)" -LE soak  # the soak runs on its own: scripts/soak.sh
