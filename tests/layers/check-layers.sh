#!/bin/sh
# Holds the core's layer order: a folder of src/core includes only itself and the folders before
# it, and src/sim includes nothing of src/core. Names every quoted include against the order as
# FILE:LINE and fails when there is one.
# Usage: check-layers.sh [SOURCE_ROOT]   (default: the repository this script is in)
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
order="base charts link curves calgen logging consoles calibration serve app"

# Position of a folder in the order; -1 for a folder that is not a layer.
rank() {
    i=0
    for l in $order; do
        [ "$l" = "$1" ] && { echo $i; return; }
        i=$((i + 1))
    done
    echo -1
}

for dir in "$root/src/core" "$root/src/sim"; do
    [ -d "$dir" ] || { echo "check-layers: $dir is missing" >&2; exit 2; }
done
includes=$(mktemp) && faults=$(mktemp) || exit 2
trap 'rm -f "$includes" "$faults"' EXIT

# One "file:line:included path" per quoted include.
find "$root/src/core" "$root/src/sim" -type f \( -name '*.h' -o -name '*.cpp' \) | sort |
    while read -r f; do
        grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" |
            sed "s|^\([0-9]*\):[^\"]*\"\([^\"]*\)\".*|${f#"$root"/}:\1:\2|"
    done >"$includes"

while IFS=: read -r file line inc; do
    first=${inc%%/*}
    case $file in
        src/sim/*)
            if [ "$first" != "$inc" ] && [ "$(rank "$first")" -ge 0 ]; then
                echo "$file:$line: includes \"$inc\": src/sim includes nothing of src/core"
            fi
            ;;
        src/core/*)
            rest=${file#src/core/}
            layer=${rest%%/*}
            own=$(rank "$layer")
            if [ "$own" -lt 0 ]; then
                echo "$file:$line: \"$layer\" is not a layer folder"
            elif [ "$first" = "$inc" ]; then
                echo "$file:$line: includes \"$inc\": name the folder (\"$layer/$inc\")"
            elif [ "$(rank "$first")" -lt 0 ]; then
                echo "$file:$line: includes \"$inc\": not a layer folder"
            elif [ "$(rank "$first")" -gt "$own" ]; then
                echo "$file:$line: includes \"$inc\": $layer may not include $first"
            fi
            ;;
    esac
done <"$includes" >"$faults"

if [ -s "$faults" ]; then
    cat "$faults"
    echo "check-layers: the order is $order; src/sim stands alone"
    exit 1
fi
echo "check-layers: every include of src/core and src/sim keeps the order"
