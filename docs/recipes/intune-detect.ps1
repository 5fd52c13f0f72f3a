# quillset, Intune Remediations: the detection script. Run it as SYSTEM
# ("Run this script using the logged-on credentials": No), "Enforce script
# signature check": No, "Run script in 64-bit PowerShell": Yes.
# Exit 0, without issues: the settings are in line, or the kvcard driver is
# not installed. Exit 1, with issues: drift or cannot-tell, which the
# remediation script then mends; the line printed says why.

# The settings to keep, the same in the remediation script. $null keeps the
# settings file on the machine (the one the package wrote); numbers (0 or 1,
# 0 to 3) make the remediation write them when the file holds others.
$smEnable = $null
$sdSwitch = $null

$folder = if ($env:ProgramW6432) { "$env:ProgramW6432\quillset" } else { "$env:ProgramFiles\quillset" }
$qscheck = "$folder\qscheck.exe"
if (-not (Test-Path -LiteralPath $qscheck -PathType Leaf)) {
    # Where the driver is missing too, there is nothing to keep in line.
    if (-not (Test-Path -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Services\kvcard')) {
        'state=not-applicable reason=driver-not-installed,not-installed'
        exit 0
    }
    "state=cannot-tell reason=not-installed missing=$qscheck"
    exit 1
}
$global:LASTEXITCODE = $null
$line = & $qscheck --verify
$code = $LASTEXITCODE
# $LASTEXITCODE stays $null when no program ran.
if ($null -eq $code) {
    "state=cannot-tell reason=not-started missing=$qscheck"
    exit 1
}
if ($code -eq 0 -and $null -ne $smEnable -and $line -like 'state=in-line *' -and
    $line -notlike "* want=$smEnable SDSwitch=* want=$sdSwitch *") {
    "state=drift reason=other-settings wanted=SMEnable=$smEnable,SDSwitch=$sdSwitch " + ($line -replace '^state=in-line ', '')
    exit 1
}
$line
if ($code -eq 0) { exit 0 }
exit 1
