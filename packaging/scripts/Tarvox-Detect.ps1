# Tarvox detection, for a management tool that keeps a script's exit code
# and its last line of output. For 64-bit Windows PowerShell 5.1, run as
# SYSTEM. ADMINS.txt of the release says where it goes in each tool.
#
# Exit code: 0 nothing to repair (the line says when names could not be
# judged or lists could not be read: a repair would not touch them either);
# 1 a repair is due; 2 the check could not be made, check again later;
# 3 TarvoxCheck.exe or Tarvox.exe is missing, did not start, did not finish,
# is not of the other's release, or answered as it never does.
# The last line: "Tarvox: <verdict>. <the check's Result: line> Names
# leaving: ... Names not judged: ...", at most 2,048 characters.
param(
    # Where both exes lie; the 64-bit Program Files folder whichever
    # PowerShell reads it.
    [string]$Folder = "$env:ProgramW6432\Orvane",
    # How long the check may take before it is stopped: a run on a machine
    # of 64 drives takes under a second; the tool's own limit is longer.
    [int]$CheckSeconds = 30
)

# ----- shared part: the same in the three scripts (a test holds them equal) -----

# The script's own preference, whatever the tool or a profile set: every
# step that can fail is caught where it happens, and anything else ends
# in the trap below, never in an unreported "did not start".
$ErrorActionPreference = 'Stop'
Set-StrictMode -Off

# Tools keep about 2,048 characters of the last line.
$TarvoxLineLimit = 2048

# Text for the last line: printable ASCII only, every other character as
# <U+XXXX> (a line end or escape sequence in a name cannot forge a line or
# steer a terminal, and no code page of the tool can garble it). With
# -Angle, '<' too, for text from the machine, so "<U+" always starts an
# escape; the check's own Result line comes escaped already.
function ConvertTo-TarvoxText([string]$Text, [switch]$Angle) {
    $out = New-Object System.Text.StringBuilder
    for ($i = 0; $i -lt $Text.Length; $i++) {
        $unit = [int]$Text[$i]
        $code = $unit
        if ($unit -ge 0xD800 -and $unit -le 0xDBFF -and $i + 1 -lt $Text.Length -and
            [int]$Text[$i + 1] -ge 0xDC00 -and [int]$Text[$i + 1] -le 0xDFFF) {
            $code = [char]::ConvertToUtf32($Text[$i], $Text[$i + 1])
            $i++
        }
        if ($code -lt 0x20 -or $code -gt 0x7E -or ($Angle -and $code -eq 0x3C)) {
            [void]$out.Append(('<U+{0:X4}>' -f $code))
        } else {
            [void]$out.Append([char]$code)
        }
    }
    $out.ToString()
}

# The first line of a message, made printable: the tool keeps one line,
# and PowerShell's own messages for a program that fails to run span
# several.
function Get-TarvoxReason([string]$Text) {
    $lines = @(([string]$Text) -split "`r`n|`n|`r" | Where-Object { $_.Trim() -ne '' })
    if ($lines.Count -eq 0) { return '' }
    $first = ConvertTo-TarvoxText $lines[0].Trim() -Angle
    if ($first.Length -gt 400) { $first = $first.Substring(0, 400) + '...' }
    $first
}

# The message of the innermost exception: PowerShell wraps a .NET call's
# failure in "Exception calling ...".
function Get-TarvoxError($ErrorRecord) {
    $exception = $ErrorRecord.Exception
    while ($null -ne $exception.InnerException) { $exception = $exception.InnerException }
    Get-TarvoxReason $exception.Message
}

# The file version of an exe's version resource (its fixed part, as
# Windows' file properties show it), read from the file's bytes, so that it
# reads the same in every PowerShell on every platform. $null when the file
# holds none.
function Get-TarvoxFileVersion([string]$Path) {
    $latin1 = [System.Text.Encoding]::GetEncoding(28591)
    $text = $latin1.GetString([System.IO.File]::ReadAllBytes($Path))
    $key = $latin1.GetString([System.Text.Encoding]::Unicode.GetBytes('VS_VERSION_INFO'))
    $at = $text.IndexOf($key, [System.StringComparison]::Ordinal)
    while ($at -ge 6) {
        # Length, value length and type (6 bytes), the key and its NUL (32),
        # padding to 4: the fixed part, which begins with its signature.
        $fixed = $at - 6 + 40
        if ($fixed + 16 -le $text.Length -and
            $text.Substring($fixed, 4) -ceq $latin1.GetString([byte[]](0xBD, 0x04, 0xEF, 0xFE))) {
            $word = { param($offset) [int]$text[$offset] + 256 * [int]$text[$offset + 1] }
            return '{0}.{1}.{2}.{3}' -f (& $word ($fixed + 10)), (& $word ($fixed + 8)),
                (& $word ($fixed + 14)), (& $word ($fixed + 12))
        }
        $at = $text.IndexOf($key, $at + 1, [System.StringComparison]::Ordinal)
    }
    $null
}

