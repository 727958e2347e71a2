#!/usr/bin/env bash
# What a run of Tarvox costs as the machine grows: S services (250, 1000,
# 4000) and D CD-ROM devices (1, 16, 64), timed against the in-memory machine
# natively and against the real registry, devices and files under Wine (a
# fresh prefix for every row), and the cost of a bare start of Tarvox.exe
# under Wine, the floor. Not a test: it runs for minutes, and its times are
# this machine's.
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
  printf '%-6s %5s %3s %5s %10s %10s %9s %7s %7s %7s %7s %7s %7s %7s\n' \
    backend S D names first-ms repeat-ms calls/nm opens queries writes enums \
    device file peak-MB
}

for backend in "${backends[@]}"; do
  case $backend in
    memory)
      quietly bench-native-configure cmake --preset native
      quietly bench-native-build cmake --build --preset native --target tarvox_bench
      header
      for s in "${sizes_s[@]}"; do
        for d in "${sizes_d[@]}"; do build/native/bench/tarvox_bench "$s" "$d"; done
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
      echo "Bare start of Tarvox.exe on an empty machine (the floor):"
      in_fresh_prefix --exe "$exe" 0 0
      header
      for s in "${sizes_s[@]}"; do
        for d in "${sizes_d[@]}"; do
          if [ "$s" = 4000 ] && [ "$d" = 64 ]; then
            in_fresh_prefix --exe "$exe" "$s" "$d"
          else
            in_fresh_prefix "$s" "$d"
          fi
        done
      done
      ;;
    *) echo "unknown backend: $backend" >&2; exit 2 ;;
  esac
done
