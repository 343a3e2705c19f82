@echo off
rem Stand-in for the kit's environment script. It puts the kit's tools folder first on the
rem search path (the stand-in DISM must win over any dism of the host) and names the kit's
rem folders, as the real script does, for the rest of the caller's run.
"%~dp0Tools\kittool.exe" DandISetEnv %*
if %errorlevel% NEQ 0 exit /b %errorlevel%
set "DandIRoot=%~dp0"
set "WinPERoot=%~dp0..\Windows Preinstallation Environment"
set "PATH=%~dp0Tools;%PATH%"
exit /b 0
