#!/usr/bin/env bash
# A program of the project runs alone on a bare Windows: it imports Windows
# system DLLs only. Tarvox.exe is a GUI-subsystem program, so no console
# window appears; TarvoxCheck.exe a console one, for its output is what it is
# for. The resources of each hold a version, the message catalogue (US
# English), and a manifest that asks for no elevation (an installer that
# starts Tarvox.exe without rights gets its exit code, not a prompt nobody
# can answer). The version in resources and manifest is the project's, from
# the project() line, in the four numbers Windows wants (1.2 is 1.2.0.0).
#   check-exe.sh OBJDUMP WINDRES EXE PROJECT_VERSION [SUBSYSTEM [ASSEMBLY]]
#   SUBSYSTEM: "Windows GUI" (the default) or "Windows CUI"; ASSEMBLY: the
#   manifest's assembly name, Kestrow.Orvane.Tarvox by default.
set -uo pipefail
objdump=$1
windres=$2
exe=$3
IFS=. read -r v1 v2 v3 v4 _ <<<"${4:?project version missing}"
version=${v1:-0}.${v2:-0}.${v3:-0}.${v4:-0}
subsystem=${5:-Windows GUI}
assembly=${6:-Kestrow.Orvane.Tarvox}
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
if grep -q "Subsystem.*($subsystem)" <<<"$headers"; then
  echo "subsystem: $subsystem"
else
  echo "FAILED: not a $subsystem program"
  failed=1
fi
resources=$("$windres" -i "$exe" -O rc) || { echo "FAILED: windres"; exit 1; }
for wanted in 'VERSIONINFO' 'LANGUAGE 9, 1' 'STRINGTABLE' 'RT_MANIFEST' \
  'level=""asInvoker""' 'supportedOS Id=""{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}""' \
  " FILEVERSION ${version//./, }" " PRODUCTVERSION ${version//./, }" \
  "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
  "name=\"\"$assembly\"\" version=\"\"$version\"\""; do
  if grep -qF "$wanted" <<<"$resources"; then
    echo "resources: $wanted"
  else
    echo "FAILED: resources lack $wanted"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$failed"
