@echo off
setlocal
rem Registers the Varnel plug-in beside this script for the Quillon host.
rem Where the host is not installed, it also offers to register our build of
rem the host's type library (QuillonLib 1.0 and 2.0): scripting clients
rem need it to call the testers by name. A version the host has registered
rem is left as it is. Run from an administrator command prompt.
rem   register.cmd            asks before registering the type library
rem   register.cmd /typelib   registers it without asking
rem   register.cmd /s         silent, for scripted installs: no regsvr32
rem                           message box, the type library without asking
rem typelib-registered.txt beside this script lists what was registered
rem here, so that unregister.cmd removes only that.
set "here=%~dp0"
set "record=%here%typelib-registered.txt"
set quiet=
set ask=yes

:option
if "%~1"=="" goto plugin
if /i "%~1"=="/s" (
  set quiet=/s
  set ask=no
  shift
  goto option
)
if /i "%~1"=="/typelib" (
  set ask=no
  shift
  goto option
)
echo register.cmd: unknown option %1 (use /typelib or /s)
exit /b 2

:plugin
regsvr32 %quiet% "%here%VarnelPlugin.dll"
if errorlevel 1 exit /b 1

"%here%varnel-typelib.exe" check "%here%QuillonLib10.tlb" "%here%QuillonLib20.tlb" >nul
if not errorlevel 1 (
  echo The Quillon host type library is registered already: left as it is.
  exit /b 0
)
if "%ask%"=="no" goto typelib
echo The Quillon host type library is not registered. Scripting clients
echo such as VBScript, JScript and PowerShell need it to call the testers by name.
set answer=
set /p "answer=Register the copy that comes with the plug-in? [y/N] "
if /i "%answer%"=="y" goto typelib
if /i "%answer%"=="yes" goto typelib
echo Type library not registered.
exit /b 0

:typelib
"%here%varnel-typelib.exe" register "%record%" "%here%QuillonLib10.tlb" "%here%QuillonLib20.tlb"
if errorlevel 1 exit /b 1
exit /b 0
