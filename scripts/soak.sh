#!/usr/bin/env bash
# Builds and runs the fault soak (ctest label `soak`, left out of scripts/test.sh): random
# operations of the core over a simulated bus that injects random faults.
# Usage: scripts/soak.sh [count] [flows]   count: operations per run (default: the test's own,
# 20000, and one flow scenario per 500 of them); `flows` runs only the search, restore and robot
# flows' soak (label soak-flows, MVX_SOAK_FLOWS scenarios).
# MVX_SOAK_SEED replays a run; each run prints its seed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target soak_test
if [ $# -gt 0 ] && [ "$1" != flows ]; then
    export MVX_SOAK_COUNT="$1"
    shift
fi
if [ "${1:-}" = flows ]; then
    ctest --preset default -L soak-flows --verbose
else
    ctest --preset default -L '^soak$' --verbose
fi
