@echo off
rem Stand-in for the kit's media writer:
rem   MakeWinPEMedia {/ufd | /iso} /f <workingDirectory> <destination>
rem It writes the working copy's media folder into the ISO file, or onto the drive; for the
rem drive, a folder named by BW_UFD_DIR takes its place, so no real drive is ever written.
rem
rem The kit's own script copies the media files onto the drive with the line below, which the
rem wizard rewrites on Windows 7. Here kittool.exe does the copying, and the line stays as a
rem remark: Wine's xcopy copies nothing from a folder named this way, and hangs on the rewrite.
rem   xcopy /herky "%WORKINGDIR%\%TEMPL%" "%DEST%\" >NUL
"%~dp0Tools\kittool.exe" MakeWinPEMedia %*
exit /b %errorlevel%
