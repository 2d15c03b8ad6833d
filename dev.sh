#!/usr/bin/env bash
# The two commands of the README:
#   ./dev.sh run    install what is missing, build, launch Quillary
#   ./dev.sh test   install what is missing, build, run every test, build the generic platform
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

build() {
    local preset=$1
    shift
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" "$@"
}

case "${1:-}" in
run)
    scripts/setup.sh
    build default --target quillary
    shift
    exec build/default/src/quillary "$@"
    ;;
test)
    scripts/setup.sh
    # Formatting and the layering of includes are checked first but only fail the run at the end, so
    # their verdict never hides the tests'. Every build treats warnings as errors (QUILLARY_WERROR).
    formatted=true
    scripts/check-format.sh || formatted=false
    layered=true
    scripts/check-layers.sh || layered=false
    # The threaded and parser tests run once under AddressSanitizer and UndefinedBehaviorSanitizer,
    # the threaded ones under ThreadSanitizer; the full suite comes last of the tests, so ctest's
    # summary of it is the last test output.
    build asan --target sanitized_tests
    ctest --preset asan
    build tsan --target threaded_tests
    ctest --preset tsan
    build default
    ctest --preset default
    # The portable platform fallbacks have no tests of their own; building them keeps them linking.
    build generic
    # The parsers' libFuzzer targets, 20 s each on a copy of their seeds.
    scripts/run-fuzzers.sh
    if [[ $formatted == false ]]; then
        echo "❌ Tests passed, but some files are not formatted (see above; scripts/check-format.sh --fix)" >&2
        exit 1
    fi
    if [[ $layered == false ]]; then
        echo "❌ Tests passed, but some includes point up the layers (see above)" >&2
        exit 1
    fi
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
