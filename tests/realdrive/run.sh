#!/usr/bin/env bash
# Boots a Debian kernel under QEMU once per guest shape (tests/realdrive/shapes/*.sh), with
# emulated IDE and SCSI CD/DVD drives, runs the shape's cases in the guest (natively and, for the
# Windows builds, under Wine) and checks their results on the host (check.py).
#
# usage: run.sh [--targets "native win64 win32"] [--shape NAME]... [--accel auto|kvm|tcg]
#               [--work DIR] [--record]
# --record keeps the native results of each shape as its recorded run (recorded/SHAPE), the
# reference that later runs and the virtual drive model are compared with.
# Every boot, and every program in the guest, stops by itself within a bounded time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

targets="native win64 win32"
shapes=()
record=0
accel=${VELTRAN_REALDRIVE_ACCEL:-auto}
work=$top/build/realdrive
boot_limit=480     # seconds for one whole guest run (a shape may set its own `limit`): a shape with many Wine runs takes 4 minutes under TCG
first_sign=15      # seconds within which a KVM guest must print its first line

while [ $# -gt 0 ]; do
  case $1 in
    --targets) targets=$2; shift 2 ;;
    --shape) shapes+=("$2"); shift 2 ;;
    --accel) accel=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --record) record=1; shift ;;
    *) echo "usage: $0 [--targets LIST] [--shape NAME]... [--accel auto|kvm|tcg] [--work DIR]" >&2; exit 2 ;;
  esac
