#!/usr/bin/env python3
"""Judges the results of one guest run (run.sh), or replays a recorded run against the virtual
drive model.

Live:   check.py --shape NAME --results DIR --recorded DIR --targets "native win64 win32"
Replay: check.py --replay --recorded DIR --bin DIR

A recorded run (tests/realdrive/recorded/SHAPE) holds what the real kernel's drives answered to the
native programs: the probe's report and trace (scan.out, scan.trace), the command run's output and
trace (units.out, units.trace), and scenario.json, the same drives described for the virtual
machine.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import zlib

UNITS_COMMANDS = ["tur", "identify", "eject", "tur", "inquiry"]
SCAN_INQUIRY = "120000002400"
LIST_INQUIRY = "120000006000000000000000"
VENDOR_IDENTIFY = "ff00ff0000000000000000aa"


class Checker:
    def __init__(self, label):
        self.label = label
        self.failures = 0
        self.notes = []

    def expect(self, ok, what):
        if not ok:
            self.failures += 1
            print(f"FAIL: {self.label}: {what}")
        return ok

    def note(self, what):
        if what not in self.notes:
            self.notes.append(what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def text(path):
    return read(path).decode("latin-1").replace("\r\n", "\n")


def escape(data):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else f"\\x{b:02x}" for b in data)


def trace_lines(path):
    return [line.split() for line in text(path).splitlines() if line.strip()]


def compare_traces(check, what, a, b):
    """Equal command for command. Where only the data after a failed command differs, the
    difference is the platform's (what its pass-through leaves in the buffer), noted, not failed."""
    if not check.expect(len(a) == len(b), f"{what}: {len(a)} and {len(b)} lines"):
        return
    for i, (x, y) in enumerate(zip(a, b)):
        if x == y:
            continue
        if x[:-1] == y[:-1] and len(x) == 7 and x[5] != "01":
            check.note(f"{what}: the data buffer after a failed command ({x[2]}, status {x[5]}) "
                       f"differs: {x[6]} and {y[6]}")
            continue
        check.expect(False, f"{what}: line {i + 1}: '{' '.join(x)}' and '{' '.join(y)}'")


def compare_text(check, what, a, b):
    if a == b:
        return
    la, lb = a.splitlines(), b.splitlines()
    for i in range(max(len(la), len(lb))):
        x = la[i] if i < len(la) else "<none>"
        y = lb[i] if i < len(lb) else "<none>"
        if x != y:
            check.expect(False, f"{what}: line {i + 1}: '{x}' and '{y}'")
            return


def parse_units(out):
    """{device: [(command, status, sense, data), ...]} from realdrive-commands output."""
    result = {}
    for line in out.splitlines()[1:]:
        words = line.split()
        device, command, status = int(words[1]), words[2].rstrip(":"), words[4]
        sense = words[words.index("sense") + 1] if "sense" in words else None
        data = words[words.index("data") + 1] if "data" in words else None
        result.setdefault(device, []).append((command, status, sense, data))
    return result


