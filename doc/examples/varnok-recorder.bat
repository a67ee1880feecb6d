@echo off
rem varnok-recorder.bat: the channel-change command to give a video recorder.
rem
rem varnok reads varnok.ini, and writes varnok.out, in the folder it is
rem started from; a recorder may start its command anywhere. This changes to
rem the folder of varnok.exe first. Keep it beside varnok.exe.
rem
rem Exit status: varnok's (0 when the channel was sent), or 1 when the
rem folder cannot be entered.
cd /d "%~dp0" || exit /b 1
varnok.exe %1
exit /b %ERRORLEVEL%
