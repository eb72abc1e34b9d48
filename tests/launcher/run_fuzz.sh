#!/usr/bin/env bash
# Runs the archive reader's fuzz target for a fixed number of inputs, starting from archives
# made by Python's zipfile (stored, deflated, with timestamps, folders and a prefix).
#   run_fuzz.sh FUZZER RUNS
set -euo pipefail
fuzzer=$1 runs=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
python3 - "$work/corpus" <<'PY'
import io, sys, zipfile, time
out = sys.argv[1]
def archive(name, method, entries, prefix=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        for entry, data in entries:
            info = zipfile.ZipInfo(entry, time.localtime(1500000000)[:6])
            info.compress_type = method
            info.external_attr = 0x20
            if entry.endswith("/"):
                info.external_attr = 0x10
            z.writestr(info, data)
    open(f"{out}/{name}", "wb").write(prefix + buffer.getvalue())
archive("stored", zipfile.ZIP_STORED, [("fw.bin", b"\x00\x01" * 300), ("VELTRAN.exe", b"MZ" * 50)])
archive("deflated", zipfile.ZIP_DEFLATED, [("fw.bin", bytes(range(256)) * 8), ("VELTRAN.exe", b"MZ" * 500)])
archive("folders", zipfile.ZIP_DEFLATED, [("a/", b""), ("a/b/c.bin", b"abc" * 100), ("../x.bin", b"x")])
archive("prefixed", zipfile.ZIP_DEFLATED, [("fw.BIN", b"z" * 2000)], prefix=b"MZ" + bytes(500))
archive("empty", zipfile.ZIP_STORED, [])
PY
status=0
"$fuzzer" -runs="$runs" -max_len=4096 -seed=1 -print_final_stats=1 "$work/corpus" \
  >"$work/log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  cat "$work/log"
else
  grep -E "^stat::|^Done" "$work/log"
fi
exit "$status"
