# The cases of the emulated drive (the shapes target and target-wine), sourced by guest.sh:
# the drive is veltran-emulate behind the guest kernel's SCSI target. Each case leaves, beside
# the tool's output, trace and log, the drive's own log of the commands it saw during the case
# (NAME-TARGET.drive) and the names of the images it received whole (NAME-TARGET.images).
emulated_dir=$out/emulate
drive_log=$emulated_dir/drive0.log

# True while the process runs (a zombie has ended).
running() { [ -d "/proc/$1" ] && ! grep -q ') Z ' "/proc/$1/stat" 2>/dev/null; }

# start_emulator SCENARIO [OPTION...]: a program for the drive; waits until it serves.
start_emulator() {
  local scenario=$1 waited=0
  shift
  : >/tmp/emulate.out
  "$native_bin/veltran-emulate" "$scenario" --name drive0 --out "$emulated_dir" "$@" \
    >/tmp/emulate.out 2>>"$emulated_dir/stderr" &
  echo $! >/tmp/emulate.pid
  until grep -q -E 'serving|attached' /tmp/emulate.out; do
    running "$(cat /tmp/emulate.pid)" && [ $waited -lt 300 ] || { echo "emulator did not start"; return 1; }
    sleep 0.1
    waited=$((waited + 1))
  done
}

stop_emulator() {  # within 30 s, or it is killed
  local pid waited=0
  pid=$(cat /tmp/emulate.pid 2>/dev/null) || return 0
  kill -TERM "$pid" 2>/dev/null
  while running "$pid"; do
    [ $waited -lt 600 ] || { kill -KILL "$pid"; echo "emulator did not end"; }
    sleep 0.05
    waited=$((waited + 1))
  done
}

# serve NAME: the drive now runs the scenario NAME of the share (a new program takes it over).
serve() {
  stop_emulator
  start_emulator "$share/target/$1.json" --take-over --keep
}

drive_node() { optical_nodes | head -1; }

# flash NAME TARGET IMAGE [OPTION...]: the flash tool started where IMAGE lies as AUTORUN.BIN.
flash() {
  local name=$1-$2 target=$2 image=$3 dir lines
  shift 3
  dir=/tmp/run-$name
  rm -rf "$dir" "$out/$name.trace"
  mkdir -p "$dir"
  cp "$share/target/$image" "$dir/AUTORUN.BIN"
  lines=$(wc -l <"$drive_log")
  ls "$emulated_dir" | grep image | sort >/tmp/images.before
  # shellcheck disable=SC2046
  (cd "$dir" && record "$name" 150 $(program "$target" veltran) --trace="$out/$name.trace" "$@")
  if [ -f "$dir/VELTRAN.TMP" ]; then cp "$dir/VELTRAN.TMP" "$out/$name.log"; fi
  ls "$emulated_dir" | grep image | sort | comm -13 /tmp/images.before - >"$out/$name.images"
  tail -n +$((lines + 1)) "$drive_log" >"$out/$name.drive"
}

probe() {  # probe NAME TARGET: veltran-probe's report of the drive, and what the drive saw
  local lines
  lines=$(wc -l <"$drive_log")
  rm -f "$out/$1-$2.trace"
  # shellcheck disable=SC2046
  record "$1-$2" 120 $(program "$2" veltran-probe) --trace="$out/$1-$2.trace"
  tail -n +$((lines + 1)) "$drive_log" >"$out/$1-$2.drive"
}

# usable NAME: whether the drive answers TEST UNIT READY afterwards (not ready: no disc).
usable() {
  local sg sr
  read -r sg sr < <(drive_node)
  record "$1-usable" 30 sg_turs "/dev/$sg"
}

target_up() {
  mkdir -p "$emulated_dir"
  : >"$drive_log"
  local t0
  t0=$(cut -d' ' -f1 /proc/uptime)
  modprobe -a configfs uio target_core_mod target_core_user tcm_loop || echo "modprobe failed"
  mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
  start_emulator "$share/target/plain.json" --keep
  local waited=0
  until [ -n "$(drive_node)" ] || [ $waited -ge 300 ]; do sleep 0.1; waited=$((waited + 1)); done
  {
    echo "boot-to-ready $(cut -d' ' -f1 /proc/uptime)"
    echo "modules-to-ready $(awk -v t0="$t0" '{ printf "%.2f", $1 - t0 }' /proc/uptime)"
    echo "node $(drive_node)"
    echo "polling $(cat "/sys/block/$(drive_node | cut -d' ' -f2)/events_poll_msecs" 2>/dev/null)"
  } >"$out/target-up.out"
  cat "$out/target-up.out"
}

