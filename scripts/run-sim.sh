#!/usr/bin/env bash
# Installs what is needed, builds movantrix-cli and searches the simulated bus with it, in
# real time. Extra arguments go to the scan (e.g. --full).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target movantrix-cli
exec build/default/programs/movantrix-cli --port sim scan "$@"