# Both exes are there and of one release: the check foresees the repair of
# its own release only. The reason they are not, or ''.
function Test-TarvoxRelease([string]$Check, [string]$Tarvox) {
    foreach ($exe in $Check, $Tarvox) {
        if (-not (Test-Path -LiteralPath $exe -PathType Leaf)) {
            return "$(ConvertTo-TarvoxText $exe -Angle) is missing"
        }
    }
    try {
        $checkVersion = Get-TarvoxFileVersion $Check
        $tarvoxVersion = Get-TarvoxFileVersion $Tarvox
    } catch {
        return "the exes' versions cannot be read: $(Get-TarvoxError $_)"
    }
    if ($null -eq $checkVersion -or $null -eq $tarvoxVersion -or $checkVersion -ne $tarvoxVersion) {
        $shown = { param($version) if ($null -eq $version) { 'none' } else { $version } }
        return "TarvoxCheck.exe (version $(& $shown $checkVersion)) and Tarvox.exe " +
            "(version $(& $shown $tarvoxVersion)) are not of one release"
    }
    ''
}

# Runs a program with a time limit, reading what it writes as UTF-8 (as
# TarvoxCheck.exe writes to a pipe). Started, Ended, ExitCode, Out, Err, and
# Why it did not start. Past the limit the program is stopped when -Stop is
# given, and left to finish otherwise.
function Invoke-TarvoxProgram([string]$Path, [string]$Arguments, [int]$Seconds, [switch]$Stop) {
    $run = @{ Started = $false; Ended = $false; ExitCode = $null; Out = ''; Err = ''; Why = '' }
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Path
    $info.Arguments = $Arguments
    $info.UseShellExecute = $false
    $info.CreateNoWindow = $true
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.StandardOutputEncoding = New-Object System.Text.UTF8Encoding($false)
    $info.StandardErrorEncoding = New-Object System.Text.UTF8Encoding($false)
    try {
        $process = [System.Diagnostics.Process]::Start($info)
    } catch {
        $run.Why = Get-TarvoxError $_
        return $run
    }
    $run.Started = $true
    # Both streams are read while the program runs, or a full pipe would
    # stop it.
    $out = $process.StandardOutput.ReadToEndAsync()
    $err = $process.StandardError.ReadToEndAsync()
    if ($process.WaitForExit($Seconds * 1000)) {
        $run.Ended = $true
        $run.ExitCode = $process.ExitCode
    } elseif ($Stop) {
        try { $process.Kill() } catch { }
    }
    # Bounded too: a program left running, or a child of it, may hold the
    # streams open.
    if ($out.Wait(5000)) { $run.Out = $out.Result }
    if ($err.Wait(5000)) { $run.Err = $err.Result }
    $run
}

# What a run of TarvoxCheck.exe --json said: Code (0, 1, 2), Report (the
# document), Reason (why the check could not be made), or Problem (why its
# answer is none it gives: fail closed).
function Read-TarvoxCheck($Run, [int]$Seconds) {
    $seen = @{ Code = $null; Report = $null; Reason = ''; Problem = '' }
    if (-not $Run.Started) { $seen.Problem = "TarvoxCheck.exe did not start: $($Run.Why)"; return $seen }
    if (-not $Run.Ended) {
        $seen.Problem = "TarvoxCheck.exe did not finish within $Seconds s and was stopped"
        return $seen
    }
    $code = $Run.ExitCode
    $stderr = Get-TarvoxReason $Run.Err
    if ($code -ne 0 -and $code -ne 1 -and $code -ne 2) {
        $seen.Problem = "TarvoxCheck.exe ended with exit code $code, which it never gives"
        if ($stderr) { $seen.Problem += ": $stderr" }
        return $seen
    }
    $seen.Code = $code
    try {
        if ($Run.Out.Trim() -eq '') { throw 'it printed nothing' }
        $report = ConvertFrom-Json -InputObject $Run.Out
        if ($null -eq $report -or $report.exitCode -ne $code -or
            -not ($report.resultLine -is [string])) {
            throw 'its report is not one of TarvoxCheck.exe'
        }
        $seen.Report = $report
    } catch {
        $why = Get-TarvoxError $_
        if ($code -eq 2) {
            # Its exit code says all a tool needs: check again later.
            $seen.Reason = if ($stderr) { $stderr } else { "no reason given ($why)" }
        } else {
            $seen.Problem = "TarvoxCheck.exe ended with exit code $code, but its report cannot be read: $why"
        }
        return $seen
    }
    if ($code -eq 2) {
        $seen.Reason = if ($report.reason) { ConvertTo-TarvoxText ([string]$report.reason) -Angle } else { $stderr }
    }
    $seen
}

