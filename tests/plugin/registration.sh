#!/bin/sh
# Registration round trip under Wine: regsvr32 writes every key of the class
# script and the type library, our host then finds the creator through the
# registry's list, and regsvr32 /u removes it all but the shared keys. The
# per-user form writes the classes under HKCU\Software\Classes.
# Usage: registration.sh WINE-RUN PREFIX PLUGIN-DLL HOST-EXE DEMO-SCRIPT
set -u
wine_run=$1 prefix=$2 dll=$3 host=$4 demo=$5
clsid='{FA7CD81B-D2EA-4134-9481-B09E998F2B34}'
iid='{C6D0210B-9F61-47FE-81EC-AAB003E3EA7B}'
creators='HKLM\SOFTWARE\Morvane\Quillon\TesterCreators'
failures=0

wine() { "$wine_run" "$prefix" "$@"; }
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }

# reg query KEY [/v NAME | /ve] must succeed and print TEXT
has() {
    key=$1; text=$2; shift 2
    out=$(wine reg query "$key" "$@" 2>&1) || { fail "missing: $key $*"; return; }
    printf '%s\n' "$out" | grep -F -q -- "$text" || fail "$key $*: expected '$text', got: $out"
}
exists() { wine reg query "$1" >/dev/null 2>&1 || fail "missing: $1"; }
gone() { wine reg query "$1" >/dev/null 2>&1 && fail "still there: $1"; }

# Left from an older registration: the class key is written anew (ForceRemove).
wine reg add "HKCR\\CLSID\\$clsid\\LocalServer32" /ve /d stale /f >/dev/null 2>&1
# Another creator in the host's list, which is not ours to remove.
wine reg add "$creators\\Other.Creator" /f >/dev/null 2>&1

wine regsvr32 /s "$dll" || fail "regsvr32 exit status $?"
gone "HKCR\\CLSID\\$clsid\\LocalServer32"
has "HKCR\\Morvane.VarnelCreator.1" "VarnelCreator Class" /ve
has "HKCR\\Morvane.VarnelCreator.1\\CLSID" "$clsid" /ve
has "HKCR\\Morvane.VarnelCreator" "VarnelCreator Class" /ve
has "HKCR\\Morvane.VarnelCreator\\CLSID" "$clsid" /ve
has "HKCR\\Morvane.VarnelCreator\\CurVer" "Morvane.VarnelCreator.1" /ve
has "HKCR\\CLSID\\$clsid" "VarnelCreator Class" /ve
has "HKCR\\CLSID\\$clsid\\ProgID" "Morvane.VarnelCreator.1" /ve
has "HKCR\\CLSID\\$clsid\\VersionIndependentProgID" "Morvane.VarnelCreator" /ve
exists "HKCR\\CLSID\\$clsid\\Programmable"
has "HKCR\\CLSID\\$clsid\\InprocServer32" "VarnelPlugin.dll" /ve
has "HKCR\\CLSID\\$clsid\\InprocServer32" "Free" /v ThreadingModel
has "HKCR\\CLSID\\$clsid\\TypeLib" "{253B1681-1ADF-42A9-8CDD-8A21529B5F00}" /ve
has "HKCR\\TypeLib\\{253B1681-1ADF-42A9-8CDD-8A21529B5F00}\\2.0" "VarnelPlugin 2.0 Type Library" /ve
exists "HKLM\\SOFTWARE\\Morvane\\Quillon\\TesterCreators\\Morvane.VarnelCreator"
has "HKCR\\Interface\\$iid" "IVarnelCreator" /ve
# The application identifier's script is carried but never run.
gone "HKCR\\AppID\\VarnelPlugin.DLL"

# Registering again is no failure (the ForceRemove keys are written anew).
wine regsvr32 /s "$dll" || fail "second regsvr32 exit status $?"

# The host's way in: the list, the program identifier, CoCreateInstance.
out=$(wine "$host" --registry --level none --no-time "$demo" 2>&1 | tr -d '\r')
printf '%s\n' "$out" | grep -q '^Summary: 9 steps, 9 as expected' || fail "host through the registry: $out"
printf '%s\n' "$out" | grep -q '^PASSED$' || fail "host through the registry did not pass: $out"
# The other creator cannot be made (it has no class): noted, not fatal.
out=$(wine "$host" --registry --list 2>&1 | tr -d '\r')
printf '%s\n' "$out" | grep -q '^Tester "serial" version 5.0' || fail "host --registry --list: $out"
printf '%s\n' "$out" | grep -q '^Not available: Other.Creator: no class is registered for it' ||
    fail "host --registry --list does not name the broken creator: $out"

wine regsvr32 /u /s "$dll" || fail "regsvr32 /u exit status $?"
gone "HKCR\\Morvane.VarnelCreator.1"
gone "HKCR\\Morvane.VarnelCreator"
gone "HKCR\\CLSID\\$clsid"
gone "HKCR\\TypeLib\\{253B1681-1ADF-42A9-8CDD-8A21529B5F00}"
gone "HKCR\\Interface\\$iid"
gone "HKLM\\SOFTWARE\\Morvane\\Quillon\\TesterCreators\\Morvane.VarnelCreator"
wine reg query "HKLM\\SOFTWARE\\Morvane\\Quillon\\TesterCreators" >/dev/null 2>&1 ||
    fail "the TesterCreators key itself must stay"
exists "$creators\\Other.Creator"
wine reg delete "$creators\\Other.Creator" /f >/dev/null 2>&1
wine reg query "HKCR\\CLSID" >/dev/null 2>&1 || fail "HKCR\\CLSID must stay"
# Unregistering what is not registered is no failure.
wine regsvr32 /u /s "$dll" || fail "second regsvr32 /u exit status $?"

# Per-user registration: the classes go to the user's own classes.
wine regsvr32 /s /n /i:user "$dll" || fail "regsvr32 /n /i:user exit status $?"
has "HKCU\\Software\\Classes\\Morvane.VarnelCreator\\CLSID" "$clsid" /ve
has "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "Free" /v ThreadingModel
wine regsvr32 /s /u /n /i:user "$dll" || fail "regsvr32 /u /n /i:user exit status $?"
gone "HKCU\\Software\\Classes\\Morvane.VarnelCreator"
gone "HKCU\\Software\\Classes\\CLSID\\$clsid"

[ "$failures" = 0 ] && printf 'registration round trip passed\n'
exit "$failures"
