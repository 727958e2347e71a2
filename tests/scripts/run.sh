#!/usr/bin/env bash
# The fleet scripts' tests (packaging/scripts): PowerShell 7 as a .NET tool
# and Pester 5 from NuGet, both into build/scripts, then Pester. The stand-in
# tests need nothing else; the tests of the real exes under Wine take them,
# and the Wine template prefix, from build/windows (the test command builds
# it first; without it they are skipped, and say so).
#
#   tests/scripts/run.sh
#
# Where dotnet is missing (a plain Debian machine) it says so in one line
# and passes: the rest of the test command does not need it.
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! command -v dotnet >/dev/null 2>&1; then
  echo "scripts: skipped: no dotnet on this machine, and the script tests run in PowerShell 7, a .NET tool"
  exit 0
fi

# No telemetry, no update check, no first-run banner: the tests reach no
# network but the package downloads.
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
export POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off

tools=$PWD/build/scripts
log=build/logs/scripts-tools.log
mkdir -p "$tools" build/logs
pwsh=$tools/pwsh/pwsh
pester=$tools/pester/pester/5.7.1/tools/Pester.psd1
# The versions are named: without one, the tool install takes the newest
# PowerShell, which does not run on this SDK.
if [ ! -f "$tools/pwsh/.store/powershell/7.6.10/powershell/7.6.10/powershell.7.6.10.nupkg" ]; then
  rm -rf "$tools/pwsh"
  dotnet tool install --tool-path "$tools/pwsh" PowerShell --version 7.6.10 >"$log" 2>&1 ||
    { cat "$log"; echo "scripts: PowerShell 7.6.10 could not be installed" >&2; exit 1; }
fi
if [ ! -f "$pester" ]; then
  rm -rf "$tools/pester"
  dotnet package download Pester@5.7.1 --output "$tools/pester" >>"$log" 2>&1 ||
    { cat "$log"; echo "scripts: Pester 5.7.1 could not be downloaded" >&2; exit 1; }
fi

export TARVOX_PWSH=$pwsh
"$pwsh" -NoProfile -NonInteractive -File tests/scripts/Run.ps1 -Pester "$pester" \
  -Build "$PWD/build/windows" -Work "$tools/work"
