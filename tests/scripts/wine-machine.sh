#!/usr/bin/env bash
# A Wine machine for the fleet scripts' tests: a prefix of its own, copied
# from the build's template, seeded healthy or broken (seed-machine.sh, the
# demo's machine), its wineserver kept running; and in FOLDER, stand-ins
# for the scripts to start: each runs the real exe of the product folder in
# that prefix and carries the exe's own bytes after its last line, so its
# version resource reads as the real one's.
#
#   wine-machine.sh start BUILD PREFIX healthy|broken FOLDER
#   wine-machine.sh stop PREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG=-all
unset DISPLAY  # no desktop: a notice box would return at once

if [ "$1" = stop ]; then
  export WINEPREFIX=$2
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  exit 0
fi

build=$2
export WINEPREFIX=$3
kind=$4
folder=$5
"$here/../wine/make-prefix.sh" "$build/wine" "$WINEPREFIX"
# Persistent, and with no pipe of the caller's: Wine's background processes
# keep what the first Wine process had (see wine-exec.sh).
wineserver -p </dev/null >/dev/null 2>&1
"$here/../wine/seed-machine.sh" "$kind" "$build"

mkdir -p "$folder"
for exe in TarvoxCheck Tarvox; do
  {
    cat <<SCRIPT
#!/bin/sh
# $exe.exe of the prefix, run under Wine; output through files, as Wine's
# background processes would hold a pipe.
export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all
unset DISPLAY
out=\$(mktemp) err=\$(mktemp)
wine 'C:\\Program Files\\Orvane\\$exe.exe' "\$@" </dev/null >"\$out" 2>"\$err"
status=\$?
cat "\$out"
cat "\$err" >&2
rm -f "\$out" "\$err"
exit \$status
SCRIPT
    cat "$build/$exe.exe"
  } >"$folder/$exe.exe"
  chmod +x "$folder/$exe.exe"
done
