#!/usr/bin/env bash
# Runs in the guest, inside the host's root file system (read-only), as root. SHARE is the
# writable export: SHARE/job.sh names the shape, its cases and the programs; every case leaves its
# output, trace and exit status in SHARE/results. Nothing here judges a result: the host does.
#
# usage: guest.sh SHARE
set -uo pipefail
share=$1
# shellcheck source=/dev/null
. "$share/job.sh"   # shape, cases, native_bin, win64_bin, win32_bin
out=$share/results
mkdir -p "$out"
export TMPDIR=/tmp

# The optical SCSI generic nodes in node order, as "sgN srM" pairs.
optical_nodes() {
  local dev n
  for dev in /sys/class/scsi_generic/sg*; do
    [ "$(cat "$dev/device/type" 2>/dev/null)" = 5 ] || continue
    n=${dev##*/sg}
    echo "$n sg$n $(ls "$dev/device/block" 2>/dev/null | head -1)"
  done | sort -n | cut -d' ' -f2-
}

# record NAME TIMEOUT COMMAND...: runs the command with its output in NAME.out, status in NAME.rc.
record() {
  local name=$1 limit=$2
  shift 2
  local t0=$(date +%s)
  timeout -k 5 "$limit" "$@" >"$out/$name.out" 2>"$out/$name.err" </dev/null
  local rc=$?
  echo "$rc" >"$out/$name.rc"
  echo "case $name: exit $rc in $(( $(date +%s) - t0 )) s"
}

program() {  # program TARGET NAME: the command that runs that program of that build
  local target=$1 name=$2
  case $target in
    native) echo "$native_bin/$name" ;;
    win64 | win32)
      local dir=${target}_bin
      mkdir -p "/tmp/$target"
      cp "${!dir}/$name.exe" "/tmp/$target/"
      echo "wine /tmp/$target/$name.exe" ;;
  esac
}

export WINEPREFIX=$share/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Puts every drive's tray back and lets each report its unit attention, so that the next case
# finds the drives as the shape made them.
reload_trays() {
  local sg sr
  while read -r sg sr; do
    sg_raw /dev/"$sg" 1b 00 00 00 03 00 >/dev/null 2>&1
    sg_turs -n 3 /dev/"$sg" >/dev/null 2>&1
  done < <(optical_nodes)
}

run_case() {
  local c=$1 target=${1#*:}
  case $c in
    inventory)
      {
        local sg sr dev
        while read -r sg sr; do
          dev=/sys/class/scsi_generic/$sg/device
          echo "$sg $sr $(cat "$dev/vendor")|$(cat "$dev/model")|$(cat "$dev/rev")"
        done < <(optical_nodes)
      } >"$out/inventory.out"
      echo "case inventory: $(wc -l <"$out/inventory.out") optical drive(s)" ;;
    sgraw)
      local sg sr
      while read -r sg sr; do
        record "sgraw-inquiry-scan.$sg" 30 sg_raw -r 36 -o "$out/sgraw-inquiry-scan.$sg.bin" /dev/"$sg" 12 00 00 00 24 00
        record "sgraw-inquiry.$sg" 30 sg_raw -r 96 -o "$out/sgraw-inquiry.$sg.bin" /dev/"$sg" 12 00 00 00 60 00
        record "sgraw-identify.$sg" 30 sg_raw -r 8 /dev/"$sg" ff 00 ff 00 00 00 00 00 00 00 00 aa
        record "sgraw-tur.$sg" 30 sg_raw /dev/"$sg" 00 00 00 00 00 00
      done < <(optical_nodes) ;;
    scan:*)
      rm -f "$out/scan-$target.trace"
      # shellcheck disable=SC2046
      record "scan-$target" 120 $(program "$target" veltran-probe) --trace="$out/scan-$target.trace" ;;
    units:*)
      rm -f "$out/units-$target.trace"
      # shellcheck disable=SC2046
      record "units-$target" 120 $(program "$target" realdrive-commands) --trace="$out/units-$target.trace" \
        tur identify eject tur inquiry
      reload_trays ;;
    *)
      echo "case $c: unknown" | tee "$out/$c.err"
      echo 127 >"$out/$c.rc" ;;
  esac
}

echo "shape $shape: $(optical_nodes | tr '\n' ' ')"
for c in ${cases//,/ }; do
  run_case "$c"
done
echo done >"$out/finished"