done
if [ ${#shapes[@]} -eq 0 ]; then
  # Shapes with a time limit of their own run longest: they start first, the others beside them.
  for f in $(grep -l '^limit=' "$here"/shapes/*.sh) $(grep -L '^limit=' "$here"/shapes/*.sh); do
    shapes+=("$(basename "$f" .sh)")
  done
fi

fail() { echo "realdrive: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 sg_raw python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup"
done
[ -x /bin/busybox ] || fail "busybox-static is missing: run scripts/setup"
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -1)
[ -n "$kernel" ] || fail "no kernel in /boot: run scripts/setup (linux-image-amd64)"
release=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$release/kernel
[ -d "$modules" ] || fail "no modules for $release"

# The programs of each target; a requested target whose programs are missing is a failure.
declare -A bin
for t in $targets; do
  bin[$t]=$top/build/$t/bin
  suffix=""
  [ "$t" = native ] || suffix=.exe
  for p in veltran-probe realdrive-commands; do
    [ -f "${bin[$t]}/$p$suffix" ] || fail "${bin[$t]}/$p$suffix is missing: build the $t preset"
  done
done
# The flash tool runs the download cases. The native one is built with the rest; a Windows build
# may not have its window program yet: its download cases are then left out, and said so.
tool_targets=""
for t in $targets; do
  if [ "$t" = native ]; then
    [ -f "${bin[$t]}/veltran" ] || fail "${bin[$t]}/veltran is missing: build the native preset"
    tool_targets+=" $t"
  elif [ -f "${bin[$t]}/veltran.exe" ]; then
    tool_targets+=" $t"
  else
    echo "realdrive: NOT RUN: the download cases for $t (${bin[$t]}/veltran.exe is not built)"
  fi
done
tool_targets=${tool_targets# }

mkdir -p "$work"
# Each shape boots on a writable share of its own (its job, its results, its copy of the Wine
# prefix), so that the shapes can run side by side.
rm -rf "$work/share"

# --- the initramfs: busybox, the drivers and /init ---
initrd=$work/initramfs.cpio.gz
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,modules,proc,sys,dev,host}
cp /bin/busybox "$root/bin/busybox"
cp "$here/init" "$root/init"
for m in scsi_common scsi_mod cdrom sr_mod libata ata_piix virtio_ring virtio \
    virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_scsi netfs fscache \
    9pnet 9pnet_virtio 9p sg; do
  file=$(find "$modules" -name "$m.ko*" | head -1)
  [ -n "$file" ] || fail "module $m not found under $modules"
  case $file in
    *.ko.xz) xz -dc "$file" >"$root/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$file" >"$root/modules/$m.ko" ;;
    *) cp "$file" "$root/modules/$m.ko" ;;
  esac
done
(cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$initrd")

# --- a disc for the drives that hold one: any whole number of 2048-byte sectors will do ---
disc=$work/disc.iso
[ -f "$disc" ] || head -c $((2048 * 512)) /dev/zero >"$disc"

# --- the Wine prefix, made here once and copied onto each shape's share ---
prefix=$work/prefix
wine_targets=""
for t in $targets; do [ "$t" = native ] || wine_targets+=" $t"; done
if [ -n "$wine_targets" ]; then
  command -v wine >/dev/null || fail "wine is missing: run scripts/setup"
  if [ ! -f "$prefix/.veltran-ready" ]; then
    echo "realdrive: making the Wine prefix"
    rm -rf "$prefix"
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    timeout 180 wine wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
    for letter in d e f g h i j k; do
      # The 64-bit reg: the 32-bit one writes beneath Wow6432Node, where Wine does not look.
      timeout 60 /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f >/dev/null 2>&1 ||
        fail "cannot mark $letter: as a CD drive"
    done
    timeout 60 /usr/lib/wine/wineserver64 -w 2>/dev/null || timeout 60 /usr/lib/wine/wineserver -w || true
    unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
    touch "$prefix/.veltran-ready"
  fi
fi

# map_letters SHARE COUNT: maps the letters d: onwards of the share's prefix to the guest's
# /dev/sr0 onwards, one per optical drive of the shape.
map_letters() {
  local share=$1 count=$2 i letters=(d e f g h i j k)
  rm -f "$share"/prefix/dosdevices/[d-k]:*
  for ((i = 0; i < count; i++)); do
    ln -s "/dev/sr$i" "$share/prefix/dosdevices/${letters[$i]}::"
    mkdir -p "$share/cd-${letters[$i]}"
    ln -s "../../cd-${letters[$i]}" "$share/prefix/dosdevices/${letters[$i]}:"
  done
}

# boot SHAPE ACCEL SHARE: one guest run; returns 3 when ACCEL gave no sign of life in time.
boot() {
  local shape=$1 how=$2 share=$3 log=$work/$1.console
  local -a qemu=(qemu-system-x86_64 -accel "$how" -m 1024 -smp 1 -nodefaults -no-reboot
    -display none -serial "file:$log" -kernel "$kernel" -initrd "$initrd"
    -append "console=ttyS0 panic=-1 loglevel=4 veltran.script=$here/guest.sh veltran.top=$top $append"
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap
    -virtfs "local,path=$share,mount_tag=share,security_model=none"
    "${drives[@]}")
  : >"$log"
  timeout -k 5 "${limit:-$boot_limit}" "${qemu[@]}" &
  local pid=$! waited=0
  if [ "$how" = kvm ]; then
    while ! grep -q "veltran-guest: up" "$log" 2>/dev/null; do
      if ! kill -0 "$pid" 2>/dev/null || [ $waited -ge $first_sign ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return 3
      fi
      sleep 1
      waited=$((waited + 1))
    done
  fi
  local rc=0
  wait "$pid" || rc=$?
  [ $rc -eq 0 ] || echo "realdrive: qemu ended with $rc (124: the guest ran out of time)"
  return 0
}

if [ "$accel" = auto ]; then
  if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then accel=kvm-try; else accel=tcg; fi
fi

# keep_only LIST ONLY: the words of LIST that ONLY names too.
keep_only() {
  local t kept=""
  for t in $1; do
    case " $2 " in *" $t "*) kept+=" $t" ;; esac
  done
  echo "${kept# }"
}
targets_all=$targets
tool_targets_all=$tool_targets

# run_shape SHAPE ACCEL: boots the shape's guest, keeps its results under $work/results/SHAPE
# and checks them; fails when the guest did not finish or a check fails.
run_shape() {
  local shape=$1 accel=$2 share=$work/share-$1 file=$here/shapes/$1.sh c t ext
  local -a drives=() cases=() image=()
  local append="" job_cases="" count t0 emulated=0 optical="" checker=check.py limit="" only=""
  unset -f prepare
  # shellcheck source=/dev/null
  . "$file"
  # A shape may run for some of the targets only (`only`): the others run it in another shape.
  if [ -n "$only" ]; then
    local targets tool_targets
    targets=$(keep_only "${targets_all}" "$only")
    tool_targets=$(keep_only "${tool_targets_all}" "$only")
    if [ -z "$tool_targets" ]; then
      echo "realdrive: $shape: not run (none of its targets, $only, is requested)"
      return 0
    fi
  fi
  for c in "${cases[@]}"; do
    case $c in
      scan | units) for t in $targets; do job_cases+="$c:$t,"; done ;;
      download-*-live | download-*-test | flash-* | attention | gone-block)
        for t in $tool_targets; do job_cases+="$c:$t,"; done ;;
      # Without a test option the window waits for its user after a box, and the guest has
      # none: only the console program, which ends with its input, runs these.
      download-*) case " $tool_targets " in *" native "*) job_cases+="$c:native," ;; esac ;;
      *) job_cases+="$c," ;;
    esac
  done
  rm -rf "$share" "$work/results/$shape"
  mkdir -p "$share"
  if [ -n "$wine_targets" ]; then
    cp -a "$prefix" "$share/prefix"
    count=${optical:-$(printf '%s\n' "${drives[@]}" | grep -c 'media=cdrom' || true)}
    map_letters "$share" "$count"
  fi
  # The shape's image for the download cases (make-test-image arguments).
  if [ ${#image[@]} -gt 0 ]; then
    python3 "$top/scripts/make-test-image" "${image[@]}" -o "$share/autorun.bin" ||
      fail "$shape: cannot make its image"
  fi
  if declare -F prepare >/dev/null; then prepare "$share" || fail "$shape: cannot prepare its share"; fi
  cat >"$share/job.sh" <<JOB
shape=$shape
emulated=$emulated
cases=${job_cases%,}
native_bin=${bin[native]:-$top/build/native/bin}
win64_bin=${bin[win64]:-}
win32_bin=${bin[win32]:-}
JOB
  t0=$(date +%s)
  if [ "$accel" = kvm-try ]; then
    if boot "$shape" kvm "$share"; then
      accel=kvm
    else
      echo "realdrive: $shape: KVM gave no sign of life within $first_sign s: using TCG"
      accel=tcg
      boot "$shape" tcg "$share"
    fi
  else
    boot "$shape" "$accel" "$share"
  fi
  echo "realdrive: $shape ran in $(( $(date +%s) - t0 )) s under ${accel^^}"
  # The copy of the prefix is only needed while the guest runs.
  rm -rf "$share/prefix"
  mkdir -p "$work/results"
  if [ -d "$share/results" ]; then mv "$share/results" "$work/results/$shape"; fi
  if [ ! -f "$work/results/$shape/finished" ]; then
    echo "FAIL: $shape: the guest did not finish its cases; console:"
    tail -30 "$work/$shape.console"
    return 1
  fi
  if [ -f "$share/autorun.bin" ]; then cp "$share/autorun.bin" "$work/results/$shape/autorun.bin"; fi
  if [ $record = 1 ]; then
    mkdir -p "$here/recorded/$shape"
    for c in scan units; do
      for ext in out trace; do
        tr -d '\r' <"$work/results/$shape/$c-native.$ext" >"$here/recorded/$shape/$c.$ext"
      done
    done
    rm -f "$here/recorded/$shape"/download-* "$here/recorded/$shape/image.args"
    for c in "${cases[@]}"; do
      case $c in
        download-*)
          for ext in out trace log before; do
            [ ! -f "$work/results/$shape/$c-native.$ext" ] ||
              tr -d '\r' <"$work/results/$shape/$c-native.$ext" >"$here/recorded/$shape/$c.$ext"
          done ;;
      esac
    done
    if [ ${#image[@]} -gt 0 ]; then printf '%s\n' "${image[@]}" >"$here/recorded/$shape/image.args"; fi
    echo "realdrive: $shape recorded in $here/recorded/$shape"
  fi
  if [ "$checker" != check.py ]; then
    python3 "$here/$checker" --results "$work/results/$shape" --targets "$tool_targets" \
      --bin "${bin[native]:-$top/build/native/bin}" --cases "${cases[*]}" --share "$share/target"
    return
  fi
  python3 "$here/check.py" --shape "$shape" --results "$work/results/$shape" \
    --recorded "$here/recorded/$shape" --targets "$targets" --tool-targets "$tool_targets" \
    --cases "${cases[*]}"
}

for shape in "${shapes[@]}"; do
  [ -f "$here/shapes/$shape.sh" ] || fail "no shape $shape"
done
# The guests run side by side, as many at a time as the host has processors (each guest has
# one); the output of each is printed whole once it has ended.
parallel=$(nproc)
pids=() order=() next=0 status=0
collect_next() {  # waits for the oldest running shape and prints its output
  local rc=0
  wait "${pids[$next]}" || rc=$?
  cat "$work/${order[$next]}.log"
  [ $rc -eq 0 ] || status=1
  next=$((next + 1))
}
for shape in "${shapes[@]}"; do
  while [ $((${#pids[@]} - next)) -ge "$parallel" ]; do collect_next; done
  run_shape "$shape" "$accel" >"$work/$shape.log" 2>&1 &
  pids+=($!)
  order+=("$shape")
done
while [ $next -lt ${#pids[@]} ]; do collect_next; done
exit $status
