# The fleet scripts against stand-in programs, one row for each way a run of
# TarvoxCheck.exe or Tarvox.exe can go: the exit code a tool keeps and the
# exact last line it shows. What these runs under PowerShell 7 on Linux
# cannot show of Windows PowerShell 5.1 is in POWERSHELL-5.1.md.
param([string]$Build, [string]$Work, [string]$Scripts)

BeforeDiscovery {
    . (Join-Path $PSScriptRoot 'Harness.ps1')
    $clean = New-Report 0
    $due = New-Report 1 -Leaving 'burnkit', 'offflt' -Reboot $true
    $unjudged = New-Report 0 -NotJudged 'unseen'
    $notRead = New-Report 0 -NotRead 1
    $running = New-Report 2 -Reason 'a repair is running at this moment; check again when it has ended'
    $resultDue = Get-ResultLine 1 1 2 0 0 $true
    $resultClean = Get-ResultLine 0
    $lineDue = "Tarvox: a repair is due. $resultDue Names leaving: burnkit, offflt."
    $partly = 'nothing to repair that the check could judge; some names or lists it could not'

    # Each way a run of the check can go: its answers, and what each script
    # makes of it (exit code, last line; '*' stands for the system's own
    # words). Every row has a Tarvox.exe of the same release unless it says.
    $checkRuns = @(
        @{ What = 'TarvoxCheck.exe missing'; Check = $null
            Detect = 3, 'Tarvox: cannot tell: {folder}/TarvoxCheck.exe is missing'; Comply = 3 }
        @{ What = 'Tarvox.exe missing'; Check = @{ Code = 0; Out = $clean }; NoTarvox = $true
            Detect = 3, 'Tarvox: cannot tell: {folder}/Tarvox.exe is missing' }
        @{ What = 'the two of different releases'; Check = @{ Code = 0; Out = $clean }; TarvoxVersion = '1.0.0.8'
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe (version 1.0.0.0) and Tarvox.exe (version 1.0.0.8) are not of one release'
            Comply = 3 }
        @{ What = 'an exe with no version resource'; Check = @{ Code = 0; Out = $clean }; TarvoxVersion = ''
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe (version 1.0.0.0) and Tarvox.exe (version none) are not of one release'
            Comply = 3 }
        @{ What = 'the check cannot start'; Check = 'cannot start'
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe did not start: *'; Comply = 3 }
        @{ What = 'nothing to repair'; Check = @{ Code = 0; Out = $clean }
            Detect = 0, "Tarvox: nothing to repair. $resultClean"; Comply = 'Compliant' }
        @{ What = 'nothing to repair, but a name not judged'; Check = @{ Code = 0; Out = $unjudged }
            Detect = 0, "Tarvox: $partly. $(Get-ResultLine 0 -NotJudged 1) Names not judged: unseen."
            Comply = 'Unjudged' }
        @{ What = 'nothing to repair, but a list not read'; Check = @{ Code = 0; Out = $notRead }
            Detect = 0, "Tarvox: $partly. $(Get-ResultLine 0 -NotRead 1)" }
        @{ What = 'a repair is due'; Check = @{ Code = 1; Out = $due }
            Detect = 1, $lineDue; Comply = 'NonCompliant' }
        @{ What = 'a repair is due, and the tool set ErrorActionPreference Stop'; Preference = 'Stop'
            Check = @{ Code = 1; Out = $due; Err = 'a line on standard error' }
            Detect = 1, $lineDue }
        @{ What = 'nothing to repair, with a line on standard error'; Check = @{ Code = 0; Out = $clean; Err = 'noise' }
            Detect = 0, "Tarvox: nothing to repair. $resultClean" }
        @{ What = 'the check could not be made'; Check = @{ Code = 2; Out = $running; Err = 'TarvoxCheck: a repair is running' }
            Detect = 2, 'Tarvox: cannot tell: the check could not be made: a repair is running at this moment; check again when it has ended'
            Comply = 2 }
        @{ What = 'could not be made, no report, why on standard error'
            Check = @{ Code = 2; Out = ''; Err = "TarvoxCheck: unknown argument: x`nusage: ..." }
            Detect = 2, 'Tarvox: cannot tell: the check could not be made: TarvoxCheck: unknown argument: x' }
        @{ What = 'an exit code it never gives'; Check = @{ Code = 7; Out = $clean }
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe ended with exit code 7, which it never gives' }
        @{ What = 'exit code 255 (-1 as Linux has it)'; Check = @{ Code = 255; Out = ''; Err = 'crashed' }
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe ended with exit code 255, which it never gives: crashed' }
        @{ What = 'prints nothing'; Check = @{ Code = 0; Out = '' }
            Detect = 3, "Tarvox: cannot tell: TarvoxCheck.exe ended with exit code 0, but its report cannot be read: it printed nothing"
            Comply = 3 }
        @{ What = 'prints invalid JSON'; Check = @{ Code = 1; Out = '{"exitCode": 1, "places": [' }
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe ended with exit code 1, but its report cannot be read: *' }
        @{ What = 'prints JSON of another program'; Check = @{ Code = 0; Out = '{"exitCode": 1}' }
            Detect = 3, "Tarvox: cannot tell: TarvoxCheck.exe ended with exit code 0, but its report cannot be read: its report is not one of TarvoxCheck.exe"
            Comply = 3 }
        @{ What = 'hangs'; Check = @{ Code = 0; Out = ''; Hang = $true }
            Detect = 3, 'Tarvox: cannot tell: TarvoxCheck.exe did not finish within 2 s and was stopped'; Comply = 3 }
    )
}

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')
    $script:Count = 0
    # A folder of its own for each run, with the stand-ins the row asks for.
    function New-Machine($Row) {
        $script:Count++
        $folder = Join-Path $Work "standin-$script:Count"
        New-Item -ItemType Directory -Path $folder | Out-Null
        if ($Row.Check -eq 'cannot start') {
            New-StandIn $folder 'TarvoxCheck.exe' -CannotStart
        } elseif ($null -ne $Row.Check) {
            New-StandIn $folder 'TarvoxCheck.exe' @($Row.Check)
        }
        if ($Row.TarvoxCannotStart) {
            New-StandIn $folder 'Tarvox.exe' -CannotStart
        } elseif (-not $Row.NoTarvox) {
            $version = if ($Row.ContainsKey('TarvoxVersion')) { $Row.TarvoxVersion } else { '1.0.0.0' }
            $answers = if ($Row.Tarvox) { @($Row.Tarvox) } else { @(@{ Code = 0 }) }
            New-StandIn $folder 'Tarvox.exe' $answers -Version $version
        }
        $folder
    }
    # The line exactly, or where the expected line holds '*' (the system's
    # own words), by that pattern.
    function Assert-Line([string]$Line, [string]$Expected) {
        if ($Expected.Contains('*')) { $Line | Should -BeLikeExactly $Expected } else { $Line | Should -BeExactly $Expected }
    }
    function Invoke-Row($Row, [string]$Script, [string[]]$More = @()) {
        $folder = New-Machine $Row
        $run = Invoke-FleetScript (Join-Path $Scripts $Script) (@('-Folder', $folder, '-CheckSeconds', '2') + $More) $Row.Preference
        $run.Folder = $folder
        $run
    }
}

Describe 'Tarvox-Detect.ps1: <What>' -ForEach $checkRuns {
    It 'exits <Detect[0]> with one line saying what the check saw' {
        $run = Invoke-Row $_ 'Tarvox-Detect.ps1'
        $run.Code | Should -Be $Detect[0]
        $run.Lines.Count | Should -Be 1
        Assert-Line $run.Last $Detect[1].Replace('{folder}', $run.Folder)
        $run.Err | Should -BeExactly ''
        # No repair is ever started by a detection.
        Get-Runs $run.Folder 'Tarvox.exe' | Should -Be 0
    }
}

Describe 'Tarvox-Compliance.ps1: <What>' -ForEach @($checkRuns | Where-Object { $_.Comply }) {
    It 'prints one word, <Comply>, and says why on standard error when it cannot tell' {
        $run = Invoke-Row $_ 'Tarvox-Compliance.ps1'
        $run.Lines.Count | Should -Be 1
        if ($Comply -is [int]) {
            $run.Code | Should -Be $Comply
            $run.Last | Should -BeExactly 'Unknown'
            $why = $Detect[1] -replace '^Tarvox: cannot tell: ', ''
            Assert-Line $run.Err "Tarvox: cannot tell: $($why.Replace('{folder}', $run.Folder))"
        } else {
            $run.Code | Should -Be 0
            $run.Last | Should -BeExactly $Comply
            $run.Err | Should -BeExactly ''
        }
    }
}

Describe 'Tarvox-Remediate.ps1' {
    BeforeDiscovery {
        $removed = 'Names removed: burnkit, offflt.'
        $beforeDue = "Before: $resultDue"
        $afterClean = "After: $resultClean"
        # The check before the repair, the repair, and the check after it.
        $repairRuns = @(
            @{ What = 'nothing to repair: no repair started'; Check = @{ Code = 0; Out = $clean }; Repairs = 0
                Expect = 0, "Tarvox: nothing to repair. $resultClean" }
            @{ What = 'nothing to judge wholly: said, no repair started'; Check = @{ Code = 0; Out = $unjudged }; Repairs = 0
                Expect = 0, "Tarvox: $partly. $(Get-ResultLine 0 -NotJudged 1) Names not judged: unseen." }
            @{ What = 'the check could not be made: no repair started'; Check = @{ Code = 2; Out = $running }; Repairs = 0
                Expect = 2, 'Tarvox: not repaired: the check could not be made: a repair is running at this moment; check again when it has ended' }
            @{ What = 'the check hangs: no repair started'; Check = @{ Code = 0; Hang = $true }; Repairs = 0
                Expect = 3, 'Tarvox: not repaired: TarvoxCheck.exe did not finish within 2 s and was stopped' }
            @{ What = 'of two releases: no repair started'; Check = @{ Code = 1; Out = $due }; TarvoxVersion = '1.0.1.0'; Repairs = 0
                Expect = 3, 'Tarvox: not repaired: TarvoxCheck.exe (version 1.0.0.0) and Tarvox.exe (version 1.0.1.0) are not of one release' }
            @{ What = 'repaired, a restart due'; Check = @{ Code = 1; Out = $due }, @{ Code = 0; Out = $clean }; Repairs = 1
                Expect = 0, "Tarvox: repaired; restart Windows for the repair to take effect. $beforeDue $afterClean $removed" }
            # (3010 itself reaches a test on Linux as 194: exit codes are 8 bits there.)
            @{ What = 'repaired, a restart due, the tool given its own code for it'; Check = @{ Code = 1; Out = $due }, @{ Code = 0; Out = $clean }
                More = '-RebootExitCode', '101'; Repairs = 1
                Expect = 101, "Tarvox: repaired; restart Windows for the repair to take effect. $beforeDue $afterClean $removed" }
            @{ What = 'repaired, no restart needed'; Check = @{ Code = 1; Out = (New-Report 1 -Leaving 'old') }, @{ Code = 0; Out = $clean }; Repairs = 1
                Expect = 0, "Tarvox: repaired; no restart needed. Before: $(Get-ResultLine 1 1 1) $afterClean Names removed: old." }
            @{ What = 'a repair due still (another run, a write refused)'; Check = @{ Code = 1; Out = $due }; Repairs = 1
                Expect = 1, ("Tarvox: not repaired: Tarvox.exe ran, and the check still finds a repair due (another run " +
                    "was going on, or Windows refused a write: see Tarvox.log). $beforeDue After: $resultDue Names still leaving: burnkit, offflt.") }
            @{ What = 'the check after the repair could not be made'; Check = @{ Code = 1; Out = $due }, @{ Code = 2; Out = $running }; Repairs = 1
                Expect = 2, ("Tarvox: repair run, not checked: the check after it could not be made: a repair is running " +
                    "at this moment; check again when it has ended. $beforeDue Names leaving: burnkit, offflt.") }
            @{ What = 'the check after the repair prints nothing'; Check = @{ Code = 1; Out = $due }, @{ Code = 0; Out = '' }; Repairs = 1
                Expect = 3, ("Tarvox: repair run, not checked: TarvoxCheck.exe ended with exit code 0, but its report " +
                    "cannot be read: it printed nothing. $beforeDue Names leaving: burnkit, offflt.") }
            @{ What = 'Tarvox.exe cannot start'; Check = @{ Code = 1; Out = $due }; TarvoxCannotStart = $true; Repairs = 0
                Expect = 3, 'Tarvox: not repaired: Tarvox.exe did not start: *' }
            @{ What = 'Tarvox.exe ends with an exit code it never gives'; Check = @{ Code = 1; Out = $due }
                Tarvox = @{ Code = 255; Err = 'x' }; Repairs = 1
                Expect = 3, 'Tarvox: not repaired: Tarvox.exe ended with exit code 255, which it never gives' }
            @{ What = 'Tarvox.exe hangs (a run waiting on its notice): left running, not checked'; Check = @{ Code = 1; Out = $due }
                Tarvox = @{ Code = 0; Hang = $true }; Repairs = 1
                Expect = 3, 'Tarvox: not repaired as far as can be told: Tarvox.exe did not finish within 2 s and was left running' }
        )
    }

    Describe '<What>' -ForEach $repairRuns {
        It 'exits <Expect[0]>, having run Tarvox.exe <Repairs> times, with one line' {
            $run = Invoke-Row $_ 'Tarvox-Remediate.ps1' (@('-RepairSeconds', '2') + @($_.More | Where-Object { $_ }))
            $run.Code | Should -Be $Expect[0]
            $run.Lines.Count | Should -Be 1
            Assert-Line $run.Last $Expect[1]
            Get-Runs $run.Folder 'Tarvox.exe' | Should -Be $Repairs
            if ($Repairs -gt 0) { Get-Arguments $run.Folder 'Tarvox.exe' 0 | Should -BeExactly '-silent' }
            if (Get-Runs $run.Folder 'TarvoxCheck.exe') { Get-Arguments $run.Folder 'TarvoxCheck.exe' 0 | Should -BeExactly '--json' }
        }
    }
}

Describe 'The last line' {
    It 'shows every name as printable ASCII, so a name can neither forge a line nor be garbled' {
        # A lone surrogate as the check writes it, its own \u escape.
        $report = (New-Report 1 -Leaving "x`nResult: nothing", "br$([char]0xE4)nnare", "<U+0041>",
            "e$([char]0xD83D)$([char]0xDE00)", 'lone-half').Replace('lone-half', 'lone\ud800')
        $folder = New-Machine @{ Check = @{ Code = 1; Out = $report } }
        $run = Invoke-FleetScript (Join-Path $Scripts 'Tarvox-Detect.ps1') @('-Folder', $folder)
        $run.Lines.Count | Should -Be 1
        $run.Last | Should -BeExactly ("Tarvox: a repair is due. $(Get-ResultLine 1 1 5) Names leaving: " +
            'x<U+000A>Result: nothing, br<U+00E4>nnare, <U+003C>U+0041>, e<U+1F600>, lone<U+FFFD>.')
        # (PowerShell 7's JSON reader makes the lone half U+FFFD; 5.1's keeps
        # it, and the line shows <U+D800>: POWERSHELL-5.1.md.)
    }

    It 'is cut to 2,048 characters, saying how many names it left out' {
        $names = @(1..400 | ForEach-Object { 'stalefilter{0:000}' -f $_ })
        $folder = New-Machine @{ Check = @{ Code = 1; Out = (New-Report 1 -Leaving $names -NotJudged 'unseen') } }
        $run = Invoke-FleetScript (Join-Path $Scripts 'Tarvox-Detect.ps1') @('-Folder', $folder)
        $run.Code | Should -Be 1
        $run.Last.Length | Should -BeLessOrEqual 2048
        $cut = [regex]::Match($run.Last, '^Tarvox: a repair is due\. Result: .* Names leaving: stalefilter001, stalefilter002, .*stalefilter\d{3} \[(\d+) more names cut\]$')
        $cut.Success | Should -BeTrue
        $shown = ([regex]::Matches($run.Last, 'stalefilter\d{3}')).Count
        [int]$cut.Groups[1].Value | Should -Be (401 - $shown)
    }

    It 'is the same shared part in the three scripts, so they cannot drift apart' {
        $parts = foreach ($name in 'Tarvox-Detect.ps1', 'Tarvox-Remediate.ps1', 'Tarvox-Compliance.ps1') {
            $text = [System.IO.File]::ReadAllText((Join-Path $Scripts $name))
            $text.Substring($text.IndexOf('# ----- shared part'),
                $text.IndexOf('# ----- end of the shared part') - $text.IndexOf('# ----- shared part'))
        }
        $parts[1] | Should -BeExactly $parts[0]
        $parts[2] | Should -BeExactly $parts[0]
    }
}