# The distinct names a report gives `verdict` ("leaves", "not judged"), in
# the order of the run.
function Get-TarvoxNames($Report, [string]$Verdict) {
    $names = New-Object System.Collections.Generic.List[string]
    foreach ($place in @($Report.places)) {
        foreach ($judged in @($place.verdicts)) {
            if ($null -ne $judged -and $judged.verdict -eq $Verdict -and
                -not $names.Contains([string]$judged.name)) {
                $names.Add([string]$judged.name)
            }
        }
    }
    , $names.ToArray()
}

# Whether a report of "nothing to repair" left something unjudged: names
# not judged, or lists not read.
function Test-TarvoxUnjudged($Report) {
    $summary = $Report.summary
    $null -ne $summary -and ($summary.namesNotJudged -gt 0 -or $summary.placesNotRead -gt 0)
}

# The check's Result line, as it printed it.
function Get-TarvoxResult($Report) { ConvertTo-TarvoxText ([string]$Report.resultLine) }

# `head`, then each group of names ("Names leaving", list), cut to the
# tool's limit with a mark saying how many names were left out.
function Join-TarvoxLine([string]$Head, [object[]]$Groups) {
    $pieces = New-Object System.Collections.Generic.List[string]
    foreach ($group in $Groups) {
        $names = @($group[1])
        for ($n = 0; $n -lt $names.Count; $n++) {
            $name = if ($names[$n] -eq '') { '(empty)' } else { ConvertTo-TarvoxText $names[$n] -Angle }
            $lead = if ($n -eq 0) { " $($group[0]): " } else { ', ' }
            $end = if ($n -eq $names.Count - 1) { '.' } else { '' }
            $pieces.Add($lead + $name + $end)
        }
    }
    $whole = $Head + ($pieces -join '')
    if ($whole.Length -le $TarvoxLineLimit) { return $whole }
    # Room kept for the mark, " [N more names cut]".
    $line = $Head
    for ($n = 0; $n -lt $pieces.Count; $n++) {
        if ($line.Length + $pieces[$n].Length + 32 -gt $TarvoxLineLimit) { break }
        $line += $pieces[$n]
    }
    $line += " [$($pieces.Count - $n) more names cut]"
    if ($line.Length -gt $TarvoxLineLimit) { $line = $line.Substring(0, $TarvoxLineLimit - 6) + ' [cut]' }
    $line
}

# ----- end of the shared part -----

trap {
    Write-Output "Tarvox: cannot tell: the detection script failed: $(Get-TarvoxError $_)"
    exit 3
}

$check = Join-Path $Folder 'TarvoxCheck.exe'
$tarvox = Join-Path $Folder 'Tarvox.exe'
$notOneRelease = Test-TarvoxRelease $check $tarvox
if ($notOneRelease) {
    Write-Output "Tarvox: cannot tell: $notOneRelease"
    exit 3
}
$seen = Read-TarvoxCheck (Invoke-TarvoxProgram $check '--json' $CheckSeconds -Stop) $CheckSeconds
if ($seen.Problem) {
    Write-Output "Tarvox: cannot tell: $($seen.Problem)"
    exit 3
}
if ($seen.Code -eq 2) {
    Write-Output (Join-TarvoxLine "Tarvox: cannot tell: the check could not be made: $($seen.Reason)" @())
    exit 2
}
$report = $seen.Report
$verdict = 'a repair is due'
if ($seen.Code -eq 0) {
    $verdict = 'nothing to repair'
    if (Test-TarvoxUnjudged $report) {
        $verdict = 'nothing to repair that the check could judge; some names or lists it could not'
    }
}
Write-Output (Join-TarvoxLine "Tarvox: $verdict. $(Get-TarvoxResult $report)" @(
        , @('Names leaving', (Get-TarvoxNames $report 'leaves'))
        , @('Names not judged', (Get-TarvoxNames $report 'not judged'))))
exit $seen.Code
