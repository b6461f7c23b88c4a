#!/usr/bin/env bash
# Installs what is needed, builds movantrix-manager-sim and starts it: the desktop program over
# the built-in simulated bus, in real time. An argument names a bus description file instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target movantrix-manager-sim movantrix-cli
exec build/default/programs/movantrix-manager-sim "$@"
