#!/usr/bin/env bash
# Seeds the Wine prefix $WINEPREFIX (wineserver running) with a machine the
# demo and the fleet-script tests share, and puts the exes of EXE_DIR in its
# product folder, C:\Program Files\Orvane, as an installer leaves them.
#
#   seed-machine.sh broken|healthy EXE_DIR
#
# broken: goodflt is healthy; offflt is disabled; dvdflt lost its driver
# file, but a .bak copy lies beside it; burnkit was uninstalled and left its
# name behind in filter lists, the classic cause of vanished CD/DVD drives;
# the product's co-installer DLL, OrvaneCo.dll, is not in system32; two
# CD-ROM devices, one listing offflt, one holding its list as a single
# string.
# healthy: goodflt alone, in the class key's UpperFilters and a device's.
set -euo pipefail
kind=$1
exes=$2

product_unix="$WINEPREFIX/drive_c/Program Files/Orvane"
mkdir -p "$product_unix"
cp "$exes/Tarvox.exe" "$exes/TarvoxCheck.exe" "$exes/TarvoxRestore.exe" "$product_unix/"
drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
printf 'MZ' >"$drivers/goodflt.sys"

reg_add() {  # KEY VALUE TYPE DATA (REG_MULTI_SZ entries separated by \0)
  wine reg add "$1" /v "$2" /t "$3" /d "$4" /f </dev/null >/dev/null 2>&1 ||
    { echo "could not seed $1 $2" >&2; exit 1; }
}
cdrom_class='{4D36E965-E325-11CE-BFC1-08002BE10318}'
class_key="HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\$cdrom_class"
services='HKLM\SYSTEM\CurrentControlSet\Services'
reg_add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\orvane.exe' \
  Path REG_SZ 'C:\Program Files\Orvane'
reg_add "$services\goodflt" Start REG_DWORD 1
reg_add "$services\goodflt" ImagePath REG_EXPAND_SZ 'System32\DRIVERS\goodflt.sys'
for device in 0000 0001; do
  reg_add "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\$device" \
    ClassGUID REG_SZ "$cdrom_class"
done

if [ "$kind" = healthy ]; then
  reg_add "$class_key" UpperFilters REG_MULTI_SZ 'goodflt'
  reg_add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0000' UpperFilters \
    REG_MULTI_SZ 'goodflt'
  exit 0
fi

printf 'MZ' >"$drivers/offflt.sys"
printf 'MZ' >"$drivers/dvdflt.bak"   # dvdflt.sys itself is gone
reg_add "$services\offflt" Start REG_DWORD 4
reg_add "$services\dvdflt" Start REG_DWORD 3
reg_add "$services\dvdflt" ImagePath REG_EXPAND_SZ '\SystemRoot\System32\drivers\dvdflt.sys'
reg_add "$class_key" UpperFilters REG_MULTI_SZ 'goodflt\0burnkit'
reg_add "$class_key" LowerFilters REG_MULTI_SZ 'dvdflt\0offflt'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Control\CriticalDeviceDatabase\gencdrom' \
  UpperFilters REG_MULTI_SZ 'burnkit\0goodflt'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Control\CoDeviceInstallers' "$cdrom_class" \
  REG_MULTI_SZ 'cdprop.dll,CdPropPages\0OrvaneCo.dll,OrvaneCoInstaller'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0000' LowerFilters \
  REG_MULTI_SZ 'offflt\0goodflt'
reg_add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\CDROM\0001' UpperFilters \
  REG_SZ 'goodflt'
