#!/bin/sh
# Each folder of the program uses only the folders below it in the layer order (README,
# "Where things live"), and the core below resources/ builds without Qt. Prints every
# include that reaches up, and fails when there is one.
set -eu
cd "${1:-$(dirname "$0")/..}"
order="platform settings diagnostics engine resources view dialogs frame app"
rank() {
    i=0
    for layer in $order; do
        [ "$layer" = "$1" ] && { echo $i; return; }
        i=$((i + 1))
    done
    echo -1
}
bad=0
for folder in $order; do
    mine=$(rank "$folder")
    for file in "$folder"/*.h "$folder"/*.cpp; do
        [ -e "$file" ] || continue
        for used in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file" | sort -u); do
            theirs=$(rank "$used")
            if [ "$theirs" -gt "$mine" ]; then
                echo "$file: $folder uses $used, which lies above it"
                bad=1
            fi
        done
        if [ "$mine" -le "$(rank engine)" ] && grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
            echo "$file: the core includes Qt"
            bad=1
        fi
    done
done
exit $bad
