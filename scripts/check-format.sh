#!/usr/bin/env bash
# Fails when a C++ source file is not formatted by the repository's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests bench programs fuzz include examples python -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ ${#files[@]} -eq 0 ] && exit 0
clang-format --dry-run -Werror "${files[@]}"
