#!/bin/sh
# Runs a Windows program under Wine with the build folder's private prefix
# (or the one VARNEL_WINEPREFIX names, for a test that needs its own).
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
prefix=${VARNEL_WINEPREFIX:-$1}; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