def check_live(args):
    check = Checker(args.shape)
    results = args.results
    targets = args.targets.split()
    inventory = [line.split(" ", 2) for line in text(f"{results}/inventory.out").splitlines()]
    count = len(inventory)
    check.expect(count > 0, "the guest found no optical drive")

    inquiry_scan, inquiry = [], []
    for sg, _, _ in inventory:
        inquiry_scan.append(read(f"{results}/sgraw-inquiry-scan.{sg}.bin"))
        inquiry.append(read(f"{results}/sgraw-inquiry.{sg}.bin").ljust(96, b"\0"))
        identify = text(f"{results}/sgraw-identify.{sg}.err")
        check.expect("Check Condition" in identify and "Invalid command operation code" in identify,
                     f"sg_raw: {sg} did not reject VENDOR IDENTIFY as an unknown command")

    for target in targets:
        for case in ("scan", "units"):
            rc = text(f"{results}/{case}-{target}.rc").strip()
            check.expect(rc == "0", f"{case} {target}: exit status {rc}: "
                         + text(f"{results}/{case}-{target}.err")[-300:])

        # The probe's report: every drive, in order, with the identity its own INQUIRY gives.
        report = text(f"{results}/scan-{target}.out")
        lines = report.splitlines()
        check.expect(lines[:1] == [f"{count} drive(s) found"], f"scan {target}: first line {lines[:1]}")
        entries = [line for line in lines if line.startswith("Drive ")]
        prefixes = [line for line in lines if line.startswith("  prefix")]
        check.expect(len(entries) == count, f"scan {target}: {len(entries)} drives listed of {count}")
        for i, (sg, _, sysfs) in enumerate(inventory):
            expected = f"Drive {i} (device {i}): {escape(inquiry[i][8:36])}"
            check.expect(i < len(entries) and entries[i] == expected,
                         f"scan {target}: entry {i} is not '{expected}'")
            check.expect(escape(inquiry[i][8:36]) == sysfs.replace("|", ""),
                         f"{sg}: sg_raw's INQUIRY and the kernel's identity differ")
            check.expect(i < len(prefixes) and prefixes[i].endswith("(from INQUIRY)"),
                         f"scan {target}: drive {i}: prefix not taken from INQUIRY")

        # The scan's data equals what sg_raw reads; VENDOR IDENTIFY is rejected by every drive.
        trace = trace_lines(f"{results}/scan-{target}.trace")
        for i in range(count):
            mine = [t for t in trace if t[1] == str(i)]
            scan = [t for t in mine if t[2] == SCAN_INQUIRY]
            listed = [t for t in mine if t[2] == LIST_INQUIRY]
            identify = [t for t in mine if t[2] == VENDOR_IDENTIFY]
            crc = f"{zlib.crc32(inquiry_scan[i]):08x}"
            check.expect(len(scan) == 1 and scan[0][5:] == ["01", crc],
                         f"scan {target}: drive {i}: scan INQUIRY {scan} is not sg_raw's (crc {crc})")
            crc = f"{zlib.crc32(inquiry[i]):08x}"
            check.expect(len(listed) == 1 and listed[0][5:] == ["01", crc],
                         f"scan {target}: drive {i}: list INQUIRY {listed} is not sg_raw's (crc {crc})")
            check.expect(len(identify) == 1 and identify[0][5] == "04",
                         f"scan {target}: drive {i}: VENDOR IDENTIFY {identify} was not rejected")

        # TEST UNIT READY, VENDOR IDENTIFY, the eject, INQUIRY, as sg_raw sees the same drives.
        units = parse_units(text(f"{results}/units-{target}.out"))
        for i, (sg, _, _) in enumerate(inventory):
            got = units.get(i, [])
            if not check.expect([g[0] for g in got] == UNITS_COMMANDS,
                                f"units {target}: drive {i}: commands {[g[0] for g in got]}"):
                continue
            tur_rc = text(f"{results}/sgraw-tur.{sg}.rc").strip()
            tur_err = text(f"{results}/sgraw-tur.{sg}.err")
            if tur_rc == "0":
                check.expect(got[0][1] == "01", f"units {target}: drive {i}: ready for sg_raw, not for us")
            else:
                check.expect(got[0][1] == "04" and got[0][2].startswith("02/3a/")
                             and "Medium not present" in tur_err,
                             f"units {target}: drive {i}: TEST UNIT READY {got[0]}, sg_raw: {tur_err!r}")
            check.expect(got[1][1:3] == ("04", "05/20/00"), f"units {target}: drive {i}: VENDOR IDENTIFY {got[1]}")
            check.expect(got[2][1] == "01", f"units {target}: drive {i}: eject {got[2]}")
            check.expect(got[3][1] == "04" and got[3][2].startswith("02/3a/"),
                         f"units {target}: drive {i}: a disc after the eject: {got[3]}")
            check.expect(got[4][1] == "01" and got[4][3] == inquiry[i].hex(),
                         f"units {target}: drive {i}: INQUIRY data is not sg_raw's")

    # The same guest through each target: the same commands, the same answers.
    if "native" in targets:
        for target in targets:
            if target == "native":
                continue
            for case in ("scan", "units"):
                compare_traces(check, f"{case} trace native/{target}",
                               trace_lines(f"{results}/{case}-native.trace"),
                               trace_lines(f"{results}/{case}-{target}.trace"))
                compare_text(check, f"{case} output native/{target}",
                             text(f"{results}/{case}-native.out"), text(f"{results}/{case}-{target}.out"))
        # The recorded run of these drives still describes them.
        if check.expect(os.path.isdir(args.recorded),
                        f"no recorded run in {args.recorded}: record one with run.sh --record"):
            for case in ("scan", "units"):
                compare_traces(check, f"{case} trace live/recorded",
                               trace_lines(f"{results}/{case}-native.trace"),
                               trace_lines(f"{args.recorded}/{case}.trace"))
                compare_text(check, f"{case} output live/recorded",
                             text(f"{results}/{case}-native.out"), text(f"{args.recorded}/{case}.out"))
    return finish(check, f"{count} drive(s), targets {' '.join(targets)}")


def check_replay(args):
    """The recorded real drives, described in scenario.json, run on the virtual machine."""
    check = Checker("replay " + os.path.basename(args.recorded.rstrip("/")))
    scenario = f"{args.recorded}/scenario.json"
    with tempfile.TemporaryDirectory() as work:
        runs = {
            "scan": [f"{args.bin}/veltran-probe"],
            "units": [f"{args.bin}/realdrive-commands"] + UNITS_COMMANDS,
        }
        for case, command in runs.items():
            trace = f"{work}/{case}.trace"
            done = subprocess.run(command + [f"--virtual={scenario}", f"--trace={trace}"],
                                  capture_output=True, timeout=60)
            if not check.expect(done.returncode == 0, f"{case}: exit {done.returncode}: {done.stderr!r}"):
                continue
            compare_traces(check, f"{case} trace", trace_lines(f"{args.recorded}/{case}.trace"),
                           trace_lines(trace))
            compare_text(check, f"{case} output", text(f"{args.recorded}/{case}.out"),
                         done.stdout.decode("latin-1"))
    return finish(check, "the virtual drives answer as the recorded real ones")


def finish(check, summary):
    for note in check.notes:
        print(f"note: {check.label}: {note}")
    if check.failures:
        print(f"{check.label}: {check.failures} failure(s)")
        return 1
    print(f"PASS: {check.label}: {summary}")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shape")
    parser.add_argument("--results")
    parser.add_argument("--recorded", required=True)
    parser.add_argument("--targets", default="native")
    parser.add_argument("--replay", action="store_true")
    parser.add_argument("--bin")
    args = parser.parse_args()
    if args.replay:
        return check_replay(args)
    return check_live(args)


if __name__ == "__main__":
    sys.exit(main())
