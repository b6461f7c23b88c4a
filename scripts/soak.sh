#!/usr/bin/env bash
# Builds and runs the fault soak (ctest label `soak`, left out of scripts/test.sh): random
# operations of the core over a simulated bus that injects random faults.
# Usage: scripts/soak.sh [count]   count: operations per run (default: the test's own, 20000)
# MVX_SOAK_SEED replays a run; each run prints its seed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target soak_test
if [ $# -gt 0 ]; then
    export MVX_SOAK_COUNT="$1"
fi
ctest --preset default -L soak --verbose
