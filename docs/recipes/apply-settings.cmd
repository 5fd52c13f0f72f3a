@echo off
rem quillset for a deployment tool that runs a command as SYSTEM or an
rem administrator (a Configuration Manager script or package, a start-up
rem script), from a folder with qscheck.exe, qscapture.exe and quillset.exe
rem of the release zip that matches the machine's Windows.
rem Exit code: qscapture's outcome (0; 3010, a reboot to schedule), or 1 when
rem a tool is missing or the settings file cannot be written.
rem Time limit: 600 s (Group Policy's wait for start-up scripts)
setlocal
set SETTINGS=SMEnable=1 SDSwitch=2

if not exist "%~dp0qscheck.exe" (
  1>&2 echo quillset: "%~dp0qscheck.exe" is missing
  exit /b 1
)
if not exist "%~dp0qscapture.exe" (
  1>&2 echo quillset: "%~dp0qscapture.exe" is missing
  exit /b 1
)
if not exist "%~dp0quillset.exe" (
  1>&2 echo quillset: "%~dp0quillset.exe" is missing
  exit /b 1
)
rem 1. The settings file, in a form quillset cannot misread.
"%~dp0qscheck.exe" --write %SETTINGS%
if errorlevel 1 exit /b 1
rem 2. The run, logged where the package logs (in the 64-bit Program Files
rem    under a 32-bit agent too), and one event in the Application log.
set "folder=%ProgramFiles%\quillset"
if defined ProgramW6432 set "folder=%ProgramW6432%\quillset"
if not exist "%folder%\" mkdir "%folder%"
"%~dp0qscapture.exe" --log "%folder%\quillset.log" --eventlog --timeout 300 --outcome "%~dp0quillset.exe"
exit /b %errorlevel%
