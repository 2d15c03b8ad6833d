#!/usr/bin/env bash
# The two commands of the README:
#   ./dev.sh run    install what is missing, build, launch Quillary
#   ./dev.sh test   install what is missing, build, run every test
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
    # The folder monitor's threading runs once under the sanitizers; the full suite comes last,
    # so ctest's summary of it closes the output.
    build asan --target sanitized_tests
    ctest --preset asan
    build default
    ctest --preset default
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
