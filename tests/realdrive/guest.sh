#!/usr/bin/env bash
# Runs in the guest, inside the host's root file system (read-only), as root. SHARE is the
# writable export: SHARE/job.sh names the shape, its cases and the programs; every case leaves its
# output, trace and exit status in SHARE/results. Nothing here judges a result: the host does.
#
# usage: guest.sh SHARE
set -uo pipefail
share=$1
# shellcheck source=/dev/null
. "$share/job.sh"   # shape, cases, emulated, native_bin, win64_bin, win32_bin
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
      # The flash tool is a window: it gets a display of its own.
      echo "wine /tmp/$target/$name.exe" ;;
  esac
}

export WINEPREFIX=$share/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# One display and one Wine server for the whole run, started once: under TCG each start of
# either costs seconds, for every Windows program of every case. The flash tool is a window and
# draws on that display.
case ",$cases," in
  *:win64,* | *:win32,*)
    Xvfb :7 -nolisten tcp >/dev/null 2>&1 &
    export DISPLAY=:7
    /usr/lib/wine/wineserver64 -p ;;
esac

# No guest may act on a restart request: the download asks for one through systemctl (logind)
# when its final command has run without a test option. This systemctl comes first on the PATH,
# notes every call in SHARE/results/systemctl.calls and refuses.
mkdir -p /tmp/guard
cat >/tmp/guard/systemctl <<GUARD
#!/bin/sh
echo "systemctl \$*" >>"$out/systemctl.calls"
exit 1
GUARD
chmod +x /tmp/guard/systemctl
export PATH=/tmp/guard:$PATH

# Each drive's tray and medium as GET EVENT STATUS NOTIFICATION (media class, polled) reports
# them: "sgN tray open|closed medium yes|no", or "sgN unknown" when the drive does not answer.
media_state() {
  local sg sr bytes
  while read -r sg sr; do
    rm -f /tmp/media.bin
    if sg_raw -r 8 -o /tmp/media.bin /dev/"$sg" 4a 01 00 00 10 00 00 00 08 00 >/dev/null 2>&1; then
      bytes=($(od -An -tu1 -v /tmp/media.bin))
      echo "$sg tray $( ((bytes[5] & 1)) && echo open || echo closed) medium $( ((bytes[5] & 2)) && echo yes || echo no)"
    else
      echo "$sg unknown"
    fi
  done < <(optical_nodes)
}

# download NAME TARGET OPTION...: the flash tool started in a folder of its own that holds the
# shape's AUTORUN.BIN, with standard input at its end (it starts the download by itself); leaves
# its output, trace, test log (NAME-TARGET.log) and the drives' state before and after.
download() {
  local name=$1-$2 target=$2 dir
  shift 2
  dir=/tmp/run-$name
  rm -rf "$dir" "$out/$name.trace"
  mkdir -p "$dir"
  cp "$share/autorun.bin" "$dir/AUTORUN.BIN"
  media_state >"$out/$name.before"
  # shellcheck disable=SC2046
  (cd "$dir" && record "$name" 60 $(program "$target" veltran) --trace="$out/$name.trace" "$@")
  if [ -f "$dir/VELTRAN.TMP" ]; then cp "$dir/VELTRAN.TMP" "$out/$name.log"; fi
  media_state >"$out/$name.after"
  restore_trays "$out/$name.before" "$out/$name.after"
}

