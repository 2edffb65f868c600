#!/bin/sh
# Every symbol the window module leaves undefined is found when brennic loads
# it: in brennic's own dynamic symbols or in a library the module needs.
# A layer left out of brennic's exports fails here, not at a user's start.
# Usage: module_exports.sh BRENNIC MODULE
set -u
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# Drop the version: "f@GLIBC_2.2.5" and "f@@GLIBC_2.2.5" name the same f.
names() { awk '{ sub(/@.*/, "", $NF); print $NF }' | sort -u; }
nm -D --undefined-only "$2" | awk '$1 == "U"' | names >"$dir/wanted"
{
    nm -D --defined-only "$1"
    ldd "$2" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' | while read -r lib; do nm -D --defined-only "$lib"; done
} | names >"$dir/given"
[ -s "$dir/wanted" ] || { echo "no undefined symbols read from $2"; exit 1; }
missing=$(comm -23 "$dir/wanted" "$dir/given")
if [ -n "$missing" ]; then
    echo "$2 needs symbols that $1 does not export:"
    printf '%s\n' "$missing" | c++filt | head -n 20
    exit 1
fi
echo "$(wc -l <"$dir/wanted") undefined symbols of $2, all found"
