@echo off
rem varnok-recorder.bat: the channel-change command to give a video recorder
rem that takes only a program's path.
rem
rem varnok reads varnok.ini, and writes varnok.out, in the folder given with
rem -C: this hands it its own folder, the folder of varnok.exe and
rem varnok.ini, wherever the recorder starts it: keep it there. (The "."
rem keeps a folder name that ends in "\" inside its quotes.) A recorder that
rem takes a command line can be given C:\varnok\varnok.exe -C C:\varnok instead.
rem
rem Exit status: varnok's, 0 when the channel was sent.
"%~dp0varnok.exe" -C "%~dp0." %1
exit /b %ERRORLEVEL%
