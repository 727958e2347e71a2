# What the fleet scripts' tests share: stand-in programs that answer as
# told, reports shaped as TarvoxCheck.exe's JSON, and a run of a script in a
# PowerShell of its own, as a management tool runs it.

# The fixed part of a version resource as windres lays it out, for a
# stand-in to carry: the scripts read the version from these bytes.
function New-VersionBytes([string]$Version) {
    $n = [int[]]($Version -split '\.')
    $bytes = New-Object System.Collections.Generic.List[byte]
    $bytes.AddRange([byte[]](0, 0, 52, 0, 0, 0))
    $bytes.AddRange([System.Text.Encoding]::Unicode.GetBytes("VS_VERSION_INFO`0"))
    $bytes.AddRange([byte[]](0, 0))
    foreach ($word in 0xFEEF04BD, 0x10000, ($n[0] * 65536 + $n[1]), ($n[2] * 65536 + $n[3])) {
        $bytes.AddRange([BitConverter]::GetBytes([int]$word))
    }
    , $bytes.ToArray()
}

# A stand-in for Name (TarvoxCheck.exe, Tarvox.exe) in Folder: its run
# number n (from 0) prints Answers[n].Out and .Err, then exits with .Code,
# or hangs with .Hang (for 20 s, ten times the scripts' limit in the tests,
# so that a repair the script leaves running ends soon after the test); the
# last answer serves every later run. Each run
# leaves its arguments in Name.<n>.args. -CannotStart: a file no system
# can run.
function New-StandIn([string]$Folder, [string]$Name, [object[]]$Answers = @(),
    [string]$Version = '1.0.0.0', [switch]$CannotStart) {
    $path = Join-Path $Folder $Name
    if ($CannotStart) {
        # Of the right release, but no program at all.
        [System.IO.File]::WriteAllBytes($path, [byte[]](0x4D, 0x5A, 0x90, 0, 3, 0) + (New-VersionBytes $Version))
    } else {
        for ($n = 0; $n -lt $Answers.Count; $n++) {
            $answer = $Answers[$n]
            $utf8 = New-Object System.Text.UTF8Encoding($false)
            [System.IO.File]::WriteAllText("$path.$n.out", [string]$answer.Out, $utf8)
            [System.IO.File]::WriteAllText("$path.$n.err", [string]$answer.Err, $utf8)
            [System.IO.File]::WriteAllText("$path.$n.code", [string]$answer.Code)
            if ($answer.Hang) { [System.IO.File]::WriteAllText("$path.$n.hang", '') }
        }
        $last = $Answers.Count - 1
        $script = @"
#!/bin/sh
here=`$(dirname "`$0")
me=`$here/$Name
n=`$(cat "`$me.runs" 2>/dev/null || echo 0)
echo `$((n + 1)) >"`$me.runs"
[ "`$n" -le $last ] || n=$last
printf '%s\n' "`$*" >"`$me.`$n.args"
cat "`$me.`$n.out"
cat "`$me.`$n.err" >&2
[ -f "`$me.`$n.hang" ] && exec sleep 20
exit "`$(cat "`$me.`$n.code")"

"@
        $bytes = New-Object System.Collections.Generic.List[byte]
        $bytes.AddRange([System.Text.Encoding]::ASCII.GetBytes($script.Replace("`r`n", "`n")))
        if ($Version) { $bytes.AddRange((New-VersionBytes $Version)) }
        [System.IO.File]::WriteAllBytes($path, $bytes.ToArray())
    }
    & chmod +x $path
}

# How many times the stand-in ran, and with which arguments its run n.
function Get-Runs([string]$Folder, [string]$Name) {
    $file = Join-Path $Folder "$Name.runs"
    if (Test-Path -LiteralPath $file) { [int](Get-Content -LiteralPath $file) } else { 0 }
}
function Get-Arguments([string]$Folder, [string]$Name, [int]$Run) {
    (Get-Content -LiteralPath (Join-Path $Folder "$Name.$Run.args")) -join "`n"
}

