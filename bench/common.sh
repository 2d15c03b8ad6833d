# Sourced by the run-*.sh scripts. Builds one benchmark target (into the bench preset's folder, or
# into BUILD_DIR with the same settings) and sets BUILD_DIR.
build_bench() {
  local target=$1
  if [ -n "${BUILD_DIR:-}" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLARY_BUILD_TESTS=OFF \
      -DQUILLARY_BUILD_BENCHMARKS=ON >/dev/null
    cmake --build "$BUILD_DIR" --target "$target" -- -j2
  else
    BUILD_DIR=build/bench
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target "$target" -- -j2
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