# restore_trays BEFORE AFTER: closes again each tray that was closed before a case and is open
# after it, and lets the drive report its unit attention, so that the next run (of another
# target) finds the drives as this one did.
restore_trays() {
  local sg state
  while read -r sg state; do
    if [ "$state" = "tray closed medium yes" ] || [ "$state" = "tray closed medium no" ]; then
      if grep -q "^$sg tray open" "$2"; then
        sg_raw /dev/"$sg" 1b 00 00 00 03 00 >/dev/null 2>&1
        sg_turs -n 3 /dev/"$sg" >/dev/null 2>&1
      fi
    fi
  done <"$1"
}

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
  [ "$target" != "$c" ] || target=""
  case $c in
    inventory)
      {
        local sg sr dev
        while read -r sg sr; do
          dev=/sys/class/scsi_generic/$sg/device
          echo "$sg $sr $(cat "$dev/vendor")|$(cat "$dev/model")|$(cat "$dev/rev")"
        done < <(optical_nodes)
      } >"$out/inventory.out"
      # The transfer mode libata reports for each drive on an ATA port ("none" for the others):
      # the port from the device's path (.../ataP/hostH/targetH:C:T/H:C:T:L), the device from
      # its target (devP.T, or devP.C.T behind a port multiplier).
      {
        local path port address
        while read -r sg sr; do
          path=$(readlink -f "/sys/class/scsi_generic/$sg/device")
          port=$(echo "$path" | grep -o '/ata[0-9]*/' | tail -1 | tr -dc 0-9)
          address=(${path##*/})
          address=(${address//:/ })
          if [ -z "$port" ]; then
            echo "$sg none"
          elif [ -e "/sys/class/ata_link/link$port.${address[1]}" ]; then
            echo "$sg $(cat "/sys/class/ata_device/dev$port.${address[1]}.${address[2]}/xfer_mode")"
          else
            echo "$sg $(cat "/sys/class/ata_device/dev$port.${address[2]}/xfer_mode")"
          fi
        done < <(optical_nodes)
      } >"$out/transfer.out"
      echo "case inventory: $(wc -l <"$out/inventory.out") optical drive(s)" ;;
    sgraw)
      local sg sr
      while read -r sg sr; do
        record "sgraw-inquiry-scan.$sg" 30 sg_raw -r 36 -o "$out/sgraw-inquiry-scan.$sg.bin" /dev/"$sg" 12 00 00 00 24 00
        record "sgraw-inquiry.$sg" 30 sg_raw -r 96 -o "$out/sgraw-inquiry.$sg.bin" /dev/"$sg" 12 00 00 00 60 00
        record "sgraw-identify.$sg" 30 sg_raw -r 8 /dev/"$sg" ff 00 ff 00 00 00 00 00 00 00 00 aa
        record "sgraw-tur.$sg" 30 sg_raw /dev/"$sg" 00 00 00 00 00 00
        # The first VENDOR WRITE of a download, with the image's first 32 KB.
        if [ -f "$share/autorun.bin" ]; then
          head -c 32768 "$share/autorun.bin" >/tmp/block.bin
          record "sgraw-write.$sg" 30 sg_raw -s 32768 -i /tmp/block.bin /dev/"$sg" ff 00 01 00 00 00 00 00 00 00 00 00
        fi
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
    download-*-live:*) download "${c%%:*}" "$target" -LIVE ;;
    download-*-test:*) download "${c%%:*}" "$target" -TEST ;;
    download-*:*) download "${c%%:*}" "$target" ;;
    eject)
      # Every tray opened, as a user who took the disc out leaves it.
      local sg sr
      while read -r sg sr; do
        sg_raw /dev/"$sg" 1b 00 00 00 02 00 >/dev/null 2>&1
      done < <(optical_nodes)
      media_state >"$out/eject.after"
      echo "case eject: $(tr '\n' ';' <"$out/eject.after")" ;;
    *)
      if [ "$emulated" != 1 ] || ! run_target_case "$c"; then
        echo "case $c: unknown" | tee "$out/$c.err"
        echo 127 >"$out/$c.rc"
      fi ;;
  esac
}

if [ "$emulated" = 1 ]; then
  # shellcheck source=guest-target.sh
  . "$(dirname "$0")/guest-target.sh"
fi

echo "shape $shape: $(optical_nodes | tr '\n' ' ')"
for c in ${cases//,/ }; do
  run_case "$c"
done
echo done >"$out/finished"
