#!/usr/bin/env bash
# Runs the Windows probe under Wine as a 9x system, so that its ASPI back end loads the test
# manager WNASPI32.DLL from the probe's folder, and checks that every trace of the run is the
# trace of the same scenario on the reference: the native probe when it is built, else the
# Windows probe's own in-process virtual machine.
#
# usage: probe_trace.sh WINE_RUN PROBE_EXE SCENARIO NATIVE_PROBE
set -euo pipefail
wine_run=$1 probe=$2 scenario=$3 native=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Windows 98 for this program only, and the manager beside it rather than Wine's own.
app='HKCU\Software\Wine\AppDefaults\veltran-probe.exe'
"$wine_run" reg add "$app" /v Version /d win98 /f >/dev/null
"$wine_run" reg add "$app\\DllOverrides" /v wnaspi32 /d native /f >/dev/null

# Wine sees the same files under Z:, so Unix paths work as arguments.
VELTRAN_SCENARIO=$scenario VELTRAN_TRACE=$work/manager.trace \
  "$wine_run" "$probe" --trace="$work/aspi.trace" >"$work/aspi.out"

if [ -x "$native" ]; then
  reference="native probe"
  "$native" --virtual="$scenario" --trace="$work/reference.trace" >"$work/reference.out"
else
  reference="in-process virtual machine"
  "$wine_run" "$probe" --virtual="$scenario" --trace="$work/reference.trace" >"$work/reference.out"
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
check "ASPI trace and trace of the $reference" "$work/aspi.trace" "$work/reference.trace"
check "manager trace and the probe's own trace" "$work/manager.trace" "$work/aspi.trace"
# Console output of a Windows program ends its lines with CR LF.
tr -d '\r' <"$work/aspi.out" >"$work/aspi.lf"
tr -d '\r' <"$work/reference.out" >"$work/reference.lf"
check "drive reports" "$work/aspi.lf" "$work/reference.lf"

echo "compared with the $reference: $(wc -l <"$work/aspi.trace") trace lines"
cat "$work/aspi.lf"
exit $fail
