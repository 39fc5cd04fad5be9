@echo off
rem Removes the registration of the Varnel plug-in beside this script.
rem Run from an administrator command prompt.
regsvr32 /u "%~dp0VarnelPlugin.dll"
