@echo off
ver
echo.
echo Initializing devices. This process may take several minutes...
wpeinit

:START
cls
echo Tessel Backup System Worker - Startup Wizard
echo.
echo.
echo Would you like to connect to a backup server?
echo 1) Yes - Automatic mode (or wait for 15 seconds)
echo 2) Yes - Manual mode
echo 3) No - back to the command line
choice /c 123 /t 15 /d 1 /n
echo.
if %errorlevel% EQU 1 goto AUTO
if %errorlevel% EQU 2 goto GETSERVER
if %errorlevel% EQU 3 goto CMD

:AUTO
ipconfig
echo.
echo Looking for a backup server. Please wait...
TXBWorker -discover > %TEMP%\serverip.txt
if %errorlevel% NEQ 0 goto NOTFOUND

:FOUND
set /p SERVER=<%TEMP%\serverip.txt
echo.
echo.
echo Backup server has been found at IP address %SERVER%
timeout /t 5
set PORT=4531
set NAME=WSAUTO_%RANDOM%
goto END

:NOTFOUND
echo.
echo.
echo Backup server has not been found.
echo Error code: %ERRORLEVEL%
timeout /t 30
goto START

:GETSERVER
set SERVER=
set PORT=
set NAME=
set IP=
set MASK=
set GW=
set /p SERVER=Enter the backup server IP address (required): 
if not defined SERVER goto GETSERVER
set /p PORT=Enter the TCP port number (empty = 4531): 
if not defined PORT set PORT=4531

:GETNAME
set /p NAME=Enter a name for this computer (required): 
if not defined NAME goto GETNAME
set /p IP=Enter an IP address for this computer (empty = DHCP): 
if not defined IP goto END
set /p MASK=Enter the network mask (empty = 255.255.255.0): 
if not defined MASK set MASK=255.255.255.0
set /p GW=Enter the default gateway IP (empty = NONE): 

:END
TXBWorker -recovery %NAME% %SERVER%:%PORT% %IP% %MASK% %GW%
if %errorlevel% EQU 162 goto UPDATE
pause
goto START

:UPDATE
cls
echo Update in progress, please wait...
ping localhost -n 40 >nul

:CMD
