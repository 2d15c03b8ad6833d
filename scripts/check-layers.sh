#!/usr/bin/env bash
# Fails when a file under src/ includes a folder of ours that its layer may not include, and names
# the include. Dependencies point down only: each layer may include the layers listed after it.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
    [core]=""
    [platform]="core"
    [imaging]="core platform"
    [folders]="core platform"
    [detect]="core platform imaging"
    [handle]="core platform imaging folders"
    [clipboard]="core platform imaging folders handle"
    [ui]="core platform imaging folders handle"
    [app]="core platform imaging folders detect handle clipboard ui"
)

status=0
while IFS= read -r -d '' file; do
    layer=${file#src/}
    layer=${layer%%/*}
    [[ -v "allowed[$layer]" ]] || continue
    while IFS= read -r included; do
        [[ $included == "$layer" || " ${allowed[$layer]} " == *" $included "* ]] && continue
        echo "❌ $file includes $included/, which the $layer layer may not include" >&2
        status=1
    done < <(grep -oE '^#include "[a-z]+/' "$file" | sed 's/#include "//; s#/$##' | sort -u)
done < <(find src -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
((status == 0)) && echo "✅ Every include points down the layers"
exit $status
