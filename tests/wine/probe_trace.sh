#!/usr/bin/env bash
# Runs the Windows probe under Wine as a 9x system, so that its ASPI back end loads the test
# manager WNASPI32.DLL from the probe's folder, and checks that the traces of that run (the
# probe's own and the manager's) are the trace of the same scenario run on the probe's in-process
# virtual machine and, when it is built, on the native probe.
#
# usage: probe_trace.sh WINE_RUN PROBE_EXE SCENARIO NATIVE_PROBE
set -euo pipefail
wine_run=$1 probe=$2 scenario=$3 native=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Windows 98 for this program only, and the manager beside it rather than Wine's own. The probe
# runs as a copy under a name of its own, so that no other run of the probe in this Wine prefix
# (tests running at the same time included) sees a 9x system.
probe9x=$work/veltran-probe-9x.exe
cp "$probe" "$probe9x"
cp "$(dirname "$probe")/WNASPI32.DLL" "$work/"
app='HKCU\Software\Wine\AppDefaults\veltran-probe-9x.exe'
"$wine_run" reg add "$app" /v Version /d win98 /f >/dev/null
"$wine_run" reg add "$app\\DllOverrides" /v wnaspi32 /d native /f >/dev/null

# Wine sees the same files under Z:, so Unix paths work as arguments.
VELTRAN_SCENARIO=$scenario VELTRAN_TRACE=$work/manager.trace \
  "$wine_run" "$probe9x" --trace="$work/aspi.trace" >"$work/aspi.out"

"$wine_run" "$probe" --virtual="$scenario" --trace="$work/virtual.trace" >"$work/virtual.out"
references="the in-process virtual machine"
if [ -x "$native" ]; then
  references="the native probe and $references"
  "$native" --virtual="$scenario" --trace="$work/native.trace" >/dev/null
fi

fail=0
check() {  # check WHAT FILE_A FILE_B
  if ! cmp -s "$2" "$3"; then
    echo "FAIL: $1 differ"
    diff "$2" "$3" | head -20
    fail=1
  fi
}
if [ ! -s "$work/manager.trace" ]; then
  echo "FAIL: the test manager traced nothing: the ASPI back end did not run"
  fail=1
fi
check "ASPI trace and in-process virtual trace" "$work/aspi.trace" "$work/virtual.trace"
if [ -x "$native" ]; then
  check "ASPI trace and native trace" "$work/aspi.trace" "$work/native.trace"
fi
check "manager trace and the probe's own trace" "$work/manager.trace" "$work/aspi.trace"
# The same program's reports; console lines of a Windows program end in CR LF either way.
check "drive reports" "$work/aspi.out" "$work/virtual.out"

echo "compared with $references: $(wc -l <"$work/aspi.trace") trace lines"
tr -d '\r' <"$work/aspi.out"
exit $fail
