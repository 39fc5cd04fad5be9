@echo off
rem Registers the Varnel plug-in beside this script for the Quillon host.
rem Run from an administrator command prompt.
regsvr32 "%~dp0VarnelPlugin.dll"
