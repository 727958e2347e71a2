#!/usr/bin/env bash
# Builds Tarvox.exe a second time and compares it byte for byte with
# build/windows/Tarvox.exe: two builds of one commit must give the same exe,
# so that whoever ships it can rebuild it and know it is the one the sources
# make. The second build runs from a copy of the sources in another folder
# (build/repro-src/), in a build folder of its own, with the same windows
# preset, so a build path that found its way into the exe shows up as a
# difference too. Only Tarvox.exe is built there; nothing runs under Wine.
#
#   scripts/check-reproducible.sh   (after the windows preset built Tarvox.exe)
set -euo pipefail
cd "$(dirname "$0")/.."

reference=build/windows/Tarvox.exe
copy=build/repro-src
rebuilt=$copy/build/windows/Tarvox.exe
log=build/logs/windows-rebuild.log
[ -f "$reference" ] || { echo "no $reference: build the windows preset first" >&2; exit 1; }

# The sources as the windows build saw them, uncommitted changes included;
# a fresh copy each time, so nothing of an earlier check is reused.
rm -rf "$copy"
mkdir -p "$copy" build/logs
tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$copy"
(cd "$copy" && cmake --preset windows && cmake --build --preset windows --target Tarvox) \
  >"$log" 2>&1 || { cat "$log"; echo "failed: the second build of Tarvox.exe" >&2; exit 1; }

if cmp -s "$reference" "$rebuilt"; then
  echo "Tarvox.exe built twice, in two folders: byte-identical," \
    "sha256 $(sha256sum <"$reference" | cut -d' ' -f1)"
  exit 0
fi
echo "FAILED: two builds of one source differ: $reference and $rebuilt"
echo "sizes: $(stat -c %s "$reference") and $(stat -c %s "$rebuilt") bytes;" \
  "$(cmp -l "$reference" "$rebuilt" 2>/dev/null | wc -l) bytes differ; the first ones" \
  "(offset from 0 in hex, the byte of each in octal):"
# Each offset with the part of the file it falls in: the headers (0x88 is
# the PE time stamp, 0xd8 the checksum) or a section with contents in the
# file.
sections=$(x86_64-w64-mingw32-objdump -h "$reference" |
  while read -r index name size _ _ offset _; do
    [[ $index =~ ^[0-9]+$ && $offset != 00000000 ]] && echo "$name $((16#$size)) $((16#$offset))"
  done) || true
{ cmp -l "$reference" "$rebuilt" 2>/dev/null | head -20 |
  awk -v sections="$sections" '
    BEGIN { n = split(sections, s, "\n") }
    { offset = $1 - 1; where = "headers"
      for (i = 1; i <= n; i++) {
        split(s[i], f, " ")
        if (offset >= f[3] && offset < f[3] + f[2]) where = f[1]
      }
      printf "  0x%06x  %3s  %3s  %s\n", offset, $2, $3, where }'; } || true
for exe in "$reference" "$rebuilt"; do
  source=$(cd "$(dirname "$exe")/../.." && pwd)
  if grep -qaF "$source" "$exe"; then echo "$exe holds its source path $source"; fi
done
exit 1
