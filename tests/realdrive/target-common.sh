# What the emulated drive's shapes (shapes/target*.sh) share: no drive of QEMU's, one emulated
# drive that the guest's kernel serves through its SCSI target (the user-space back end and the
# loopback fabric) from veltran-emulate, our drive model. Each case starts a program of its own
# for the drive (it takes the device over from the one before), with the scenario and image that
# `prepare` leaves in the share. Sourced by the shape files.
drives=()
emulated=1
optical=1   # the emulated drive: /dev/sr0 in the guest, d: for Wine
checker=check_target.py

# prepare SHARE: the scenarios and images of the cases, in SHARE/target.
prepare() {
  local dir=$1/target make=$top/scripts/make-test-image
  mkdir -p "$dir"
  python3 "$make" --size 1048576 --blocks 32 --revision NA01 -o "$dir/block.bin"
  python3 "$make" --size 4194304 --blocks 128 --revision NA05 -o "$dir/bench.bin"
  python3 "$make" --size 65536 --blocks 2 --revision NA02 -o "$dir/k64.bin"
  python3 "$make" --fixed-header --size 98304 --blocks 0 --revision NA03 -o "$dir/fixed.bin"
  # Three commands: 32 KB (code 00), 32 KB (code ff), then the final 16 KB (code 10).
  python3 "$make" --size 81920 --blocks 3 --revision NA04 -o "$dir/small.bin"
  local drive='"letter": "d", "inquiry": {"peripheral": 5, "vendor": "BRELMONT",
      "product": "CDW/DVD GA-W837C", "revision": "NA00", "prefix": "NA "},
      "vendor_identify_prefix": "KVR"'
  scenario() {  # scenario NAME EXTRA: a one-drive machine with the drive above and EXTRA
    printf '{"platform": "linux", "drives": [{%s, %s}]}\n' "$drive" "$2" >"$dir/$1.json"
  }
  scenario plain '"program_seconds": 2'
  scenario lock '"program_seconds": 6'
  scenario attention '"program_seconds": 2, "unit_attention_after_download": true'
  scenario gone-block '"faults": [{"cdb": "ff00010000ff", "at": 1, "status": "gone"}]'
  scenario hold-block '"faults": [{"cdb": "ff00010000ff", "at": 1, "status": "timeout"}]'
  scenario hold-final '"faults": [{"cdb": "ff0001000010", "at": 1, "status": "timeout"}]'
}
