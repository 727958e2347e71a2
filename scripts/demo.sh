#!/usr/bin/env bash
# The main job, shown from end to end: builds Tarvox.exe, seeds a fresh Wine
# machine with broken CD-ROM filter entries, runs the tool as a product
# installer would ("-silent"), and shows the exit code, the log and the
# registry before and after. A second run shows that a repaired machine is
# left alone. Last, the disabled filter the repair removed is enabled again
# and put back with TarvoxRestore.exe, where it stood.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-tools.sh

mkdir -p build/logs
echo "Building Tarvox.exe (mingw-w64, Release)..."
for step in configure build; do
  if [ $step = configure ]; then set -- cmake --preset windows
  else set -- cmake --build --preset windows --target Tarvox TarvoxCheck TarvoxRestore launch; fi
  "$@" >"build/logs/demo-$step.log" 2>&1 ||
    { cat "build/logs/demo-$step.log"; exit 1; }
done

root=$PWD/build/windows/wine
export WINEPREFIX=$root/prefixes/demo
export WINEDEBUG=-all
unset DISPLAY  # no desktop: a notice box would return at once
tests/wine/make-prefix.sh "$root" "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1' EXIT

# The broken machine (see the script), with the exes in the product folder
# as an installer leaves them.
tests/wine/seed-machine.sh broken build/windows
product_unix="$WINEPREFIX/drive_c/Program Files/Orvane"
system32="$WINEPREFIX/drive_c/windows/system32"
reg_add() {  # KEY VALUE TYPE DATA
  wine reg add "$1" /v "$2" /t "$3" /d "$4" /f </dev/null >/dev/null 2>&1 ||
    { echo "could not set $1 $2" >&2; exit 1; }
}
services='HKLM\SYSTEM\CurrentControlSet\Services'

keys=(
  'HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E965-E325-11CE-BFC1-08002BE10318}'
  'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers'
  'HKLM\SYSTEM\CurrentControlSet\Control\CriticalDeviceDatabase\gencdrom'
  'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM'
  'HKLM\SOFTWARE\Kestrow\OrvaneTarvox'
)
show_registry() {
  local key found
  for key in "${keys[@]}"; do
    if found=$(wine reg query "$key" /s </dev/null 2>/dev/null); then
      printf '%s\n' "$found" | tr -d '\r' | sed '/^$/d'
    else
      echo "$key: (no such key)"
    fi
  done
}
show_drivers() {
  echo "C:\\windows\\system32\\drivers:" \
    $(cd "$system32/drivers" && ls goodflt.* offflt.* dvdflt.* 2>/dev/null)
}
show_log() {
  local shown=
  for name in Tarvox.log TarvoxTmp.log; do
    if [ -f "$product_unix/$name" ]; then
      echo "C:\\Program Files\\Orvane\\$name:"
      tr -d '\r' <"$product_unix/$name" | sed 's/^/  | /'
      shown=1
    fi
  done
  [ -n "$shown" ] || echo "(no log file: the run wrote no line, so none is kept)"
}
run_check() {
  echo '$ "C:\Program Files\Orvane\TarvoxCheck.exe"'
  wine build/windows/launch.exe 'C:\Program Files\Orvane\TarvoxCheck.exe' \
    </dev/null 2>/dev/null | tr -d '\r'
}
run_restore() {  # ARGUMENTS...
  echo "\$ \"C:\\Program Files\\Orvane\\TarvoxRestore.exe\" $*"
  wine build/windows/launch.exe 'C:\Program Files\Orvane\TarvoxRestore.exe' "$@" \
    </dev/null 2>/dev/null | tr -d '\r'
}
run_tarvox() {
  echo '$ "C:\Program Files\Orvane\Tarvox.exe" -silent'
  wine build/windows/launch.exe 'C:\Program Files\Orvane\Tarvox.exe' -silent \
    </dev/null 2>/dev/null | tr -d '\r'
}

cat <<'TEXT'

===== The machine
Services: goodflt starts with the system and has its driver file; offflt is
disabled; dvdflt starts on demand (as Plug and Play filters do) but its
driver file is gone, with a dvdflt.bak copy beside it; burnkit was
uninstalled, and its name was left behind in the CD-ROM UpperFilters lists:
the classic reason CD and DVD drives vanish from Windows.
The product's co-installer OrvaneCo.dll is not in C:\windows\system32.
The class key's LowerFilters lists dvdflt and the disabled offflt. Two
CD-ROM devices: 0000 lists offflt too; 0001 holds its upper filter as a
single string.
TEXT
echo
echo "===== Registry before the run"
show_registry
show_drivers
echo
echo "===== What TarvoxCheck.exe foresees (it changes nothing)"
run_check
echo
echo "===== First run"
run_tarvox
echo
echo "===== Log"
show_log
echo
echo "===== Registry after the run"
show_registry
show_drivers
echo
echo "===== Second run: nothing left to repair"
before=$(cat "$product_unix/Tarvox.log" 2>/dev/null | md5sum)
run_tarvox
if [ "$(cat "$product_unix/Tarvox.log" 2>/dev/null | md5sum)" = "$before" ] &&
  [ ! -f "$product_unix/TarvoxTmp.log" ]; then
  echo "(the run wrote no line: Tarvox.log is still the first run's)"
else
  show_log
fi
echo
echo "===== TarvoxCheck.exe after the repair"
run_check
echo
cat <<'TEXT'
===== Undo: offflt was disabled only while someone looked into a fault
Its service is set to start on demand again. TarvoxRestore.exe lists the
backups the repair wrote, says what putting offflt back would change, and
puts it back where it stood: on the class key and on device ROOT\CDROM\0000,
which its backup names.
TEXT
reg_add "$services\offflt" Start REG_DWORD 3
run_restore
echo
run_restore --name offflt
echo
run_restore --name offflt --apply
echo
echo "C:\\Program Files\\Orvane\\TarvoxRestore.log:"
tr -d '\r' <"$product_unix/TarvoxRestore.log" | sed 's/^/  | /'
echo
echo "===== Registry after the restore (the backups are as the repair left them)"
show_registry
echo
echo "===== TarvoxCheck.exe after the restore: nothing to repair"
run_check
