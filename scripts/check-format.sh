#!/usr/bin/env bash
# Fails when a C++ file under src/, tests/, bench/, fuzz/ or packaging/ differs from what clang-format
# (.clang-format) makes of it, and names each such file. `scripts/check-format.sh --fix` reformats
# them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null || { echo "❌ clang-format is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

files=()
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(find src tests bench fuzz packaging -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

if [[ "${1:-}" == "--fix" ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi

unformatted=()
for file in "${files[@]}"; do
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [[ ${#unformatted[@]} -gt 0 ]]; then
    echo "❌ Not formatted as .clang-format says (run scripts/check-format.sh --fix):" >&2
    printf '   %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "✅ ${#files[@]} C++ files formatted"
