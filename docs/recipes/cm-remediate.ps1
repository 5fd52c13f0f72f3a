# quillset, Configuration Manager configuration item: the remediation script,
# with the discovery script's settings (cm-discover.ps1). Configuration
# Manager takes a remediation as failed when it throws: it throws for every
# outcome but 0, 3010 (the controller restarts at the next reboot, which
# the next discovery shows as controller=needs-reboot) and 7 (a controller
# disabled on purpose, left so).
# Time limit: 60 s, the client's script time-out unless its settings give more;
# qscapture lets quillset run on after 45 s and exits with 4.

$smEnable = $null
$sdSwitch = $null

$folder = if ($env:ProgramW6432) { "$env:ProgramW6432\quillset" } else { "$env:ProgramFiles\quillset" }
$qscheck = "$folder\qscheck.exe"
$qscapture = "$folder\qscapture.exe"
$program = "$folder\quillset.exe"
foreach ($tool in $qscheck, $qscapture, $program) {
    if (-not (Test-Path -LiteralPath $tool -PathType Leaf)) {
        throw "quillset: $tool is missing: install the package"
    }
}
if ($null -ne $smEnable) {
    $global:LASTEXITCODE = $null
    & $qscheck --write "SMEnable=$smEnable" "SDSwitch=$sdSwitch"
    # Also when it did not run: $LASTEXITCODE is then $null.
    if ($LASTEXITCODE -ne 0) { throw "quillset: qscheck --write did not write the settings file (exit code '$LASTEXITCODE')" }
}
# A program that does not start leaves $LASTEXITCODE as the program before
# it set it (0 after qscheck --write): hence the reset before each start.
$global:LASTEXITCODE = $null
& $qscapture --log "$folder\quillset.log" --eventlog --timeout 45 --outcome $program
$outcome = $LASTEXITCODE
if ($null -eq $outcome) { throw "quillset: $qscapture did not run" }
if ($outcome -ne 0 -and $outcome -ne 3010 -and $outcome -ne 7) {
    throw "quillset outcome ${outcome}: see $folder\quillset.log and the Application log"
}
exit 0
