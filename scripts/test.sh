#!/usr/bin/env bash
# Builds everything and runs every test:
#   native       the logic against the in-memory machine, and the platform
#                contract on that machine
#   native-asan  the same under AddressSanitizer and UBSan
#   fuzz         the libFuzzer targets, each for a bounded number of runs
#   windows      Tarvox.exe cross-built with mingw-w64; the platform contract
#                on the real Win32 calls and Tarvox.exe end to end, under Wine;
#                and Tarvox.exe built a second time elsewhere is the same,
#                byte for byte
#   scripts      the fleet scripts (packaging/scripts) in PowerShell 7 with
#                Pester, against stand-ins and against the windows build's
#                exes under Wine; skipped, in one line saying why, where
#                dotnet is missing
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-tools.sh

mkdir -p build/logs
# Runs a build step quietly; shows its output only when it fails.
quietly() {
  local log=build/logs/$1.log
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "failed: $*" >&2; exit 1; }
}

for preset in native native-asan fuzz windows; do
  echo "=== $preset"
  quietly "$preset-configure" cmake --preset "$preset"
  quietly "$preset-build" cmake --build --preset "$preset"
  # A step of its own rather than a ctest test: it is a second build, not a
  # run of what was built, and run here it fails before the long Wine tests
  # instead of competing with them for the two jobs and their time-outs.
  [ "$preset" != windows ] || scripts/check-reproducible.sh
  ctest --preset "$preset"
done

echo "=== scripts"
tests/scripts/run.sh
