#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test through ctest but the fault
# soaks (labels soak and soak-flows, scripts/soak.sh). Prints the time of each step.
# Usage: scripts/test.sh [preset]   (default, asan or tsan; default: default)
# The benchmarks and the libFuzzer programs have their own presets (scripts/bench.sh,
# scripts/fuzz.sh); the fuzz targets' replay of their corpus and kept crashers is a test here.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
start=$SECONDS
step() {
    local name=$1
    shift
    local began=$SECONDS
    "$@"
    printf '== %s: %d s\n' "$name" $((SECONDS - began))
}
step "packages" scripts/setup.sh
step "configure" cmake --preset "$preset" >/dev/null
step "build" cmake --build --preset "$preset"
step "tests" ctest --preset "$preset" -j "$(nproc)" -LE soak # the soaks: scripts/soak.sh
printf '== scripts/test.sh %s: %d s\n' "$preset" $((SECONDS - start))
