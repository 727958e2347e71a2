# Tarvox remediation, for a management tool that keeps a script's exit
# code and its last line of output. For 64-bit Windows PowerShell 5.1, run
# as SYSTEM. ADMINS.txt of the release says where it goes in each tool.
#
# It runs the check; only when a repair is due does it run Tarvox.exe
# -silent, and then the check again, which tells whether the repair was
# made. Exit code: 0 repaired, or nothing was due ($RebootExitCode instead
# when Windows must restart for the repair); 1 Tarvox.exe ran but the check
# still finds a repair due (another run was going on, or Windows refused a
# write: Tarvox.log says which); 2 the check could not be made (before the
# repair: none was started); 3 TarvoxCheck.exe or Tarvox.exe is missing, did
# not start, did not finish, is not of the other's release, or answered as
# it never does; -1 Tarvox.exe stopped at once, changing nothing.
# The last line says which, with the check's Result line before the repair
# and after it, and the names that left.
param(
    # Where both exes lie; the 64-bit Program Files folder whichever
    # PowerShell reads it.
    [string]$Folder = "$env:ProgramW6432\Orvane",
    # How long each check may take before it is stopped: a run on a machine
    # of 64 drives takes under a second.
    [int]$CheckSeconds = 30,
    # How long the repair may take. One past it is reported as not finished
    # and left to end by itself: stopping a repair between a backup and its
    # list would leave the list for the next run, not repaired.
    [int]$RepairSeconds = 120,
    # 3010 where the tool reads it as "done, restart needed" (software
    # deployments); 0 for a tool that takes any other code for a failure.
    [int]$RebootExitCode = 0
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
    Write-Output "Tarvox: not repaired: the remediation script failed: $(Get-TarvoxError $_)"
    exit 3
}

$check = Join-Path $Folder 'TarvoxCheck.exe'
$tarvox = Join-Path $Folder 'Tarvox.exe'
$notOneRelease = Test-TarvoxRelease $check $tarvox
if ($notOneRelease) {
    Write-Output "Tarvox: not repaired: $notOneRelease"
    exit 3
}

# The check first: no repair unless one is due, and does it need a restart?
$before = Read-TarvoxCheck (Invoke-TarvoxProgram $check '--json' $CheckSeconds -Stop) $CheckSeconds
if ($before.Problem) {
    Write-Output "Tarvox: not repaired: $($before.Problem)"
    exit 3
}
if ($before.Code -eq 2) {
    Write-Output (Join-TarvoxLine "Tarvox: not repaired: the check could not be made: $($before.Reason)" @())
    exit 2
}
$leaving = Get-TarvoxNames $before.Report 'leaves'
$notJudged = Get-TarvoxNames $before.Report 'not judged'
if ($before.Code -eq 0) {
    $verdict = 'nothing to repair'
    if (Test-TarvoxUnjudged $before.Report) {
        $verdict = 'nothing to repair that the check could judge; some names or lists it could not'
    }
    Write-Output (Join-TarvoxLine "Tarvox: $verdict. $(Get-TarvoxResult $before.Report)" @(
            , @('Names not judged', $notJudged)))
    exit 0
}
# Only the check before the repair can tell: after it nothing is left to
# foresee. A report that does not say asks for a restart, to be safe.
$reboot = $before.Report.reboot -ne $false

$repair = Invoke-TarvoxProgram $tarvox '-silent' $RepairSeconds
if (-not $repair.Started) {
    Write-Output "Tarvox: not repaired: Tarvox.exe did not start: $($repair.Why)"
    exit 3
}
if (-not $repair.Ended) {
    Write-Output ("Tarvox: not repaired as far as can be told: Tarvox.exe did not finish within " +
        "$RepairSeconds s and was left running")
    exit 3
}
if ($repair.ExitCode -eq -1) {
    Write-Output 'Tarvox: not repaired: Tarvox.exe stopped at once, changing nothing (exit code -1)'
    exit -1
}
if ($repair.ExitCode -ne 0) {
    Write-Output "Tarvox: not repaired: Tarvox.exe ended with exit code $($repair.ExitCode), which it never gives"
    exit 3
}

# Then the check again: Tarvox.exe exits 0 also when another run was going
# on, or a write was refused; only the check tells what was done.
$after = Read-TarvoxCheck (Invoke-TarvoxProgram $check '--json' $CheckSeconds -Stop) $CheckSeconds
$was = "Before: $(Get-TarvoxResult $before.Report)"
if ($after.Problem) {
    Write-Output (Join-TarvoxLine "Tarvox: repair run, not checked: $($after.Problem). $was" @(
            , @('Names leaving', $leaving)))
    exit 3
}
if ($after.Code -eq 2) {
    Write-Output (Join-TarvoxLine ("Tarvox: repair run, not checked: the check after it could not be " +
            "made: $($after.Reason). $was") @(, @('Names leaving', $leaving)))
    exit 2
}
$now = "After: $(Get-TarvoxResult $after.Report)"
if ($after.Code -eq 1) {
    Write-Output (Join-TarvoxLine ("Tarvox: not repaired: Tarvox.exe ran, and the check still finds a " +
            "repair due (another run was going on, or Windows refused a write: see Tarvox.log). " +
            "$was $now") @(, @('Names still leaving', (Get-TarvoxNames $after.Report 'leaves'))))
    exit 1
}
if ($reboot) {
    Write-Output (Join-TarvoxLine "Tarvox: repaired; restart Windows for the repair to take effect. $was $now" @(
            , @('Names removed', $leaving)))
    exit $RebootExitCode
}
Write-Output (Join-TarvoxLine "Tarvox: repaired; no restart needed. $was $now" @(, @('Names removed', $leaving)))
exit 0
