@echo off
rem Stand-in for the kit's environment script. It puts the kit's tools folder first on the
rem search path (the stand-in DISM must win over any dism of the host) and names the kit's
rem folders, as the real script does, for the rest of the caller's run.
"%~dp0Tools\kittool.exe" DandISetEnv %*
if %errorlevel% NEQ 0 exit /b %errorlevel%
rem Which interpreter runs the build: a 32-bit cmd says x86 even on a 64-bit Windows.
if defined BW_ARCH_RECORD echo %PROCESSOR_ARCHITECTURE%>"%BW_ARCH_RECORD%"
set "DandIRoot=%~dp0"
set "WinPERoot=%~dp0..\Windows Preinstallation Environment"
set "PATH=%~dp0Tools;%PATH%"
exit /b 0
