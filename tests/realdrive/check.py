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
import json
import os
import subprocess
import sys
import tempfile
import zlib

UNITS_COMMANDS = ["tur", "identify", "eject", "tur", "inquiry"]
SCAN_INQUIRY = "120000002400"
LIST_INQUIRY = "120000006000000000000000"
VENDOR_IDENTIFY = "ff00ff0000000000000000aa"
TEST_UNIT_READY = "000000000000"
EJECT = "1b0000000200"
FIRST_VENDOR_WRITE = "ff0001000000000000000000"
READY_PROBES = 5
TRANSFER_MODE = "  transfer mode: "
OPTIONS = {"live": ["-LIVE"], "test": ["-TEST"]}
REMOVE_DISC = "Remove the Disc in the Drive !!"
FLASH_CMD_FAIL = "Flash Cmd Fail!!"
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


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


def without_transfer_modes(report):
    return "".join(line for line in report.splitlines(True) if not line.startswith(TRANSFER_MODE))


def case_options(case):
    """download-LABEL[-live|-test]: the test option the flash tool is started with."""
    return OPTIONS.get(case.rsplit("-", 1)[-1], [])


def expected_exit(case, target):
    """The console program says how the run ended (1: refused before any write, here for the disc
    in the drive; 2: failed during the write, here the first block these drives reject); the
    Windows program always returns 0."""
    if target != "native":
        return 0
    return 2 if "-nodisc" in case else 1


def image_header(image):
    """The identification in an image's trailer: (identity, revision, type, prefix)."""
    header = image[len(image) - 48:]
    return header[0:24], header[24:28], header[30], header[32:35]


def read_states(path):
    """{sgN: "tray closed medium yes", ...} from media_state in the guest."""
    return dict(line.split(" ", 1) for line in text(path).splitlines() if line.strip())


def fitting_drive(report, image):
    """The list position of the first drive the image fits, from the probe's report of the
    identities after the rules: the same 24-character identity and, for type 4, the same prefix."""
    ident, _, kind, prefix = image_header(image)
    identities = [line for line in report.splitlines() if line.startswith("  identity : ")]
    prefixes = [line for line in report.splitlines() if line.startswith("  prefix   : ")]
    for i, (identity, drive_prefix) in enumerate(zip(identities, prefixes)):
        if identity != f'  identity : "{escape(ident)}"':
            continue
        if kind == 4 and not drive_prefix.startswith(f'  prefix   : "{escape(prefix)}"'):
            continue
        return i
    return None


def rejected_write_crc(image, sense):
    """The buffer after the first VENDOR WRITE was rejected: the block sent, with the sense key,
    ASC and ASCQ copied to bytes 2, 12 and 13."""
    block = bytearray(image[:32768])
    block[2], block[12], block[13] = sense
    return f"{zlib.crc32(block):08x}"


def download_targets(case, tool_targets):
    """The targets a download case runs for: without a test option the window waits for a user
    after its box, so only the console program runs those cases in the guest."""
    if case.endswith("-live") or case.endswith("-test"):
        return tool_targets
    return [t for t in tool_targets if t == "native"]


def expected_download(device, disc, options, image, locked=True):
    """What a download for that drive sends from its medium probe on, line by line. A platform
    that does not offer the lock (Wine's CD-ROM driver does not know the request) neither takes
    nor gives it back: no lock line."""
    d = str(device)
    if disc:
        lines = [["scsi", d, TEST_UNIT_READY, "in", "0", "01", "00000000"]]
        if not options:
            lines.append(["scsi", d, EJECT, "in", "0", "01", "00000000"])
        return lines
    lines = [["scsi", d, TEST_UNIT_READY, "in", "0", "04", "00000000"]] * READY_PROBES
    if locked:
        lines.append(["lock", d, "on", "ok"])
    lines.append(["scsi", d, FIRST_VENDOR_WRITE, "out", "32768", "04",
                  rejected_write_crc(image, (0x05, 0x20, 0x00))])
    if locked:
        lines.append(["lock", d, "off", "ok"])
    return lines


def without_polling(trace):
    return [t for t in trace if t[0] != "polling"]


def without_locks(trace):
    """Without what only some platforms do around a download: the lock, the polling hold."""
    return [t for t in without_polling(trace) if t[0] != "lock"]


