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
