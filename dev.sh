#!/usr/bin/env bash
# The commands of the README:
#   ./dev.sh run      install what is missing, build, launch Quillary
#   ./dev.sh test     install what is missing, build, run every test
#   ./dev.sh package  install what is missing, build a release, make the Debian package of it
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

# Each step says how long it took, so a slow one shows in the log.
timed() {
    local started=$SECONDS
    "$@"
    echo "⏱  $* took $((SECONDS - started)) s" >&2
}

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
    # Every GoogleTest test runs once under AddressSanitizer and UndefinedBehaviorSanitizer, the
    # threaded ones under ThreadSanitizer; the full suite comes last of the tests, so ctest's summary
    # of it is the last test output.
    timed build asan --target sanitized_tests
    timed ctest --preset asan
    timed build tsan --target threaded_tests
    timed ctest --preset tsan
    timed build default
    # Everything is installed now: an end-to-end test missing a tool fails rather than skips.
    QUILLARY_E2E_REQUIRE_TOOLS=1 timed ctest --preset default
    # The parsers' libFuzzer targets, 20 s each on a copy of their seeds, from a fixed seed.
    timed scripts/run-fuzzers.sh
    if [[ $formatted == false ]]; then
        echo "❌ Tests passed, but some files are not formatted (see above; scripts/check-format.sh --fix)" >&2
        exit 1
    fi
    if [[ $layered == false ]]; then
        echo "❌ Tests passed, but some includes point up the layers (see above)" >&2
        exit 1
    fi
    ;;
package)
    scripts/setup.sh
    # A release build of the application alone (no tests); CPack installs it into a staging folder
    # and makes build/package/quillary_VERSION_ARCH.deb of it, the only one there, so the README's
    # `apt install ./build/package/quillary_*.deb` never picks an older version's too.
    build package
    rm -f build/package/quillary_*.deb
    cpack --preset package
    ;;
*)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac
