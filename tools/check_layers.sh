#!/usr/bin/env bash
# Fails when a file under src/ includes a folder that sits above its own in the stack the README's
# developer section lists (bottom first). Usage: tools/check_layers.sh [REPO_DIR]
set -euo pipefail
repo=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# The stack, read from the README table rows "| `folder/` | ... |" between the two markers.
mapfile -t stack < <(sed -n '/<!-- layers:begin -->/,/<!-- layers:end -->/p' "$repo/README.md" \
    | grep -o '^| `[a-z_]*/`' | sed 's/^| `\([a-z_]*\)\/`/\1/')
if [ "${#stack[@]}" -lt 2 ]; then
    echo "check_layers: no layer table found in README.md" >&2
    exit 2
fi
declare -A rank
for i in "${!stack[@]}"; do rank[${stack[$i]}]=$i; done
# Front ends sit on top and may use every core folder, but never each other.
top=${#stack[@]}

bad=0
while IFS= read -r -d '' file; do
    rel=${file#"$repo/src/"}
    own=${rel%%/*}
    [ "$own" = "$rel" ] && continue
    if [ -z "${rank[$own]+x}" ]; then
        echo "$rel: folder '$own' is not in the layer table of README.md"
        bad=1
        continue
    fi
    while IFS= read -r line; do
        used=$(sed 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/' <<<"$line")
        [ "$used" = "$line" ] && continue
        [ "$used" = "$own" ] && continue
        if [ -z "${rank[$used]+x}" ]; then
            echo "$rel: includes '$used/', which is not in the layer table"
            bad=1
        elif [ "${rank[$used]}" -gt "${rank[$own]}" ] || { [ "${rank[$used]}" -ge "$((top - 2))" ] && [ "${rank[$own]}" -ge "$((top - 2))" ]; }; then
            echo "$rel: includes '$used/', which sits above '$own/'"
            bad=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$file" || true)
done < <(find "$repo/src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "$bad" = 0 ]; then
    echo "layers: every include points down (${stack[*]})"
fi
exit "$bad"