# The second open of the drive while the tool holds it, and again after the tool has ended.
lock_case() {
  local sg sr waited=0
  read -r sg sr < <(drive_node)
  serve lock
  local lines
  lines=$(wc -l <"$drive_log")
  flash lock native small.bin -LIVE &
  local pid=$!
  until tail -n +$((lines + 1)) "$drive_log" | grep -q ' ff0001'; do
    [ $waited -lt 300 ] || break
    sleep 0.1
    waited=$((waited + 1))
  done
  sg_turs "/dev/$sg" >"$out/lock-during.out" 2>&1
  echo $? >"$out/lock-during.rc"
  wait "$pid"
  sg_turs "/dev/$sg" >"$out/lock-after.out" 2>&1
  echo $? >"$out/lock-after.rc"
}

polling_case() {
  local sg sr setting
  read -r sg sr < <(drive_node)
  setting=/sys/block/$sr/events_poll_msecs
  cat "$setting" >"$out/polling-before.setting"
  serve plain
  echo 500 >"$setting"
  sleep 1.5  # the kernel polls a few times before the tool starts
  flash polling native block.bin -LIVE
  cat "$setting" >"$out/polling-after.setting"
  echo "$(cat "$out/polling-before.setting")" >"$setting"
}

gone_case() {
  serve gone-block
  local pid
  pid=$(cat /tmp/emulate.pid)
  # A new program takes the drive over as soon as the one whose firmware stopped has ended.
  (
    while running "$pid"; do sleep 0.05; done
    start_emulator "$share/target/plain.json" --take-over --keep
  ) &
  local watcher=$!
  flash gone-block "$1" small.bin -LIVE
  wait "$watcher"
  usable "gone-block-$1"
}

# The block phase of the tool (as users run it: no trace) and of a bare SG_IO loop, sent the
# same blocks, each twice in turn so that neither is the first to touch the kernel's buffers.
bench_case() {
  local sg sr round lines dir=/tmp/run-bench
  read -r sg sr < <(drive_node)
  mkdir -p "$dir"
  cp "$share/target/bench.bin" "$dir/AUTORUN.BIN"
  for round in 1 2; do
    serve plain
    lines=$(wc -l <"$drive_log")
    (cd "$dir" && rm -f VELTRAN.TMP && record "bench-tool-$round" 120 "$native_bin/veltran" -LIVE)
    tail -n +$((lines + 1)) "$drive_log" >"$out/bench-tool-$round.drive"
    serve plain
    lines=$(wc -l <"$drive_log")
    record "bench-bare-$round" 120 "$native_bin/realdrive-blocks" "/dev/$sg" "$dir/AUTORUN.BIN" 32
    tail -n +$((lines + 1)) "$drive_log" >"$out/bench-bare-$round.drive"
  done
}

# The last program for the drive ends without --keep: the drive and its entries are gone after.
remove_case() {
  stop_emulator
  start_emulator "$share/target/plain.json" --take-over
  stop_emulator
  {
    echo "nodes $(optical_nodes | wc -l)"
    echo "devices $(ls /sys/kernel/config/target/core/user_1 2>/dev/null | grep -c drive0)"
    echo "ports $(ls /sys/kernel/config/target/loopback 2>/dev/null | grep -c naa)"
  } >"$out/remove-native.out"
  cat "$out/remove-native.out"
}

run_target_case() {
  local c=$1 target=${1#*:}
  [ "$target" != "$c" ] || target=""
  case $c in
    target-up) target_up ;;
    flash-block:*) serve plain && flash flash-block "$target" block.bin -LIVE ;;
    flash-k64:*) serve plain && flash flash-k64 "$target" k64.bin -LIVE ;;
    flash-fixed:*)
      serve plain && flash flash-fixed "$target" fixed.bin -LIVE
      probe probe-after "$target" ;;
    attention:*)
      serve attention && flash attention "$target" small.bin -LIVE
      probe probe-attention "$target" ;;
    gone-block:*) gone_case "$target" ;;
    lock-native) lock_case ;;
    polling-native) polling_case ;;
    hold-block-native | hold-final-native)
      serve "${c%-native}" && flash "${c%-native}" native small.bin -LIVE
      usable "$c" ;;
    bench-native) bench_case ;;
    remove-native) remove_case ;;
    *) return 1 ;;
  esac
}
