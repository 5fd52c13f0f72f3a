# quillset, Intune Remediations: the remediation script, with the detection
# script's settings (intune-detect.ps1). Run it as the detection script is.
# Exit 0: settings applied (or the controller restarts at the next reboot,
# which the next detection shows as controller=needs-reboot, or it was
# disabled on purpose and is left so, outcome 7); otherwise
# qscapture's outcome, or 1 when a tool is missing or did not start.
# --timeout 300 is far more than a run takes that nothing holds up (pending
# device installations and another run have no limit): qscapture then lets
# quillset run on and exits with 4, and the next detection looks again.

$smEnable = $null
$sdSwitch = $null

$folder = if ($env:ProgramW6432) { "$env:ProgramW6432\quillset" } else { "$env:ProgramFiles\quillset" }
$qscheck = "$folder\qscheck.exe"
$qscapture = "$folder\qscapture.exe"
$program = "$folder\quillset.exe"
foreach ($tool in $qscheck, $qscapture, $program) {
    if (-not (Test-Path -LiteralPath $tool -PathType Leaf)) {
        "quillset: $tool is missing: install the package"
        exit 1
    }
}
if ($null -ne $smEnable) {
    $global:LASTEXITCODE = $null
    & $qscheck --write "SMEnable=$smEnable" "SDSwitch=$sdSwitch"
    # Also when it did not run: $LASTEXITCODE is then $null.
    if ($LASTEXITCODE -ne 0) { exit 1 }
}
# A program that does not start leaves $LASTEXITCODE as the program before
# it set it (0 after qscheck --write): hence the reset before each start.
$global:LASTEXITCODE = $null
& $qscapture --log "$folder\quillset.log" --eventlog --timeout 300 --outcome $program
$outcome = $LASTEXITCODE
if ($outcome -eq 0 -or $outcome -eq 3010 -or $outcome -eq 7) { exit 0 }
if ($null -eq $outcome) { exit 1 }
exit $outcome
