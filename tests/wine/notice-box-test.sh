#!/usr/bin/env bash
# The reboot notice as a person sees it: Tarvox.exe under Wine on an X
# server of its own (Xvfb), with a change to make.
#   1. Without "-silent" a box captioned "Tarvox" appears holding the reboot
#      message; a screenshot of it is kept; Return closes it; exit code 0.
#   2. With "-silent" no window appears and the process ends by itself.
#
#   notice-box-test.sh ROOT TARVOX_EXE NOTICE_READER_EXE ARTIFACT_DIR
set -uo pipefail

root=$1
tarvox=$2
reader=$3
artifacts=$4
here=$(dirname "$0")
mkdir -p "$artifacts"

fail() {
  echo "FAILED: $*"
  exit 1
}

export WINEPREFIX=$root/prefixes/notice-box
export WINEDEBUG=-all
"$here/make-prefix.sh" "$root" "$WINEPREFIX" || fail "no Wine prefix"

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
  3>"$WINEPREFIX.display" </dev/null >/dev/null 2>&1 &
xvfb=$!
# Xvfb names its display once it accepts connections; a loaded machine may
# take seconds.
for _ in $(seq 400); do [ -s "$WINEPREFIX.display" ] && break; sleep 0.05; done
[ -s "$WINEPREFIX.display" ] || fail "Xvfb did not start"
export DISPLAY=:$(tr -d '\n' <"$WINEPREFIX.display")

cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT

wineserver -p </dev/null >/dev/null 2>&1
seed() {
  wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers' \
    /v '{4D36E965-E325-11CE-BFC1-08002BE10318}' /t REG_MULTI_SZ \
    /d 'OrvaneCo.dll,OrvaneCoInstaller' /f </dev/null >/dev/null 2>&1 ||
    fail "could not seed the co-installer entry"
}

echo "--- without -silent: the notice box"
seed
wine "$tarvox" </dev/null >"$WINEPREFIX.run.out" 2>&1 &
run=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarvox$' | head -n 1)
[ -n "$window" ] || fail "no window captioned Tarvox appeared"
sleep 0.5  # let it draw before the screenshot
# (The reader's standard output is in text mode: CR LF line ends.)
wine "$reader" Tarvox </dev/null 2>/dev/null | tr -d '\r' >"$WINEPREFIX.texts"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the box could not be read"
import -window root "$artifacts/notice-box.png" || fail "no screenshot"
echo "screenshot: $artifacts/notice-box.png"

expected=$'Tarvox\nThere was some errors in the registry. The Tarvox corrected this.\n       System must be rebooted for changes to become effective.\n'
if [ "$(cat "$WINEPREFIX.texts"; echo x)" != "${expected}x" ]; then
  echo "expected:"; printf '%s' "$expected"
  echo "found:"; cat "$WINEPREFIX.texts"
  fail "caption or text of the box"
fi
echo "caption and text: as expected"

xdotool windowfocus --sync "$window" key Return || fail "keypress"
for _ in $(seq 200); do kill -0 "$run" 2>/dev/null || break; sleep 0.05; done
kill -0 "$run" 2>/dev/null && fail "Return did not close the box"
wait "$run"
status=$?
[ "$status" -eq 0 ] || fail "exit code $status after the box, expected 0"
echo "closed with Return; exit code 0"

echo "--- with -silent: no window"
seed
timeout 30 wine "$tarvox" -silent </dev/null >"$WINEPREFIX.run.out" 2>&1
status=$?
[ "$status" -eq 124 ] && fail "the silent run did not end by itself"
[ "$status" -eq 0 ] || fail "silent exit code $status, expected 0"
if xdotool search --name '^Tarvox$' >/dev/null 2>&1; then
  fail "a window captioned Tarvox exists after the silent run"
fi
value=$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers' \
  /v '{4D36E965-E325-11CE-BFC1-08002BE10318}' </dev/null 2>/dev/null | tr -d '\r')
case $value in
  *OrvaneCo*) fail "the silent run did not remove the entry" ;;
esac
echo "silent run: no window, entry removed, exit code 0"
echo "1 passed, 0 failed"
