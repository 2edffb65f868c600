#!/bin/sh
# The systemd units as the package installs them, with brennicctl where the
# build put it: systemd-analyze verify finds neither an error nor a warning.
# Usage: verify_units.sh UNIT_SOURCE_DIR BRENNICCTL
set -u
if ! systemd-analyze --version >/dev/null 2>&1; then
    echo "skipped: systemd-analyze cannot run here"
    exit 77
fi
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
for unit in brennic-history.service brennic-metrics.service; do
    sed "s|@BRENNICCTL@|$2|" "$1/$unit.in" >"$dir/$unit"
done
cp "$1/brennic-metrics.timer" "$dir/"
out=$(systemd-analyze verify --man=no "$dir"/* 2>&1)
status=$?
printf '%s\n' "$out"
[ $status -eq 0 ] && [ -z "$out" ]
