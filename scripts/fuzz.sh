#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs each of them in turn for a while.
#
# Usage: scripts/fuzz.sh [seconds per target] [target...]   (default: 60 s, every target)
#
# First every kept crasher in fuzz/regressions/<target>/ is replayed. Then each target runs on
# its working corpus build/fuzz/corpus/<target>/ (seeded from fuzz/corpus/<target>/, which is
# never written) and one summary line per target is printed. A crash, leak, timeout or broken
# invariant leaves its input in build/fuzz/crashes/<target>/ and makes the exit status 1; keep
# such an input in fuzz/regressions/<target>/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: scripts/fuzz.sh [seconds per target] [target...]" >&2
    exit 2
fi

# Target name and the largest input worth trying. Firmware files go up to 65535 bytes, so its
# inputs may pass that limit; the others need far less.
declare -A max_len=(
    [status_packet]=1024
    [firmware_file]=66000
    [sim_device]=4096
    [bus_description]=4096
    [settings_file]=4096
    [cli_arguments]=512
    [robot_profile]=16384
    [bus_log]=4096
)
all_targets=(status_packet firmware_file sim_device bus_description settings_file cli_arguments
    robot_profile bus_log)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=("${all_targets[@]}")
fi
for t in "${targets[@]}"; do
    if [ -z "${max_len[$t]:-}" ]; then
        echo "scripts/fuzz.sh: unknown target \"$t\" (targets: ${all_targets[*]})" >&2
        exit 2
    fi
done

build=build/fuzz
cmake --preset fuzz --no-warn-unused-cli >/dev/null
cmake --build --preset fuzz -j "${FUZZ_BUILD_JOBS:-$(nproc)}"

export TMPDIR="$PWD/$build/tmp"
mkdir -p "$TMPDIR"
# Sanitizer reports end the run with the input kept; a leak counts as a failure too.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
common=(-timeout=10 -rss_limit_mb=2048)

failed=0
summary=()

# Kept crashers first: each must run clean.
for t in "${targets[@]}"; do
    shopt -s nullglob
    kept=(fuzz/regressions/"$t"/*)
    shopt -u nullglob
    if [ ${#kept[@]} -eq 0 ]; then
        continue
    fi
    if ! "$build/fuzz/fuzz_$t" "${common[@]}" "${kept[@]}" >"$build/regressions-$t.log" 2>&1; then
        echo "fuzz_$t: a kept crasher fails again (see $build/regressions-$t.log)" >&2
        failed=1
    fi
done

for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    crashes="$build/crashes/$t"
    log="$build/fuzz-$t.log"
    mkdir -p "$corpus" "$crashes"
    cp -f fuzz/corpus/"$t"/* "$corpus"/
    echo "== fuzz_$t: ${seconds} s" >&2
    status=0
    "$build/fuzz/fuzz_$t" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        -max_len="${max_len[$t]}" -artifact_prefix="$crashes/" "$corpus" >"$log" 2>&1 ||
        status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
    line=$(printf '%-16s execs %-10s exec/s %-7s cov %-5s ft %-6s corpus %s' "$t" \
        "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}")
    if [ "$status" -ne 0 ]; then
        artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
        line+="  FAILED: ${artifact:-see $log}"
        failed=1
    fi
    summary+=("$line")
done

printf '%s\n' "${summary[@]}"
exit "$failed"
