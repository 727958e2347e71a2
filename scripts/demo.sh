#!/usr/bin/env bash
# The main job, shown from end to end: builds Tarvox.exe, seeds a fresh Wine
# machine with broken CD-ROM filter entries, runs the tool as a product
# installer would ("-silent"), and shows the exit code, the log and the
# registry before and after. A second run shows that a repaired machine is
# left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-tools.sh

mkdir -p build/logs
echo "Building Tarvox.exe (mingw-w64, Release)..."
for step in configure build; do
  if [ $step = configure ]; then set -- cmake --preset windows
  else set -- cmake --build --preset windows --target Tarvox launch; fi
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

# The product folder, with the tool in it, as an installer leaves it.
product_unix="$WINEPREFIX/drive_c/Program Files/Orvane"
mkdir -p "$product_unix"
cp build/windows/Tarvox.exe "$product_unix/"
system32="$WINEPREFIX/drive_c/windows/system32"
printf 'MZ' >"$system32/drivers/goodflt.sys"

# The broken machine. Services: goodflt is healthy; staleflt has no service
# key; offflt is disabled. The product's co-installer DLL, OrvaneCo.dll, is
# not in system32.
reg_add() {  # KEY VALUE TYPE DATA (REG_MULTI_SZ entries separated by \0)
  wine reg add "$1" /v "$2" /t "$3" /d "$4" /f </dev/null >/dev/null 2>&1 ||
    { echo "could not seed $1 $2" >&2; exit 1; }
}
cdrom_class='{4D36E965-E325-11CE-BFC1-08002BE10318}'
reg_add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\orvane.exe' \
  Path REG_SZ 'C:\Program Files\Orvane'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Services\goodflt' Start REG_DWORD 1
reg_add 'HKLM\SYSTEM\CurrentControlSet\Services\goodflt' ImagePath REG_EXPAND_SZ \
  'System32\DRIVERS\goodflt.sys'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Services\offflt' Start REG_DWORD 4
reg_add "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\$cdrom_class" \
  LowerFilters REG_MULTI_SZ 'goodflt\0staleflt'
reg_add "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\$cdrom_class" \
  UpperFilters REG_MULTI_SZ 'offflt'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Control\CriticalDeviceDatabase\gencdrom' \
  UpperFilters REG_MULTI_SZ 'staleflt\0goodflt'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers' "$cdrom_class" \
  REG_MULTI_SZ 'cdprop.dll,CdPropPages\0OrvaneCo.dll,OrvaneCoInstaller'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0000' ClassGUID REG_SZ "$cdrom_class"
reg_add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0000' LowerFilters \
  REG_MULTI_SZ 'staleflt'

keys=(
  'HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E965-E325-11CE-BFC1-08002BE10318}'
  'HKLM\SYSTEM\CurrentControlSet\Control\CriticalDeviceDatabase\gencdrom'
  'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers'
  'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0000'
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
run_tarvox() {
  echo '$ "C:\Program Files\Orvane\Tarvox.exe" -silent'
  wine build/windows/launch.exe 'C:\Program Files\Orvane\Tarvox.exe' -silent \
    </dev/null 2>/dev/null | tr -d '\r'
}

cat <<'TEXT'

===== The machine
Services: goodflt (starts with the system, driver file present),
offflt (disabled); staleflt has no service at all.
The product's co-installer OrvaneCo.dll is not in C:\windows\system32.
TEXT
echo
echo "===== Registry before the run"
show_registry
echo
echo "===== First run"
run_tarvox
echo
echo "===== Log"
show_log
echo
echo "===== Registry after the run"
show_registry
echo
echo "===== Second run: nothing left to repair"
run_tarvox
show_log
