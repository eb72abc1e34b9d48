#!/usr/bin/env bash
# Runs packages for real: builds them with veltran-pack, starts them, and checks what they
# leave in the system directory and that the tool they start runs there.
#   run_package.sh native LAUNCHER PACK FAKE_TOOL
#   run_package.sh wine   LAUNCHER.exe PACK.exe FAKE_TOOL.exe ARCH   (ARCH: i686 or x86_64)
set -euo pipefail
mode=$1 launcher=$2 pack=$3 tool=$4 arch=${5:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ "$mode" = native ]; then
  # The launcher runs as root and installs only into a folder that root alone can change, from
  # the root folder down; attackers are played by an unprivileged user.
  [ "$(id -u)" -eq 0 ] || fail "native package runs need root"
  work=$(mktemp -d /unfurler-test.XXXXXX)
  chmod 755 "$work"
else
  work=$(mktemp -d)
fi
cleanup() {
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
  [ "$mode" = wine ] && rm -f "$sysdir/autorun.bin" "$sysdir/VELTRAN.exe" "$sysdir/unfurler-tool-ran.txt"
  return 0
}
trap cleanup EXIT
cd "$work"

# An image the flash tool accepts: 128 KB, trailer header with 4 blocks of 32 KB.
make_image() {
  python3 - "$1" "$2" <<'PY'
import sys
size = 131072
data = bytearray((i * 7) & 0xFF for i in range(size))
header = b"BRELMONTCDW/DVD GA-W837C" + sys.argv[2].encode() + bytes([32, 4, 1, 0]) + b"NA "
data[size - 48:size - 48 + 35] = header
open(sys.argv[1], "wb").write(data)
PY
}

run() {  # runs a program of the build under test
  if [ "$mode" = wine ]; then "$top/scripts/wine-run" "$@"; else "$@"; fi
}

if [ "$mode" = wine ]; then
  export WINEPREFIX=${WINEPREFIX:-$top/build/wine-prefix}
  sysdir=$WINEPREFIX/drive_c/windows/system32
  # A 32-bit program's system32 is syswow64 in a 64-bit prefix.
  [ "$arch" = i686 ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] && sysdir=$WINEPREFIX/drive_c/windows/syswow64
  ext=.exe
  # Windows test runs of several presets share the prefix's system directory.
  exec 9>"$WINEPREFIX-unfurler.lock"
  flock 9
else
  sysdir=$work/system
  mkdir -p "$sysdir"
  export UNFURLER_SYSTEM_DIR=$sysdir
  ext=
fi
rm -f "$sysdir/autorun.bin" "$sysdir/VELTRAN.exe" "$sysdir/unfurler-tool-ran.txt"

cp "$launcher" "launcher$ext"
mkdir -p first second run evil
make_image first/NA01.BIN NA01
make_image second/NA02.BIN NA02
cp "$tool" first/VELTRAN.exe
{ cat "$tool"; printf 'second build of the tool'; } > second/VELTRAN.exe

# Runs package $1 from folder $4 (default run/) and checks the installation against image $2,
# tool $3.
install_and_check() {
  local package=$1 image=$2 tool=$3 from=${4:-run}
  rm -f "$sysdir/unfurler-tool-ran.txt"
  (cd "$from" && run "$work/$package") || fail "$package: exit code $?"
  cmp -s "$sysdir/autorun.bin" "$image" || fail "$package: autorun.bin differs from $image"
  cmp -s "$sysdir/VELTRAN.exe" "$tool" || fail "$package: VELTRAN.exe differs from $tool"
  [ -z "$(ls -A run)" ] || fail "$package: temporaries left in the current directory: $(ls -A run)"
  leftovers=$(cd "$sysdir" && ls -A | grep -i '^[.~]unfurler-' || true)
  [ -z "$leftovers" ] || fail "$package: left in the system directory: $leftovers"
  for _ in $(seq 1 120); do
    [ -s "$sysdir/unfurler-tool-ran.txt" ] && break
    sleep 0.5
  done
  [ -s "$sysdir/unfurler-tool-ran.txt" ] || fail "$package: the tool did not run"
  local record
  record=$(tr -d '\r' < "$sysdir/unfurler-tool-ran.txt")
  grep -qx "image=yes" <<<"$record" || fail "$package: the tool found no image: $record"
  local cwd
  cwd=$(sed -n 's/^cwd=//p' <<<"$record")
  if [ "$mode" = wine ]; then
    [ "${cwd,,}" = 'c:\windows\system32' ] || fail "$package: tool ran in $cwd"
  else
    [ "$cwd" = "$sysdir" ] || fail "$package: tool ran in $cwd"
  fi
  echo "ok: $package installed and started the tool in $cwd"
}

run "$pack" build --launcher "launcher$ext" --image first/NA01.BIN --tool first/VELTRAN.exe -o "package1$ext"
run "$pack" build --launcher "launcher$ext" --image second/NA02.BIN --tool second/VELTRAN.exe -o "package2$ext"
# unzip warns about the launcher in front of the archive (exit code 1) and must find no error.
tested=$(unzip -t "package1$ext" 2>&1) || [ $? -eq 1 ] || fail "unzip -t: $tested"
grep -q "No errors detected" <<<"$tested" || fail "unzip -t rejects the package: $tested"

