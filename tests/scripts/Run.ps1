# Runs the fleet scripts' Pester tests: the stand-in tests always, the
# tests under Wine when the Windows build is there. Ends with one line of
# counts, and exit code 1 when a test failed.
param(
    [Parameter(Mandatory)] [string]$Pester,
    [Parameter(Mandatory)] [string]$Build,
    [Parameter(Mandatory)] [string]$Work
)
$ErrorActionPreference = 'Stop'
Import-Module $Pester
$here = $PSScriptRoot
if (Test-Path -LiteralPath $Work) { Remove-Item -LiteralPath $Work -Recurse -Force }
New-Item -ItemType Directory -Path $Work | Out-Null
$data = @{ Build = $Build; Work = $Work; Scripts = (Join-Path $here '../../packaging/scripts') }
$configuration = New-PesterConfiguration
$configuration.Run.Container = @(
    New-PesterContainer -Path (Join-Path $here 'StandIn.Tests.ps1') -Data $data
    New-PesterContainer -Path (Join-Path $here 'Wine.Tests.ps1') -Data $data
)
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Normal'
$result = Invoke-Pester -Configuration $configuration
Write-Output ("scripts: {0} passed, {1} failed, {2} skipped" -f $result.PassedCount, $result.FailedCount, $result.SkippedCount)
if ($result.FailedCount -gt 0 -or $result.Result -ne 'Passed') { exit 1 }
exit 0
