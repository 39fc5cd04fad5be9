#!/bin/sh
# Runs a Windows program under Wine with the build folder's private prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
