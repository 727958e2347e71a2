#!/usr/bin/env bash
# Tarvox.exe runs alone on a bare Windows: it imports Windows system DLLs
# only, and it is a GUI-subsystem program, so no console window appears. Its
# resources hold a version, the message catalogue (US English), and a
# manifest that asks for no elevation (an installer that starts it without
# rights gets its exit code, not a prompt nobody can answer).
#   check-exe.sh OBJDUMP WINDRES TARVOX_EXE
set -uo pipefail
objdump=$1
windres=$2
exe=$3
headers=$("$objdump" -p "$exe") || { echo "FAILED: objdump"; exit 1; }
failed=0
allowed='^(KERNEL32|msvcrt|ADVAPI32|SETUPAPI|USER32)\.dll$'
while read -r dll; do
  if [[ $dll =~ $allowed ]]; then
    echo "imports $dll"
  else
    echo "FAILED: imports $dll, which a bare Windows may not have"
    failed=1
  fi
done < <(printf '%s\n' "$headers" | sed -n 's/^\s*DLL Name: //p')
if grep -q 'Subsystem.*(Windows GUI)' <<<"$headers"; then
  echo "subsystem: Windows GUI"
else
  echo "FAILED: not a GUI-subsystem program"
  failed=1
fi
resources=$("$windres" -i "$exe" -O rc) || { echo "FAILED: windres"; exit 1; }
for wanted in 'VERSIONINFO' 'LANGUAGE 9, 1' 'STRINGTABLE' 'RT_MANIFEST' \
  'level=""asInvoker""' 'supportedOS Id=""{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}""'; do
  if grep -qF "$wanted" <<<"$resources"; then
    echo "resources: $wanted"
  else
    echo "FAILED: resources lack $wanted"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$failed"
