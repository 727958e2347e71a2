#!/usr/bin/env bash
# What a run of Tarvox costs as the machine grows: S services (250, 1000,
# 4000) and D CD-ROM devices (1, 16, 64), timed against the in-memory machine
# natively and against the real registry, devices and files under Wine (a
# fresh prefix for every row). Rows of four shapes: names of their own in
# every list (the worst case) or every device carrying the class key's
# filters ("shared", as on real machines), each with ImagePaths
# "\SystemRoot\System32\drivers\<name>.sys" or "System32\DRIVERS\<name>.sys"
# ("-DRV"). At S = 4000, D = 64 Tarvox.exe is also timed as a process under
# Wine, each run followed by a bare start in the same prefix, and with the
# devices alone (no filter list at all). Not a test: it runs for minutes, and
# its times are this machine's.
#
#   bash scripts/benchmark.sh [memory|wine]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-tools.sh

backends=("$@")
[ ${#backends[@]} -gt 0 ] || backends=(memory wine)
sizes_s=(250 1000 4000)
sizes_d=(1 16 64)

mkdir -p build/logs
quietly() {
  local log=build/logs/$1.log
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "failed: $*" >&2; exit 1; }
}

header() {
  printf '%-6s %-7s %5s %3s %5s %10s %10s %9s %7s %7s %7s %7s %7s %7s %7s\n' \
    backend shape S D names first-ms repeat-ms calls/nm opens queries writes \
    enums device file peak-MB
}

# The rows: the S x D grid with names of their own, then every shape at
# S = 4000 as D grows.
rows() {
  for s in "${sizes_s[@]}"; do
    for d in "${sizes_d[@]}"; do echo "$s $d"; done
  done
  for shape in --shared --drivers "--shared --drivers"; do
    for d in "${sizes_d[@]}"; do echo "$shape 4000 $d"; done
  done
}

for backend in "${backends[@]}"; do
  case $backend in
    memory)
      quietly bench-native-configure cmake --preset native
      quietly bench-native-build cmake --build --preset native --target tarvox_bench
      header
      rows | while read -r row; do
        # shellcheck disable=SC2086
        build/native/bench/tarvox_bench $row
      done
      ;;
    wine)
      quietly bench-windows-configure cmake --preset windows
      quietly bench-windows-build cmake --build --preset windows --target tarvox_bench Tarvox
      root=$PWD/build/windows/wine
      exe="Z:$(printf '%s' "$PWD/build/windows/Tarvox.exe" | tr / '\\')"
      export WINEDEBUG=-all
      unset DISPLAY
      in_fresh_prefix() {
        export WINEPREFIX=$root/prefixes/bench
        tests/wine/make-prefix.sh "$root" "$WINEPREFIX"
        wineserver -p </dev/null >/dev/null 2>&1
        wine build/windows/tarvox_bench.exe "$@" </dev/null 2>/dev/null | tr -d '\r'
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
      }
      header
      rows | while read -r row; do
        # shellcheck disable=SC2086
        in_fresh_prefix $row </dev/null
      done
      echo "Tarvox.exe as a process, medians of 9 runs, each followed by a bare start:"
      for shape in "" --shared --drivers "--shared --drivers"; do
        # shellcheck disable=SC2086
        in_fresh_prefix --exe "$exe" $shape 4000 64 </dev/null | grep ' S = '
      done
      ;;
    *) echo "unknown backend: $backend" >&2; exit 2 ;;
  esac
done
