#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on the simulated bus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/programs/movantrix-cli --port sim scan "$@"