install_and_check "package1$ext" first/NA01.BIN first/VELTRAN.exe
# The second run replaces the read-only tool copy of the first.
install_and_check "package2$ext" second/NA02.BIN second/VELTRAN.exe

# An attacker process renames its own files over the entries' names in the start folder for as
# long as the package runs; the package's own files must be the ones installed.
printf 'the attacker' > evil.txt
(
  cd run
  for n in $(seq 1 100000); do
    cp ../evil.txt ".a$n" && mv -f ".a$n" VELTRAN.exe
    cp ../evil.txt ".b$n" && mv -f ".b$n" NA01.BIN
  done
) &
attacker=$!
rm -f "$sysdir/unfurler-tool-ran.txt"
(cd run && run "$work/package1$ext") || { kill "$attacker"; fail "race: exit code $?"; }
kill "$attacker"
wait "$attacker" 2>/dev/null || true
# The tool this run started must be done before a later step looks for a tool that ran.
for _ in $(seq 1 120); do
  [ -s "$sysdir/unfurler-tool-ran.txt" ] && break
  sleep 0.5
done
cmp -s "$sysdir/autorun.bin" first/NA01.BIN || fail "race: autorun.bin was swapped"
cmp -s "$sysdir/VELTRAN.exe" first/VELTRAN.exe || fail "race: VELTRAN.exe was swapped"
rm -rf run && mkdir run
echo "ok: files swapped in the start folder were not installed"

# Started from the system directory itself, as an elevated prompt would start it.
install_and_check "package2$ext" second/NA02.BIN second/VELTRAN.exe "$sysdir"

# A damaged image over an earlier installation: nothing new lands, the old image is removed,
# nothing starts, and the exit code says why.
launcher_size=$(stat -c %s "launcher$ext")
cp "package1$ext" "damaged$ext"
printf '\xff\xff\xff\xff' | dd of="damaged$ext" bs=1 seek=$((launcher_size + 38 + 100)) conv=notrunc 2>/dev/null
rm -f "$sysdir/unfurler-tool-ran.txt"
status=0
(cd run && run "$work/damaged$ext") || status=$?
[ "$status" -eq 1 ] || fail "damaged: exit code $status, expected 1"
[ ! -e "$sysdir/autorun.bin" ] || fail "damaged: an autorun.bin is left"
cmp -s "$sysdir/VELTRAN.exe" second/VELTRAN.exe || fail "damaged: VELTRAN.exe was replaced"
sleep 2
[ ! -e "$sysdir/unfurler-tool-ran.txt" ] || fail "damaged: the tool was started"
echo "ok: a damaged package placed nothing and started nothing"

if [ "$mode" = native ]; then
  # The package is swapped for another the moment it is executed: the running one installs.
  printf 'the attacker' > evil/VELTRAN.exe
  run "$pack" build --launcher launcher --image first/NA01.BIN --tool evil/VELTRAN.exe -o other
  mkdir -p swap
  for how in deleted rename exchange; do
    python3 "$top/tests/launcher/swap_running.py" "$how" 10 "$work/swap" "$work/package1" \
      "$work/other" "$sysdir" first/VELTRAN.exe || fail "swapped package ($how)"
  done

  # A system directory an unprivileged user could change, or a relative one (counted from the
  # start folder, the attacker's), is refused before anything is extracted: exit code 4, nothing
  # written there, nothing started.
  mkdir -p user/system rel/system owned tmp/system
  chown 65534:65534 user owned
  chmod 1777 tmp
  for setting in system "$work/owned" "$work/user/system" "$work/tmp/system"; do
    status=0
    (cd rel && UNFURLER_SYSTEM_DIR=$setting "$work/package1") || status=$?
    [ "$status" -eq 4 ] || fail "system directory $setting: exit code $status, expected 4"
  done
  sleep 1
  written=$(find rel owned user tmp -mindepth 1 ! -type d)
  [ -z "$written" ] || fail "refused system directories got files: $written"
  echo "ok: system directories others could change were refused"

  # A hostile package: names that climb out of the folder are never written or installed.
  rm -f "$sysdir/autorun.bin" "$sysdir/VELTRAN.exe"
  python3 - <<'PY'
import zipfile
with zipfile.ZipFile("hostile.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("../escape.bin", b"x" * 1000)
    z.writestr("sub/../../escape2.bin", b"y" * 1000)
    z.writestr("../VELTRAN.exe", b"z" * 1000)
PY
  cat launcher hostile.zip > hostile
  chmod +x hostile
  (cd run && "$work/hostile") || fail "hostile: exit code $?"
  [ ! -e escape.bin ] && [ ! -e escape2.bin ] && [ ! -e VELTRAN.exe ] || fail "hostile: wrote outside"
  [ ! -e "$sysdir/autorun.bin" ] && [ ! -e "$sysdir/VELTRAN.exe" ] || fail "hostile: installed"
  echo "ok: hostile package wrote nothing"
fi
echo "package runs passed ($mode)"
