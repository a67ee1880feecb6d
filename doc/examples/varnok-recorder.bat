@echo off
rem varnok-recorder.bat: the channel-change command to give a video recorder.
rem
rem varnok reads varnok.ini, and writes varnok.out, in the folder it is
rem started from; a recorder may start its command anywhere. This changes to
rem its own folder first, the folder of varnok.exe and varnok.ini: keep it
rem there. (The "." keeps a folder name that ends in "\" inside its quotes.)
rem
rem Exit status: varnok's, 0 when the channel was sent.
cd /d "%~dp0."
varnok.exe %1
exit /b %ERRORLEVEL%
