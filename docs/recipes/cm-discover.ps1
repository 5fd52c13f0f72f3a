# quillset, Configuration Manager configuration item: the discovery script
# (Windows PowerShell, data type String). The compliance rule: the value
# equals Compliant, with the remediation script cm-remediate.ps1.
# It always exits with 0, as the value is compared only then: Compliant
# when the settings are in line or the kvcard driver is not installed,
# otherwise the line that says why (drift or cannot-tell).

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
        'Compliant'
        exit 0
    }
    "state=cannot-tell reason=not-installed missing=$qscheck"
    exit 0
}
$global:LASTEXITCODE = $null
$line = & $qscheck --verify
$code = $LASTEXITCODE
# $LASTEXITCODE stays $null when no program ran.
if ($null -eq $code) {
    "state=cannot-tell reason=not-started missing=$qscheck"
    exit 0
}
if ($code -eq 0 -and $null -ne $smEnable -and $line -like 'state=in-line *' -and
    $line -notlike "* want=$smEnable SDSwitch=* want=$sdSwitch *") {
    "state=drift reason=other-settings wanted=SMEnable=$smEnable,SDSwitch=$sdSwitch " + ($line -replace '^state=in-line ', '')
    exit 0
}
if ($code -eq 0) { 'Compliant' } else { $line }
exit 0
