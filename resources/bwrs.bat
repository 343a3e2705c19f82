@echo OFF
rem *** Tessel Backup System - Bootwright Script ***
rem USAGE   bwrs OutputType(ISO/USB) OutputPath
rem example bwrs ISO "C:\TxbBoot.iso"

rem 0) Set ENV Vars
cd /d "%~dp0ADK\Assessment and Deployment Kit\Deployment Tools"
call DandISetEnv
if %errorlevel% NEQ 0 goto ERROR

rem 1) Cleanup
dism /Unmount-Image /MountDir:"%temp%\txbboot\mount" /discard
dism /Cleanup-Mountpoints
if EXIST "%temp%\txbboot\" rd /q /s "%temp%\txbboot\"

rem 2) COPY PE
cd /d "%~dp0ADK\Assessment and Deployment Kit\Windows Preinstallation Environment"
call copype %~3 "%temp%\txbboot"
if %errorlevel% NEQ 0 goto ERROR

rem 3) Mount WIM
Dism /Mount-Image /ImageFile:"%temp%\txbboot\media\sources\boot.wim" /index:1 /MountDir:"%temp%\txbboot\mount"
if %errorlevel% NEQ 0 goto ERROR

rem 4) Copy TXBWorker & BG
takeown /f "%temp%\txbboot\mount\Windows\System32\winpe.jpg"
icacls "%temp%\txbboot\mount\Windows\System32\winpe.jpg" /grant *S-1-5-32-544:(D,WDAC)
del /f "%temp%\txbboot\mount\Windows\System32\winpe.jpg"
copy "%~dp0winpe.jpg" "%temp%\txbboot\mount\Windows\System32\"

takeown /f "%temp%\txbboot\mount\Windows\System32\startnet.cmd"
icacls "%temp%\txbboot\mount\Windows\System32\startnet.cmd" /grant *S-1-5-32-544:(D,WDAC)
del /f "%temp%\txbboot\mount\Windows\System32\startnet.cmd"
copy "%~dp0startnet.cmd" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

copy "%~dp0TXB\TXBWorker.exe" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

if /i "%~3" == "amd64" goto TOOLS64
copy "%SystemRoot%\SysWow64\timeout.exe" "%temp%\txbboot\mount\Windows\System32\" || copy "%SystemRoot%\system32\timeout.exe" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

copy "%SystemRoot%\SysWow64\choice.exe" "%temp%\txbboot\mount\Windows\System32\" || copy "%SystemRoot%\system32\choice.exe" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

goto LOCALE

rem A 64-bit image needs 64-bit tools. Only a 64-bit Windows makes one, and there the wizard
rem runs this script in the 64-bit cmd, whose system32 is the 64-bit folder (Sysnative exists
rem only for 32-bit programs)
:TOOLS64
copy "%SystemRoot%\system32\timeout.exe" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

copy "%SystemRoot%\system32\choice.exe" "%temp%\txbboot\mount\Windows\System32\"
if %errorlevel% NEQ 0 goto ERROR

:LOCALE
rem 5) Set system locale
dism /image:"%temp%\txbboot\mount" /Set-SysLocale:pl-PL
if %errorlevel% NEQ 0 goto ERROR

rem 5a) Add the drivers of the image's architecture, when its folder holds any .inf
set "BW_DRIVERS="
for /r "%~dp0Drivers\%~3" %%f in (*.inf) do if /i "%%~xf" == ".inf" set "BW_DRIVERS=1"
if not defined BW_DRIVERS goto COMMIT
dism /image:"%temp%\txbboot\mount" /Add-Driver /Driver:"%~dp0Drivers\%~3" /Recurse
if %errorlevel% NEQ 0 goto ERROR

:COMMIT
rem 6) Save changes & Unmount PE
Dism /Unmount-Image /MountDir:"%temp%\txbboot\mount" /commit
if %errorlevel% NEQ 0 goto ERROR

rem 7) Create bootable media
if "%~1" == "USB" (
  call MakeWinPEMedia /UFD /F "%temp%\txbboot" "%~2"
) else (
  call MakeWinPEMedia /ISO /F "%temp%\txbboot" "%~2"
)
if %errorlevel% NEQ 0 goto ERROR

echo DONE!
goto EXIT

:ERROR
echo ERROR

:EXIT
