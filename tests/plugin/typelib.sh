#!/bin/sh
# Scripting clients without the Quillon host, under Wine, from the installed
# folder: register.cmd registers the plug-in and our copy of the host's type
# library, a VBScript drives the serial tester by name through cscript, and
# unregister.cmd removes both again. A registration of the host's type
# library, there before or made meanwhile, is left as it is.
# Usage: typelib.sh WINE-RUN PREFIX CMAKE BUILD-DIR STAGE-DIR VBSCRIPT
set -u
wine_run=$1 prefix=$2 cmake=$3 build=$4 stage=$5 vbscript=$6
lib='HKCR\TypeLib\{5056E38D-14BD-40CD-9EA5-F0B1B9D16AF9}'
host_file='C:\Quillon\QuillonLib.tlb'
record=$stage/typelib-registered.txt
failures=0

wine() { "$wine_run" "$prefix" "$@"; }
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
# Runs a script of the installed folder from that folder.
in_stage() {
    (cd "$stage" && wine "$@") >"$stage.out" 2>&1
    status=$?
    tr -d '\r' <"$stage.out"
    return $status
}
registered_file() { wine reg query "$lib\\$1\\0\\win64" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
gone() { wine reg query "$1" >/dev/null 2>&1 && fail "still there: $1"; }

rm -rf "$stage"
"$cmake" --install "$build" --prefix "$stage" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
cp "$vbscript" "$stage/loopback.vbs"
if wine reg query "$lib" >/dev/null 2>&1; then
    echo "FAIL: QuillonLib is registered before the test began"; exit 1
fi

# An installed host's registration is left alone by both scripts.
for version in 1.0 2.0; do
    wine reg add "$lib\\$version\\0\\win64" /ve /d "$host_file" /f >/dev/null 2>&1
done
out=$(in_stage cmd /c register.cmd /s) || fail "register.cmd /s with the host: $out"
[ -e "$record" ] && fail "register.cmd recorded a registration although the host's was there"
out=$(in_stage cmd /c unregister.cmd /s) || fail "unregister.cmd /s with the host: $out"
for version in 1.0 2.0; do
    [ "$(registered_file $version)" = "$host_file" ] || fail "the host's $version registration was changed"
done
wine reg delete "$lib" /f >/dev/null 2>&1

# Declined at the prompt: the plug-in is registered, the type library not.
out=$(printf 'n\r\n' | in_stage cmd /c register.cmd) || fail "register.cmd, declined: $out"
gone "$lib"

# Without the host: registered, recorded, and used by cscript.
out=$(in_stage cmd /c register.cmd /s) || fail "register.cmd /s: $out"
for version in 1.0 2.0; do
    case $(registered_file $version) in
    *QuillonLib${version%.0}0.tlb) ;;
    *) fail "QuillonLib $version not registered from the folder: $out" ;;
    esac
done
out=$(in_stage cmd /c register.cmd /typelib) || fail "register.cmd again: $out"
[ "$(grep -c . "$record")" = 2 ] || fail "the record should list the two versions once: $(cat "$record")"

out=$(in_stage cscript //nologo loopback.vbs)
expected=$(printf 'new True\nopen 0\nsend 0\nwaitfor 0')
[ "$out" = "$expected" ] || fail "cscript loopback.vbs printed: $out"

# A host installed meanwhile over version 1.0 keeps its registration; our
# 2.0 goes.
wine reg add "$lib\\1.0\\0\\win64" /ve /d "$host_file" /f >/dev/null 2>&1
out=$(in_stage cmd /c unregister.cmd /s) || fail "unregister.cmd /s: $out"
[ "$(registered_file 1.0)" = "$host_file" ] || fail "unregister.cmd removed the host's 1.0 registration: $out"
gone "$lib\\2.0"
wine reg delete "$lib" /f >/dev/null 2>&1
gone "HKCR\\Morvane.VarnelCreator"
[ -e "$record" ] && fail "the record is still there after unregister.cmd"

[ "$failures" = 0 ] && printf 'type library round trip passed\n'
exit "$failures"
