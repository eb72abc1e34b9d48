#!/usr/bin/env python3
"""Judges the results of the emulated drive's guest run (the `target` shape of run.sh): the drive
is our drive model behind the guest kernel's SCSI target, so what the tool sent can be held
against what the drive received (its log: NAME-TARGET.drive) and against the same run in process
against the virtual drive model.

check_target.py --results DIR --targets "native win64 win32" --bin BUILD/native/bin --cases "..."
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

from check import Checker, finish, read, text, trace_lines

FORMS = {"flash-block": "block.bin", "flash-k64": "k64.bin", "flash-fixed": "fixed.bin"}
VENDOR_WRITE = "ff0001"
UNIT_ATTENTION = "check 06/29/00"


def drive_log(path):
    """(came, answered, cdb, direction, length, what) for each command the drive received."""
    entries = []
    for line in text(path).splitlines():
        f = line.split(None, 5)
        entries.append((float(f[0]), float(f[1]), f[2], f[3], int(f[4]), f[5]))
    return entries


def sent(trace):
    """The scsi lines of a trace as (cdb, direction, length, status, crc, rest)."""
    return [(t[2], t[3], int(t[4]), t[5], t[6], t[7:]) for t in trace if t[0] == "scsi"]


def kept_cut(bin_dir, image_path):
    """The bytes of the image that the download sends, as the tool derives its form."""
    record = json.loads(subprocess.run([f"{bin_dir}/veltran-pack", "inspect", "--json", image_path],
                                       capture_output=True, text=True).stdout)
    image = read(image_path)
    block = record["block_size_kb"] * 1024
    if record["image_64k"]:
        return image[4096:65536]
    if record["fixed_header"]:
        return image[:record["command_count"] * 32768]
    return image[:(record["command_count"] - 1) * block + record["last_block_kb"] * 1024]


def in_process(bin_dir, share, scenario, image):
    """The same start of the native tool against the virtual drive model: its trace."""
    with tempfile.TemporaryDirectory() as work:
        with open(f"{work}/AUTORUN.BIN", "wb") as f:
            f.write(read(f"{share}/{image}"))
        subprocess.run([f"{bin_dir}/veltran", "-LIVE", f"--virtual={share}/{scenario}",
                        f"--trace={work}/trace"], cwd=work, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
        return sent(trace_lines(f"{work}/trace"))


def reached_drive(check, what, commands, log):
    """Every command of the tool reached the drive, in order (the kernel's own between them): the
    drive sees as many CDB bytes as the kernel copies (10 of a vendor command, 6 of INQUIRY)."""
    at = 0
    for cdb, direction, length, *_ in commands:
        while at < len(log) and not (cdb.startswith(log[at][2]) and log[at][4] == length):
            at += 1
        if not check.expect(at < len(log), f"{what}: {cdb} {direction} {length} never reached the drive"):
            return
        at += 1


def check_flash(check, args, name, image):
    out, log = text(f"{args.results}/{name}.out"), text(f"{args.results}/{name}.log")
    check.expect(read(f"{args.results}/{name}.rc").strip() == b"0", f"{name}: exit status")
    check.expect(log.split()[-1:] == ["COMPLETE"], f"{name}: the log ends {log.split()[-1:]}")
    if name.endswith("-native"):
        check.expect("Status : Ok" in out, f"{name}: no 'Status : Ok'")
    images = text(f"{args.results}/{name}.images").split()
    if check.expect(len(images) == 1, f"{name}: the drive received {len(images)} images whole"):
        got = read(f"{args.results}/emulate/{images[0]}")
        check.expect(got == kept_cut(args.bin, f"{args.share}/{image}"),
                     f"{name}: the drive's bytes ({len(got)}) are not the image's as the form cuts it")
    mine = sent(trace_lines(f"{args.results}/{name}.trace"))
    virtual = in_process(args.bin, args.share, "plain.json", image)
    check.expect([c[:5] for c in mine] == [c[:5] for c in virtual],
                 f"{name}: the trace is not the in-process run's, command for command "
                 f"({len(mine)} and {len(virtual)} commands)")
    reached_drive(check, name, mine, drive_log(f"{args.results}/{name}.drive"))


def check_failed(check, args, name, code, marked):
    """A download that failed at `code`: reported, never Ok, the command marked in the trace."""
    out, log = text(f"{args.results}/{name}.out"), text(f"{args.results}/{name}.log")
    status = read(f"{args.results}/{name}.rc").strip()
    check.expect(status == (b"2" if name.endswith("native") else b"0"), f"{name}: exit status {status}")
    check.expect(code in log.split() and "COMPLETE" not in log, f"{name}: the log has no {code}: {log.split()}")
    check.expect("Status : Ok" not in out, f"{name}: the status says Ok")
    if code == "E7" and name.endswith("native"):
        check.expect("Status : Fail" in out, f"{name}: the status is not Fail")
    if marked:
        lines = [" ".join(t) for t in trace_lines(f"{args.results}/{name}.trace")]
        check.expect(any(marked in line for line in lines), f"{name}: no trace line has '{marked}'")
    usable = f"{args.results}/{name}-usable.rc"
    if os.path.exists(usable):
        check.expect(read(usable).strip() in (b"0", b"2"),
                     f"{name}: the drive does not answer TEST UNIT READY afterwards")


def check_polling(check, args):
    """Nothing but the download reaches the drive from its first block to the final command's
    answer. A command the drive found waiting when it answered another came at that answer."""
    name = "polling-native"
    check_flash(check, args, name, "block.bin")
    log = drive_log(f"{args.results}/{name}.drive")
    writes = [e for e in log if e[2].startswith(VENDOR_WRITE)]
    if not check.expect(writes, f"{name}: no block reached the drive"):
        return
    window = [e for e in log if writes[0][0] <= e[0] <= writes[-1][1]]
    others = [e[2] for e in window if not e[2].startswith(VENDOR_WRITE)]
    check.expect(not others, f"{name}: commands of others reached the drive mid-download: {others}")
    check.expect(any(e[2].startswith("4a") for e in log if e[0] < writes[0][0]),
                 f"{name}: the kernel did not poll before the download (was polling on?)")
    before = text(f"{args.results}/polling-before.setting").strip()
    after = text(f"{args.results}/polling-after.setting").strip()
    check.expect(after == "500", f"{name}: the polling setting after the tool is {after}, not 500")
    lines = [" ".join(t) for t in trace_lines(f"{args.results}/{name}.trace") if t[0] == "polling"]
    check.expect(lines == ["polling 0 off (was 500)", "polling 0 back 500"],
                 f"{name}: the trace's polling lines are {lines}")
    check.note(f"polling: the guest's own setting was {before}; 500 during the case")


def check_lock(check, args):
    during = read(f"{args.results}/lock-during.rc").strip()
    after = read(f"{args.results}/lock-after.rc").strip()
    check.expect(during not in (b"0", b"2"), f"lock: a second open while the tool held the drive: {during}")
    check.expect(after in (b"0", b"2"), f"lock: the open after the tool ended failed: {after}")


def check_attention(check, args, target):
    """The drive answers the first command after its update with UNIT ATTENTION. Natively that is
    the probe's VENDOR IDENTIFY (asked again); under Wine the kernel's own TEST UNIT READY, as
    the tool lets go of /dev/sr0, takes it first. Either way the probe's report is the usual."""
    name = f"attention-{target}"
    check_flash(check, args, name, "small.bin")
    probe = text(f"{args.results}/probe-attention-{target}.out")
    after = text(f"{args.results}/probe-after-{target}.out").replace("NA03", "NA04")
    check.expect(probe == after, f"{name}: the probe after the update is not the usual report:\n{probe}")
    flash_log = drive_log(f"{args.results}/{name}.drive")
    probe_log = drive_log(f"{args.results}/probe-attention-{target}.drive")
    final = max(i for i, e in enumerate(flash_log) if e[2].startswith(VENDOR_WRITE))
    told = [e for e in flash_log[final + 1:] + probe_log if e[5] == UNIT_ATTENTION]
    if check.expect(len(told) == 1, f"{name}: the unit attention was sent {len(told)} times"):
        to_probe = told[0] in probe_log
        if target == "native":
            check.expect(to_probe and told[0][2].startswith("ff00ff"),
                         f"{name}: the unit attention went to {told[0][2]}, not the probe's VENDOR IDENTIFY")
        elif not to_probe:
            check.note(f"{name}: the kernel's own {told[0][2]} took the unit attention before the probe")


def block_phase(log):
    """The block phase from the drive's log: (its length, the initiator's mean time from an
    answer to the next block), or None when there are too few blocks."""
    writes = [e for e in log if e[2].startswith(VENDOR_WRITE)]
    if len(writes) < 3:
        return None
    gaps = [writes[i + 1][0] - writes[i][1] for i in range(len(writes) - 2)]
    return writes[-2][1] - writes[0][0], sum(gaps) / len(gaps)


def figures(check, args):
    up = dict(line.split(None, 1) for line in text(f"{args.results}/target-up.out").splitlines())
    print(f"figure: emulated drive ready {up['boot-to-ready']} s after boot "
          f"({up['modules-to-ready']} s after the modules began to load)")
    phases = {}
    for kind in ("tool", "bare"):
        runs = [block_phase(drive_log(f"{args.results}/bench-{kind}-{r}.drive")) for r in (1, 2)]
        phases[kind] = min((r for r in runs if r), default=None)
    tool, bare = phases["tool"], phases["bare"]
    if check.expect(tool and bare, "bench: no block phase measured"):
        print(f"figure: block phase through the kernel: the tool {tool[0]:.3f} s, a bare SG_IO loop "
              f"{bare[0]:.3f} s: ratio {tool[0] / bare[0]:.3f} (target 1.05 or less); from an "
              f"answer to the next block {tool[1] * 1e6:.0f} and {bare[1] * 1e6:.0f} us")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--results", required=True)
    p.add_argument("--targets", default="native")
    p.add_argument("--bin", required=True)
    p.add_argument("--cases", default="")
    p.add_argument("--share", required=True, help="the scenarios and images of the cases")
    args = p.parse_args()
    args.bin, args.share = os.path.abspath(args.bin), os.path.abspath(args.share)
    check = Checker("target")
    cases = args.cases.split()
    for target in args.targets.split():
        for case, image in FORMS.items():
            if case in cases:
                check_flash(check, args, f"{case}-{target}", image)
        if "flash-fixed" in cases:
            probe = text(f"{args.results}/probe-after-{target}.out")
            check.expect('revision : "NA03"' in probe,
                         f"probe-after-{target}: the new revision not read back")
        if "attention" in cases:
            check_attention(check, args, target)
        if "gone-block" in cases:
            check_failed(check, args, f"gone-block-{target}", "E6", None)
    for case, code, marked in (("hold-block-native", "E6", "timeout"),
                               ("hold-final-native", "E7", "timeout")):
        if case in cases:
            check_failed(check, args, case, code, marked)
    if "lock-native" in cases:
        check_lock(check, args)
    if "polling-native" in cases:
        check_polling(check, args)
    if "bench-native" in cases:
        figures(check, args)
    if "remove-native" in cases:
        removed = text(f"{args.results}/remove-native.out").split()
        check.expect(removed == ["nodes", "0", "devices", "0", "ports", "0"],
                     f"remove: the drive's program left {removed} behind")
    return finish(check, f"{len(cases)} cases for {args.targets}")


if __name__ == "__main__":
    sys.exit(main())
