#!/usr/bin/env bash
# Windows refuses to start an exe that imports a function its DLLs lack, so
# each function a shipped program imports must be in windows-imports.txt and
# exported by Windows 5.2 (XP x64, Server 2003 x64) already. Quiet when they
# all are; otherwise one line for each import that is not.
#   check-imports.sh OBJDUMP TABLE EXE...
set -uo pipefail
objdump=$1
table=$2
shift 2
failed=0
for exe in "$@"; do
  headers=$("$objdump" -p "$exe") || { echo "FAILED: objdump $exe"; exit 1; }
  awk -v exe="${exe##*/}" -v table="${table##*/}" '
    # The table: DLL, function, version, where the version comes from.
    FILENAME == ARGV[1] {
      if ($0 ~ /^[ \t]*(#|$)/) next
      if ($3 !~ /^[0-9]+\.[0-9]+$/) {
        print "FAILED: " table " line " FNR " has no version: " $0
        bad = 1
      }
      key = toupper($1) " " $2
      version[key] = $3
      source[key] = $0
      sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+[^ \t]+[ \t]+/, "", source[key])
      next
    }
    # objdump: "DLL Name: X", then a line per import, "vma hint name" (or
    # "vma ordinal <none>" for one by number), up to a blank line.
    /^\tDLL Name: / { dll = $3; next }
    dll != "" && NF == 0 { dll = ""; next }
    dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 2 {
      name = NF >= 3 && $3 != "<none>" ? $3 : "ordinal " $2
      key = toupper(dll) " " name
      imports++
      if (!(key in version)) {
        print "FAILED: " exe " imports " dll "!" name ", which " table " does not list"
        bad = 1
      } else if (version[key] + 0 > 5.2) {
        print "FAILED: " exe " imports " dll "!" name ", which Windows exports from " \
          version[key] " on (" source[key] ")"
        bad = 1
      }
    }
    END {
      if (imports == 0) { print "FAILED: no imports read from " exe; bad = 1 }
      exit bad
    }' "$table" - <<<"$headers" || failed=1
done
exit "$failed"
