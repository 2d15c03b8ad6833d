#!/usr/bin/env bash
# Builds the `fuzz` preset and runs each libFuzzer target in fuzz/ for a bounded time on a scratch
# copy of its seeds in fuzz/corpus/<target>/, so nothing new is written into the repository. Fails
# when a target finds a crash, a broken property, a leak or a hang; the input that did it is kept
# under build/fuzz/findings/.
#   scripts/run-fuzzers.sh [seconds-per-target [seed]]   (defaults 20 and 1)
# With one seed each run mutates the same way, so runs try nearly the same inputs (the targets' own
# coverage varies a little from run to run) rather than a new random sample each time. To look for
# new faults, give seed 0 (a random one each run) and more time.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
seed=${2:-1}
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzzers

# Memory-backed when there is such a place: the settings target writes a file for every input.
scratch=$(mktemp -d -p "$([[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$scratch"' EXIT
findings=build/fuzz/findings
mkdir -p "$findings"

run() {
    local target=$1 corpus="$scratch/corpus/$1"
    mkdir -p "$corpus" "$scratch/tmp/$target"
    cp fuzz/corpus/"$target"/* "$corpus"/
    local options=(-max_total_time="$seconds" -seed="$seed" -rss_limit_mb=2048 -timeout=5 -print_final_stats=1
                   -artifact_prefix="$findings/$target-")
    [[ -f fuzz/$target.dict ]] && options+=(-dict="fuzz/$target.dict")
    # Flags of a target's own, one a line.
    [[ -f fuzz/$target.options ]] && mapfile -t -O "${#options[@]}" options <"fuzz/$target.options"
    TMPDIR="$scratch/tmp/$target" "build/fuzz/fuzz/${target}_fuzzer" "${options[@]}" "$corpus" \
        >"$scratch/$target.log" 2>&1
}

targets=()
for folder in fuzz/corpus/*/; do
    targets+=("$(basename "$folder")")
done
# The targets run side by side, as many at a time as there are processors.
failed=()
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
    batch=("${targets[@]:first:jobs}")
    pids=()
    for target in "${batch[@]}"; do
        run "$target" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        target=${batch[$i]}
        if wait "${pids[$i]}"; then
            # libFuzzer's last status line: coverage, corpus, executions per second.
            echo "✅ $target: $(grep -a 'DONE' "$scratch/$target.log" | tail -n 1 | sed 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*//')"
        else
            failed+=("$target")
            echo "❌ $target found a fault; its log ends:" >&2
            grep -av '^#[0-9]' "$scratch/$target.log" | tail -n 40 >&2
        fi
    done
done

if ((${#failed[@]} > 0)); then
    echo "❌ Fuzzing found faults in: ${failed[*]} (inputs under $findings/)" >&2
    exit 1
fi
echo "✅ Every fuzz target ran ${seconds} s without a fault"
