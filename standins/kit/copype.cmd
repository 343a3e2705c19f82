@echo off
rem Stand-in for the kit's copype:  copype <architecture> <folder>
rem Creates the folder with media\sources\boot.wim (the stand-in image format) and mount.
"%~dp0Tools\kittool.exe" copype %*
exit /b %errorlevel%
