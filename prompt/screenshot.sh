#!/bin/sh
# Screenshot of pelmora's window for the docs, under a virtual X server:
#   xvfb-run -a -s "-screen 0 800x600x24" prompt/screenshot.sh build/dev/prompt/pelmora docs/screenshots/pelmora.png
# Uses openbox for the title bar when it is installed and no window manager
# runs yet (scripts/screenshots starts one); without one only the content area
# is taken.
set -eu
program=$1
out=$2
caption="Veltaro RLA-7070 Utilities - Connect Hardware"

wm=
if command -v openbox >/dev/null 2>&1 && ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi
"$program" &
pid=$!
tries=0
until xwininfo -name "$caption" >/dev/null 2>&1; do
  tries=$((tries + 1))
  if [ "$tries" -gt 50 ]; then
    echo "screenshot.sh: no window \"$caption\"" >&2
    kill "$pid" ${wm:+"$wm"}
    exit 1
  fi
  sleep 0.1
done
sleep 1  # first paint
id=$(xwininfo -name "$caption" | awk '/Window id:/ {print $4}')
mkdir -p "$(dirname "$out")"
import -frame -window "$id" -strip "PNG24:$out"
kill "$pid"
wait "$pid" || true
[ -z "$wm" ] || kill "$wm"
