#!/usr/bin/env bash
# Builds Tarvox.exe, TarvoxCheck.exe and TarvoxRestore.exe a second time and compares each byte
# for byte with the one in build/windows/: two builds of one commit must give
# the same exes,
# so that whoever ships it can rebuild it and know it is the one the sources
# make. The second build runs from a copy of the sources in another folder
# (build/repro-src/), in a build folder of its own, with the same windows
# preset, so a build path that found its way into the exe shows up as a
# difference too. Only the three exes are built there; nothing runs under Wine.
#
#   scripts/check-reproducible.sh   (after the windows preset built them)
set -euo pipefail
cd "$(dirname "$0")/.."

copy=build/repro-src
log=build/logs/windows-rebuild.log
for exe in Tarvox TarvoxCheck TarvoxRestore; do
  [ -f "build/windows/$exe.exe" ] ||
    { echo "no build/windows/$exe.exe: build the windows preset first" >&2; exit 1; }
done

# The sources as the windows build saw them, uncommitted changes included;
# a fresh copy each time, so nothing of an earlier check is reused.
rm -rf "$copy"
mkdir -p "$copy" build/logs
tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$copy"
(cd "$copy" && cmake --preset windows &&
  cmake --build --preset windows --target Tarvox TarvoxCheck TarvoxRestore) \
  >"$log" 2>&1 || { cat "$log"; echo "failed: the second build of the exes" >&2; exit 1; }

failed=0
for exe in Tarvox TarvoxCheck TarvoxRestore; do
  reference=build/windows/$exe.exe
  rebuilt=$copy/build/windows/$exe.exe
  if cmp -s "$reference" "$rebuilt"; then
    echo "$exe.exe built twice, in two folders: byte-identical," \
      "sha256 $(sha256sum <"$reference" | cut -d' ' -f1)"
    continue
  fi
  failed=1
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
  for file in "$reference" "$rebuilt"; do
    source=$(cd "$(dirname "$file")/../.." && pwd)
    if grep -qaF "$source" "$file"; then echo "$file holds its source path $source"; fi
  done
done
exit "$failed"
