# shellcheck shell=bash
# Sourced by the run-*.sh scripts. build_bench TARGET...: builds benchmark targets (into the bench
# preset's folder, or into BUILD_DIR with the same settings) and sets BUILD_DIR.
build_bench() {
  if [ -n "${BUILD_DIR:-}" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLARY_BUILD_TESTS=OFF \
      -DQUILLARY_BUILD_BENCHMARKS=ON >/dev/null
    cmake --build "$BUILD_DIR" --target "$@" -- -j2
  else
    BUILD_DIR=build/bench
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target "$@" -- -j2
  fi
}

# median_ms CMD...: median wall time of RUNS runs, in milliseconds (hyperfine when installed).
median_ms() {
  if command -v hyperfine >/dev/null; then
    hyperfine -N --warmup 1 --runs "$RUNS" --export-csv "$OUT/hf.csv" -- "$(printf '%q ' "$@")" >/dev/null
    awk -F, 'NR == 2 { printf "%.1f\n", $4 * 1000 }' "$OUT/hf.csv"
    return
  fi
  "$@" >/dev/null 2>&1
  local times=() start end
  for _ in $(seq "$RUNS"); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | awk '{ print ($1 - $3) * 1000 }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f\n", t[int((NR + 1) / 2)] }'
}

# verdict VALUE OP TARGET: "met" when VALUE OP TARGET holds (OP: <, <=, >= or >), else "MISSED".
verdict() {
  awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN {
    ok = op == "<" ? v < t : op == "<=" ? v <= t : op == ">=" ? v >= t : v > t
    print (ok ? "met" : "MISSED")
  }'
}

# report FIGURE VALUE TARGET REFERENCE VERDICT: one figure beside its target and what it is measured
# against, printed as the benchmark programs print theirs (bench/BenchReport.h), and appended as a
# tab-separated line to the file BENCH_SUMMARY names, when it names one (bench/run-all.sh's table).
report() {
  printf '%s: %s (target %s; reference: %s): %s\n' "$1" "$2" "$3" "$4" "$5"
  if [ -n "${BENCH_SUMMARY:-}" ]; then printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" >>"$BENCH_SUMMARY"; fi
}

# start_xvfb WORK: a private 1920x1080 Xvfb display; exports DISPLAY and appends the server's pid to
# the caller's array `pids`.
start_xvfb() {
  local fd
  exec {fd}>"$1/display"
  Xvfb -displayfd "$fd" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  exec {fd}>&-
  until [[ -s "$1/display" ]]; do sleep 0.1; done
  export DISPLAY=:$(head -n1 "$1/display")
}
