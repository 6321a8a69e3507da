#!/usr/bin/env bash
# Fails when a source of the system includes a header of a layer above its own. The layers, from
# the bottom: the emulated chip and host, then what every manager uses, the table managers, the
# NAT helper, the CLI, and the agent, which nothing includes.
set -u
layers=(chip host common tables helper cli agent)
cd "${1:-$(dirname "$0")/..}" || exit 2

rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

bad=0
for layer in "${layers[@]}"; do
    own=$(rank "$layer")
    [ -d "$layer" ] || continue
    while IFS=: read -r file line text; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^/"]+)\/.*/\1/' <<<"$text")
        r=$(rank "$target")
        if [ "$r" -gt "$own" ]; then
            echo "$file:$line: $layer includes $target, a layer above it: $text"
            bad=1
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^/"]+/' "$layer" \
        --include='*.h' --include='*.cpp')
done
if [ "$bad" -eq 0 ]; then
    echo "layers: ${layers[*]}: no include goes up"
fi
exit "$bad"
