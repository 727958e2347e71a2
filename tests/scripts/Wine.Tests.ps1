# The fleet scripts against the real TarvoxCheck.exe and Tarvox.exe under
# Wine, on a healthy machine and on the demo's broken one: what a fleet sees
# of a machine, before and after the remediation repaired it.
param([string]$Build, [string]$Work, [string]$Scripts)

BeforeDiscovery {
    $built = (Test-Path -LiteralPath (Join-Path $Build 'TarvoxCheck.exe')) -and
        (Test-Path -LiteralPath (Join-Path $Build 'Tarvox.exe')) -and
        $null -ne (Get-Command wine -ErrorAction SilentlyContinue)
}

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')
    $machine = Join-Path $PSScriptRoot 'wine-machine.sh'
    # A machine of its own for each kind; its prefix stays after the run,
    # for a look (its drive_c is hard-linked to the template's: a few MB),
    # and the next run makes it afresh.
    function Start-Machine([string]$Kind) {
        $prefix = Join-Path $Build "wine/prefixes/scripts/$Kind"
        $folder = Join-Path $Work "wine-$Kind/Orvane"
        & $machine start $Build $prefix $Kind $folder
        if ($LASTEXITCODE -ne 0) { throw "the $Kind Wine machine could not be made" }
        @{ Prefix = $prefix; Folder = $folder }
    }
    function Invoke-OnMachine($Machine, [string]$Script) {
        Invoke-FleetScript (Join-Path $Scripts $Script) @('-Folder', $Machine.Folder)
    }
    $clean = 'Result: nothing to repair (exit code 0). Places changing: 0; names leaving: 0; ' +
        'names not judged: 0; places not read: 0; driver files restored: 0; ' +
        'co-installer entry removed: no; reboot: no.'
}

Describe 'Under Wine, a healthy machine' -Skip:(-not $built) {
    BeforeAll { $healthy = Start-Machine 'healthy' }
    AfterAll { & $machine stop $healthy.Prefix }

    It 'is found with nothing to repair, and compliant' {
        $run = Invoke-OnMachine $healthy 'Tarvox-Detect.ps1'
        $run.Code | Should -Be 0
        $run.Last | Should -BeExactly "Tarvox: nothing to repair. $clean"
        $run = Invoke-OnMachine $healthy 'Tarvox-Compliance.ps1'
        $run.Code | Should -Be 0
        $run.Last | Should -BeExactly 'Compliant'
    }
}

Describe 'Under Wine, a broken machine' -Skip:(-not $built) {
    BeforeAll {
        $broken = Start-Machine 'broken'
        $due = 'Result: a repair is due (exit code 1). Places changing: 5; names leaving: 4; ' +
            'names not judged: 0; places not read: 0; driver files restored: 1; ' +
            'co-installer entry removed: yes; reboot: yes.'
        $leaving = 'Names leaving: offflt, burnkit.'
    }
    AfterAll { & $machine stop $broken.Prefix }

    It 'is found with a repair due, the names that leave named' {
        $run = Invoke-OnMachine $broken 'Tarvox-Detect.ps1'
        $run.Code | Should -Be 1
        $run.Last | Should -BeExactly "Tarvox: a repair is due. $due $leaving"
        (Invoke-OnMachine $broken 'Tarvox-Compliance.ps1').Last | Should -BeExactly 'NonCompliant'
    }

    It 'is repaired by the remediation, which checks its repair and tells of the restart' {
        $run = Invoke-OnMachine $broken 'Tarvox-Remediate.ps1'
        $run.Code | Should -Be 0
        $run.Last | Should -BeExactly ("Tarvox: repaired; restart Windows for the repair to take effect. " +
            "Before: $due After: $clean Names removed: offflt, burnkit.")
    }

    It 'is then found with nothing to repair' {
        $run = Invoke-OnMachine $broken 'Tarvox-Detect.ps1'
        $run.Code | Should -Be 0
        $run.Last | Should -BeExactly "Tarvox: nothing to repair. $clean"
    }
}
