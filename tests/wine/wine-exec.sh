#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own, copied from a
# template prefix that is made once per build folder.
#
#   wine-exec.sh ROOT PROGRAM.exe [ARGUMENTS...]
#
# CMake uses this as the cross-compiling emulator, so every Windows test runs
# through it. A GoogleTest filter in the arguments names the prefix, so each
# test starts from a fresh machine: ROOT/prefixes/<program>/<filter>. The
# prefix of a passing run is removed; a failing one is kept for inspection.
set -uo pipefail

root=$1
shift
program=$1
name=$(basename "$program" .exe)

tag=list
for argument in "$@"; do
  case $argument in
    --gtest_filter=*) tag=${argument#--gtest_filter=} ;;
  esac
done
tag=$(printf '%s' "$tag" | tr -c 'A-Za-z0-9._-' '_')

export WINEDEBUG=${WINEDEBUG:--all}

"$(dirname "$0")/make-prefix.sh" "$root" "$root/prefixes/$name/$tag" || exit 1
export WINEPREFIX=$root/prefixes/$name/$tag

# Tests see no display unless they ask for one (TARVOX_WINE_XVFB=1): message
# boxes then return at once instead of waiting for a click. Those that ask
# get an X server of their own.
unset DISPLAY
xvfb_pid=
if [ "${TARVOX_WINE_XVFB:-}" = 1 ]; then
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
    3>"$WINEPREFIX.display" </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 400); do
    [ -s "$WINEPREFIX.display" ] && break
    sleep 0.05
  done
  export DISPLAY=:$(tr -d '\n' <"$WINEPREFIX.display")
fi

# Output goes through files: Wine's background processes inherit whatever
# the first Wine process had, and a pipe held by them would keep the test
# runner waiting until the wineserver ends.
wineserver -p </dev/null >/dev/null 2>&1
wine "$@" </dev/null >"$WINEPREFIX.out" 2>"$WINEPREFIX.err"
status=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
cat "$WINEPREFIX.out"
cat "$WINEPREFIX.err" >&2
if [ "$status" -eq 0 ]; then
  rm -rf "$WINEPREFIX" "$WINEPREFIX.out" "$WINEPREFIX.err" "$WINEPREFIX.display"
fi
exit "$status"