# TarvoxCheck.exe's result line, as it writes it.
function Get-ResultLine([int]$Code, [int]$Changing = 0, [int]$Leaving = 0, [int]$NotJudged = 0,
    [int]$NotRead = 0, [bool]$Reboot = $false, [string]$Reason = '') {
    $verdict = @('nothing to repair', 'a repair is due', 'the check could not be made')[$Code]
    if ($Code -eq 2) { return "Result: $verdict (exit code 2): $Reason." }
    $yes = if ($Reboot) { 'yes' } else { 'no' }
    "Result: $verdict (exit code $Code). Places changing: $Changing; names leaving: $Leaving; " +
    "names not judged: $NotJudged; places not read: $NotRead; driver files restored: 0; " +
    "co-installer entry removed: no; reboot: $yes."
}

# A report shaped as TarvoxCheck.exe --json writes it: one place per list of
# names given, each name with its verdict.
function New-Report([int]$Code, [string[]]$Leaving = @(), [string[]]$NotJudged = @(),
    [int]$NotRead = 0, [bool]$Reboot = $false, [string]$Reason = '') {
    $verdicts = @()
    foreach ($name in $Leaving) { $verdicts += @{ name = $name; verdict = 'leaves'; reason = 'no service of that name' } }
    foreach ($name in $NotJudged) { $verdicts += @{ name = $name; verdict = 'not judged'; reason = 'cannot be seen' } }
    $changing = if ($Leaving.Count) { 1 } else { 0 }
    $report = [ordered]@{
        formatVersion = 2; tool = 'TarvoxCheck'; version = '1.0.0.0'; exitCode = $Code
        result = 'x'; reason = $(if ($Code -eq 2) { $Reason } else { $null })
        summary = $(if ($Code -eq 2) { $null } else {
                [ordered]@{ placesChanging = $changing; namesLeaving = $Leaving.Count
                    namesNotJudged = $NotJudged.Count; placesNotRead = $NotRead; reboot = $Reboot } })
        resultLine = Get-ResultLine $Code $changing $Leaving.Count $NotJudged.Count $NotRead $Reboot $Reason
        places = $(if ($Code -eq 2) { $null } else { @(@{ key = 'SYSTEM'; list = 'UpperFilters'; verdicts = $verdicts }) })
        reboot = $Reboot
    }
    ConvertTo-Json -InputObject $report -Depth 6
}

# Runs a fleet script as a tool does, in a PowerShell of its own, and gives
# Code, Lines (standard output), Last (its last line) and Err. -Preference
# sets $ErrorActionPreference before the script, as a tool or a profile may.
function Invoke-FleetScript([string]$Script, [string[]]$Arguments, [string]$Preference = '') {
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $env:TARVOX_PWSH
    # Parameter names bare, values quoted.
    $quoted = @($Arguments | ForEach-Object {
            if ($_ -like '-*') { $_ } else { "'" + $_.Replace("'", "''") + "'" } }) -join ' '
    if ($Preference) {
        $command = "`$ErrorActionPreference = '$Preference'; & '$Script' $quoted; exit `$LASTEXITCODE"
        $info.Arguments = "-NoProfile -NonInteractive -Command `"$($command.Replace('"', '\"'))`""
    } else {
        $info.Arguments = "-NoProfile -NonInteractive -File `"$Script`" " +
            (@($Arguments | ForEach-Object { "`"$_`"" }) -join ' ')
    }
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($info)
    $out = $process.StandardOutput.ReadToEndAsync()
    $err = $process.StandardError.ReadToEndAsync()
    if (-not $process.WaitForExit(60000)) { $process.Kill(); throw "$Script did not end within 60 s" }
    $lines = @($out.Result -split "`r?`n" | Where-Object { $_ -ne '' })
    @{ Code = $process.ExitCode; Lines = $lines; Last = $lines[-1]; Err = $err.Result.Trim() }
}