def check_polling_hold(check, name, device, trace):
    """Linux's back end holds the kernel's media polling inside the lock: one line after the
    lock, one giving the same setting back before the unlock."""
    d = str(device)
    held = [i for i, t in enumerate(trace) if t[:3] == ["polling", d, "off"]]
    back = [i for i, t in enumerate(trace) if t[:3] == ["polling", d, "back"]]
    lock = [i for i, t in enumerate(trace) if t[:3] == ["lock", d, "on"]]
    unlock = [i for i, t in enumerate(trace) if t[:3] == ["lock", d, "off"]]
    if not check.expect(len(held) == len(back) == 1 and lock and unlock,
                        f"{name}: polling lines {held} {back} around the lock {lock} {unlock}"):
        return
    was = trace[held[0]][-1].strip("()").split()[-1] if trace[held[0]][-1].endswith(")") else None
    check.expect(held[0] == lock[0] + 1 and back[0] == unlock[0] - 1 and trace[back[0]][3] == was,
                 f"{name}: the polling hold is not inside the lock or not given back as it was: "
                 f"{' '.join(trace[held[0]])} / {' '.join(trace[back[0]])}")


def check_download(check, results, case, target, inventory, report, image):
    """One run of the flash tool in automatic mode: the drive it chose, its medium probe, what
    followed (the eject and the refusal, or the rejected first block and the failure path), the
    test log, the box, the drives afterwards and no restart."""
    name = f"{case}-{target}"
    options = case_options(case)
    rc = text(f"{results}/{name}.rc").strip()
    check.expect(rc == str(expected_exit(case, target)),
                 f"{name}: exit status {rc} (124: it did not close by itself): "
                 + text(f"{results}/{name}.err")[-300:])
    device = fitting_drive(report, image)
    if not check.expect(device is not None, f"{name}: the image fits no drive of the probe's report"):
        return
    sg = inventory[device][0]
    before = read_states(f"{results}/{name}.before")
    after = read_states(f"{results}/{name}.after")
    state = before.get(sg, "unknown")
    if not check.expect(state in ("tray closed medium yes", "tray closed medium no", "tray open medium no"),
                        f"{name}: drive {device} ({sg}) before the run: {state}"):
        return
    disc = state.endswith("medium yes")
    label = case.split("-")[1]
    check.expect(label == ("disc" if disc else "nodisc"),
                 f"{name}: the case wants '{label}', drive {device} was '{state}'")

    out = text(f"{results}/{name}.out")
    # The console program prints its fields; the window shows them, and its trace names the
    # drive it chose by the device every command goes to.
    if target == "native":
        chosen = [line for line in out.splitlines() if line.startswith("Drive : ")]
        item = escape(read(f"{results}/sgraw-inquiry.{sg}.bin").ljust(96, b"\0")[8:36])
        check.expect(chosen[-1:] == [f"Drive : {item}"], f"{name}: chose {chosen[-1:]}, not drive {device}")
        check.expect("Status : READY" in out.splitlines(), f"{name}: the image was not shown ready")

    trace = trace_lines(f"{results}/{name}.trace")
    start = next((i for i, t in enumerate(trace) if t[0] == "scsi" and t[2] == TEST_UNIT_READY), None)
    if check.expect(start is not None, f"{name}: no medium probe in the trace"):
        # Wine's CD-ROM driver may not offer the exclusive lock; Linux's O_EXCL reopen must succeed.
        locked = target == "native" or ["lock", str(device), "on", "ok"] in trace
        want = expected_download(device, disc, options, image, locked)
        got = trace[start:]
        if target == "native" and not disc:
            check_polling_hold(check, name, device, got)
        got = without_polling(got)
        check.expect(got == want, f"{name}: from the medium probe on the trace is\n    "
                     + "\n    ".join(" ".join(t) for t in got) + "\n  not\n    "
                     + "\n    ".join(" ".join(t) for t in want))
    check.expect(not any(t[0] == "restart" for t in trace), f"{name}: a restart was requested")
    check.expect(not os.path.exists(f"{results}/systemctl.calls"),
                 f"{name}: systemctl was called: {text(f'{results}/systemctl.calls') if os.path.exists(f'{results}/systemctl.calls') else ''}")

    box = REMOVE_DISC if disc else FLASH_CMD_FAIL
    shown = [b for b in (REMOVE_DISC, FLASH_CMD_FAIL) if b in out.splitlines()]
    check.expect(shown == ([] if options else [box]), f"{name}: boxes shown {shown}")
    log = f"{results}/{name}.log"
    if options == ["-LIVE"]:
        codes = text(log).split() if os.path.exists(log) else None
        want = ["START", "P1", "P2", "P3", "P4"] + (["E4"] if disc else ["P5", "P6", "E6"])
        check.expect(codes == want, f"{name}: test log {codes}, not {want}")
    else:
        check.expect(not os.path.exists(log), f"{name}: a test log in the working folder")

    for other, was in before.items():
        now = after.get(other)
        if other == sg and disc and not options:
            check.expect(now == "tray open medium no", f"{name}: {sg} after the eject: {now}")
        else:
            check.expect(now == was, f"{name}: {other} was '{was}', is '{now}'")


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

    transfer = dict(line.split(" ", 1) for line in text(f"{results}/transfer.out").splitlines())
    transfer = [transfer.get(sg, "missing") for sg, _, _ in inventory]
    image = read(f"{results}/autorun.bin") if os.path.exists(f"{results}/autorun.bin") else None

    inquiry_scan, inquiry = [], []
    for sg, _, _ in inventory:
        inquiry_scan.append(read(f"{results}/sgraw-inquiry-scan.{sg}.bin"))
        inquiry.append(read(f"{results}/sgraw-inquiry.{sg}.bin").ljust(96, b"\0"))
        identify = text(f"{results}/sgraw-identify.{sg}.err")
        check.expect("Check Condition" in identify and "Invalid command operation code" in identify,
                     f"sg_raw: {sg} did not reject VENDOR IDENTIFY as an unknown command")
        if image is not None:
            write = text(f"{results}/sgraw-write.{sg}.err")
            check.expect("Check Condition" in write and "Invalid command operation code" in write,
                         f"sg_raw: {sg} did not reject VENDOR WRITE as an unknown command: {write!r}")

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

        # The transfer mode of each ATA drive, as libata reports it; none for the others. Only
        # the native build asks the kernel.
        modes = [line[len(TRANSFER_MODE):] for line in lines if line.startswith(TRANSFER_MODE)]
        if target == "native":
            wanted = [m for m in transfer if m != "none"]
            check.expect(modes == wanted, f"scan {target}: transfer modes {modes}, sysfs {transfer}")
            blocks = report.split("\nDrive ")[1:]
            for i, block in enumerate(blocks):
                listed = TRANSFER_MODE in block
                check.expect(listed == (i < len(transfer) and transfer[i] != "none"),
                             f"scan {target}: drive {i}: transfer mode listed: {listed}, sysfs {transfer}")
        else:
            check.expect(modes == [], f"scan {target}: transfer modes {modes}")

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

    downloads = [c for c in args.cases.split() if c.startswith("download-")]
    tool_targets = args.tool_targets.split()
    for case in downloads:
        if not check.expect(image is not None, f"{case}: the shape has no image"):
            break
        for target in download_targets(case, tool_targets):
            check_download(check, results, case, target, inventory,
                           text(f"{results}/scan-native.out") if "native" in targets
                           else text(f"{results}/scan-{target}.out"), image)

    # The same guest through each target: the same commands, the same answers. Only the native
    # probe lists transfer modes.
    if "native" in targets:
        for target in targets:
            if target == "native":
                continue
            for case in ("scan", "units"):
                compare_traces(check, f"{case} trace native/{target}",
                               trace_lines(f"{results}/{case}-native.trace"),
                               trace_lines(f"{results}/{case}-{target}.trace"))
                compare_text(check, f"{case} output native/{target}",
                             without_transfer_modes(text(f"{results}/{case}-native.out")),
                             text(f"{results}/{case}-{target}.out"))
            # The window program's output is its boxes, not the console's lines: the traces
            # and the test logs are compared.
            if target in tool_targets:
                # The lock lines are the platform's; each run's own check judged them.
                for case in (c for c in downloads if target in download_targets(c, tool_targets)):
                    compare_traces(check, f"{case} trace native/{target}",
                                   without_locks(trace_lines(f"{results}/{case}-native.trace")),
                                   without_locks(trace_lines(f"{results}/{case}-{target}.trace")))
        # The recorded run of these drives still describes them.
        if check.expect(os.path.isdir(args.recorded),
                        f"no recorded run in {args.recorded}: record one with run.sh --record"):
            for case in ("scan", "units"):
                compare_traces(check, f"{case} trace live/recorded",
                               trace_lines(f"{results}/{case}-native.trace"),
                               trace_lines(f"{args.recorded}/{case}.trace"))
                compare_text(check, f"{case} output live/recorded",
                             text(f"{results}/{case}-native.out"), text(f"{args.recorded}/{case}.out"))
            if "native" in tool_targets:
                for case in downloads:
                    for ext in ("trace", "out", "log", "before"):
                        mine, kept = f"{results}/{case}-native.{ext}", f"{args.recorded}/{case}.{ext}"
                        if not check.expect(os.path.exists(mine) == os.path.exists(kept),
                                            f"{case}: {ext} in the live run: {os.path.exists(mine)}, "
                                            f"in the recorded run: {os.path.exists(kept)}"):
                            continue
                        if not os.path.exists(mine):
                            continue
                        if ext == "trace":
                            compare_traces(check, f"{case} trace live/recorded",
                                           without_polling(trace_lines(mine)), trace_lines(kept))
                        else:
                            compare_text(check, f"{case} {ext} live/recorded", text(mine), text(kept))
    summary = f"{count} drive(s), targets {' '.join(targets)}"
    if downloads:
        summary += f"; {len(downloads)} download case(s) for {' '.join(tool_targets) or 'no target'}"
    return finish(check, summary)


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
        replay_downloads(check, args, scenario, work)
    return finish(check, "the virtual drives answer as the recorded real ones")


