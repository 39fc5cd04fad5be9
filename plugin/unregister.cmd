@echo off
setlocal
rem Removes the registration of the Varnel plug-in beside this script, and
rem the type library registrations register.cmd made (those listed in
rem typelib-registered.txt beside this script); a type library the Quillon
rem host registered stays. Run from an administrator command prompt.
rem   unregister.cmd      shows regsvr32's message box
rem   unregister.cmd /s   silent, for scripted uninstalls
set "here=%~dp0"
set "record=%here%typelib-registered.txt"
set quiet=
if /i "%~1"=="/s" set quiet=/s
set status=0

if not exist "%record%" goto plugin
"%here%varnel-typelib.exe" unregister "%record%"
if errorlevel 1 set status=1

:plugin
regsvr32 %quiet% /u "%here%VarnelPlugin.dll"
if errorlevel 1 set status=1
exit /b %status%