def replay_downloads(check, args, scenario, work):
    """The recorded download runs on the virtual machine: each drive holds a disc when the real
    one held a medium before that run (the model has no tray: an open one is a drive without a
    disc), the shape's image is made again from its arguments."""
    cases = sorted(f[:-len(".trace")] for f in os.listdir(args.recorded)
                   if f.startswith("download-") and f.endswith(".trace"))
    if not cases:
        return
    with open(f"{args.recorded}/image.args") as f:
        image_args = f.read().split("\n")[:-1]  # one argument a line; a blank one counts
    with open(scenario) as f:
        machine = json.load(f)
    for case in cases:
        states = read_states(f"{args.recorded}/{case}.before")
        for drive, sg in zip(machine["drives"], sorted(states, key=lambda n: int(n[2:]))):
            drive["disc"] = states[sg].endswith("medium yes")
        folder = f"{work}/{case}"
        os.makedirs(folder)
        with open(f"{folder}/machine.json", "w") as f:
            json.dump(machine, f)
        subprocess.run([sys.executable, f"{TOP}/scripts/make-test-image", *image_args,
                        "-o", f"{folder}/AUTORUN.BIN"], check=True)
        trace = f"{folder}/run.trace"
        done = subprocess.run([f"{args.bin}/veltran", f"--virtual={folder}/machine.json",
                               f"--trace={trace}", *case_options(case)],
                              cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if not check.expect(done.returncode == expected_exit(case, "native"),
                            f"{case}: exit {done.returncode}: {done.stderr!r}"):
            continue
        compare_traces(check, f"{case} trace", trace_lines(f"{args.recorded}/{case}.trace"),
                       trace_lines(trace))
        compare_text(check, f"{case} output", text(f"{args.recorded}/{case}.out"),
                     done.stdout.decode("latin-1"))
        kept, log = f"{args.recorded}/{case}.log", f"{folder}/VELTRAN.TMP"
        check.expect(os.path.exists(kept) == os.path.exists(log), f"{case}: a test log in one run only")
        if os.path.exists(kept) and os.path.exists(log):
            compare_text(check, f"{case} log", text(kept), text(log))


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
    parser.add_argument("--tool-targets", default="native")
    parser.add_argument("--cases", default="")
    parser.add_argument("--replay", action="store_true")
    parser.add_argument("--bin")
    args = parser.parse_args()
    if args.replay:
        return check_replay(args)
    return check_live(args)


if __name__ == "__main__":
    sys.exit(main())
