#!/usr/bin/env python3
"""Drives veltran.exe under Wine on a virtual X display, as a user would: watches its window with
xdotool, takes screenshots with ImageMagick's import and checks their pixels, presses keys and
mouse buttons. Each case is one CTest entry; run it inside xvfb-run.

usage: window_test.py CASE --exe VELTRAN_EXE --wine-run WINE_RUN --work DIR [options]"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

WINDOW = "Lumaflash"
COLOURS = {
    "window": (6, 32, 64),
    "yellow_field": (255, 255, 208),
    "blue_field": (192, 224, 255),
    "status_field": (255, 221, 208),
    "list": (192, 224, 255),
    "bar": (160, 192, 240),
}
# Points in window pixels outside the window's shape: the four corners and the four notches.
OUTSIDE = [(1, 1), (398, 1), (1, 198), (398, 198), (200, 1), (200, 198), (1, 100), (398, 100)]
# Points inside each coloured control, clear of its text and border.
INSIDE = [((350, 95), "yellow_field"), ((158, 111), "yellow_field"), ((158, 127), "yellow_field"),
          ((316, 143), "blue_field"), ((188, 159), "status_field"), ((300, 60), "list"),
          ((362, 181), "bar")]
BUTTONS = {"open": (8, 8), "start": (36, 8), "about": (64, 8), "exit": (362, 8)}
# The option label (left, top, width, height) and Wine's disabled-text colour, COLOR_GRAYTEXT.
NOCHECK_LABEL = (8, 40, 75, 13)
DISABLED_TEXT = (166, 166, 166)
# Where Debian's fonts-wine puts the fonts Wine ships; its Wine does not look there.
WINE_FONTS = "/usr/share/wine/fonts"

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, **kw)


def windows(name):
    out = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name).stdout.split()
    return [int(w) for w in out]


def wait_for(predicate, timeout, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def geometry(window):
    out = run("xdotool", "getwindowgeometry", "--shell", str(window)).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class Screen:
    """One screenshot, read as pixels."""

    def __init__(self, path):
        subprocess.run(["import", "-window", "root", path], check=True)
        size = run("identify", "-format", "%w %h", path).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                   capture_output=True).stdout
        self.path = path

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def read_bmp(path):
    """A 24-bit bottom-up BMP as rows of (r, g, b), top row first."""
    with open(path, "rb") as f:
        data = f.read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        row = data[offset + (height - 1 - y) * stride:]
        rows.append([(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]) for x in range(width)])
    return rows


class Tool:
    """One veltran.exe process."""

    def __init__(self, opts, arguments, cwd, env=None, exe=None):
        self.process = subprocess.Popen([opts.wine_run, exe or opts.exe] + arguments, cwd=cwd,
                                        env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def ended(self, timeout):
        try:
            self.process.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def window_of(tool, timeout=60):
    found = wait_for(lambda: windows(WINDOW), timeout)
    check(len(found) == 1, "one window titled %s appears" % WINDOW)
    if not found:
        tool.stop()
        finish()
    return found[0]


def check_shape_and_colours(screen, left, top, bare, colours=INSIDE):
    for x, y in OUTSIDE:
        check(screen.at(left + x, top + y) == bare.at(left + x, top + y),
              "%s: (%d, %d) outside the shape shows the desktop" % (screen.path, x, y))
    for (x, y), name in colours:
        check(screen.at(left + x, top + y) == COLOURS[name],
              "%s: (%d, %d) has the %s colour %s (found %s)" % (
                  screen.path, x, y, name, COLOURS[name], screen.at(left + x, top + y)))


def picture_shown(screen, left, top, button, picture, offset=0):
    """True when every pixel of the picture but its key colour is on screen at the button."""
    bx, by = BUTTONS[button]
    key = picture[-1][0]
    for y, row in enumerate(picture):
        for x, colour in enumerate(row):
            if colour != key and screen.at(left + bx + offset + x, top + by + offset + y) != colour:
                return False
    return True


def on_blend(colour, back, fore, tolerance=3):
    """True when `colour` is `fore` laid over `back` with some coverage, as antialiased text is."""
    spans = [f - b for f, b in zip(fore, back)]
    coverage = sum(c - b for c, b in zip(colour, back)) / sum(spans)
    return -0.02 <= coverage <= 1.02 and all(
        abs(c - (b + coverage * d)) <= tolerance for c, b, d in zip(colour, back, spans))


def check_nocheck_label(screen, left, top, background):
    """The option label holds its whole caption, greyed, on its own colour, and leaves the
    background picture around it alone."""
    lx, ly, lw, lh = NOCHECK_LABEL
    back = COLOURS["window"]
    at = lambda x, y: screen.at(left + x, top + y)
    text = [(x, y) for y in range(ly, ly + lh) for x in range(lx, lx + lw) if at(x, y) != back]
    check(len(text) > 60, "the option label shows a caption (%d text pixels)" % len(text))
    if not text:
        return
    first, last = min(x for x, _ in text), max(x for x, _ in text)
    check(first <= lx + 2 and last < lx + lw - 1,
          "the caption lies within the label, clear of its right edge (columns %d to %d of %d to %d)"
          % (first, last, lx, lx + lw - 1))
    around = [(x, y) for x in range(lx - 2, lx + lw + 6) for y in (ly - 2, ly - 1, ly + lh, ly + lh + 1)]
    around += [(x, y) for x in range(lx + lw, lx + lw + 6) for y in range(ly, ly + lh)]
    spilled = [(x, y) for x, y in around if at(x, y) != background[y][x]]
    check(not spilled, "nothing of the label reaches the picture around it (%s)" % spilled[:4])
    colours = {at(x, y) for x, y in text}
    off = sorted(c for c in colours if not on_blend(c, back, DISABLED_TEXT))
    check(not off and DISABLED_TEXT in colours,
          "the caption is drawn in the disabled grey %s on %s (other colours: %s)"
          % (DISABLED_TEXT, back, off[:4]))


def make_image(opts, path, *arguments):
    subprocess.run([opts.make_image, "-o", path] + list(arguments), check=True)


def write_scenario(path, platform="nt", program=3, hold=0, extra=None):
    drive = {"inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                         "revision": "NA00", "prefix": "NA "},
             "vendor_identify_prefix": "KVR", "program_seconds": program,
             "hold_real_seconds": hold}
    drive.update({"letter": "e"} if platform == "nt" else {"host_adapter": 0, "target": 1})
    scenario = {"platform": platform, "drives": [drive], "restart": "accept"}
    scenario.update(extra or {})
    with open(path, "w") as f:
        json.dump(scenario, f)


def console_trace(opts, folder, arguments):
    """The native console program's trace for the same folder contents and arguments."""
    reference = os.path.join(folder, "console")
    os.makedirs(reference)
    for name in os.listdir(folder):
        if os.path.isfile(os.path.join(folder, name)) and name != "trace":
            shutil.copy(os.path.join(folder, name), reference)
    subprocess.run([opts.console] + arguments + ["--trace=trace"], cwd=reference,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True, timeout=60)
    return open(os.path.join(reference, "trace")).read()


def case_automatic_download(opts):
    """-LIVE on a virtual drive: the window shows the download, refuses Alt+F4 during the final
    command, closes by itself, and the trace is the console program's."""
    folder = opts.work
    make_image(opts, os.path.join(folder, "AUTORUN.BIN"), "--revision", "NA02")
    write_scenario(os.path.join(folder, "scenario.json"), program=3, hold=4)
    bare = Screen(os.path.join(opts.shots, "desktop.png"))
    tool = Tool(opts, ["-LIVE", "--virtual=scenario.json", "--trace=trace"], folder)
    window = window_of(tool)
    left, top, width, height = geometry(window)
    check((width, height) == (400, 200), "the window is 400 x 200 (found %dx%d)" % (width, height))
    screen_w, screen_h = bare.width, bare.height
    check((left, top) == ((screen_w - 400) // 2, (screen_h - 200) // 2), "the window is centred")
    # The worker now holds the final command for a few real seconds.
    time.sleep(1.5)
    shot = Screen(os.path.join(opts.shots, "progress.png"))
    check_shape_and_colours(shot, left, top, bare)
    bar = [shot.at(left + x, top + 176) for x in range(34, 365)]
    filled = sum(1 for c in bar if c != COLOURS["bar"])
    check(0 < filled < len(bar) * 0.9, "the progress bar is part way (%d of %d pixels)" % (filled, len(bar)))
    run("xdotool", "key", "alt+F4")
    time.sleep(0.7)
    check(windows(WINDOW) == [window], "Alt+F4 during the final command leaves the window open")
    check(tool.ended(30), "the window closes by itself after the download")
    tool.stop()
    log = open(os.path.join(folder, "VELTRAN.TMP")).read().split()
    check(log == "START P1 P2 P3 P4 P5 P6 P7 COMPLETE".split(), "test log START ... COMPLETE: %s" % log)
    if opts.console:
        trace = open(os.path.join(folder, "trace")).read()
        check(trace == console_trace(opts, folder, ["-LIVE", "--virtual=scenario.json"]),
              "the trace equals the console program's (%d lines)" % len(trace.splitlines()))


def point_at(window, x=None, y=None):
    """Moves the pointer into a window (its centre by default): without a window manager the
    keyboard follows the pointer."""
    left, top, width, height = geometry(window)
    run("xdotool", "mousemove", str(left + (width // 2 if x is None else x)),
        str(top + (height // 2 if y is None else y)))
    time.sleep(0.3)


def click(window, x, y, button="1"):
    point_at(window, x, y)
    run("xdotool", "click", button)


def case_interaction(opts):
    """Manual mode with -NOCHECK: picture buttons, the open dialog, F9, the About box, moving, a
    second start, Exit."""
    folder = os.path.join(opts.work, "Frühling")
    os.makedirs(folder)
    image = os.path.join(folder, "neue Firmware.bin")
    make_image(opts, image, "--revision", "NA02")
    write_scenario(os.path.join(folder, "scenario.json"))
    art = lambda name: read_bmp(os.path.join(opts.artwork, name + ".bmp"))
    bare = Screen(os.path.join(opts.shots, "desktop-manual.png"))
    tool = Tool(opts, ["-NOCHECK", "--virtual=scenario.json"], folder)
    window = window_of(tool)
    left, top, _, _ = geometry(window)
    run("xdotool", "mousemove", "5", "5")
    time.sleep(0.8)
    shot = Screen(os.path.join(opts.shots, "nocheck.png"))
    check_shape_and_colours(shot, left, top, bare,
                            [((316, 143), "blue_field"), ((300, 60), "list"), ((362, 181), "bar"),
                             ((82, 52), "window")])
    for name in BUTTONS:
        check(picture_shown(shot, left, top, name, art(name + "_normal")),
              "%s shows its normal picture once the pointer is away" % name)
    check_nocheck_label(shot, left, top, art("background"))

    # Hover, then leave the window: Timer2 restores within four ticks.
    run("xdotool", "mousemove", str(left + 77), str(top + 20))
    time.sleep(0.3)
    check(picture_shown(Screen(os.path.join(opts.shots, "hover.png")), left, top, "about", art("about_hover")),
          "the pointer over About shows its hover picture")
    run("xdotool", "mousemove", "5", "5")
    time.sleep(0.45)
    check(picture_shown(Screen(os.path.join(opts.shots, "left.png")), left, top, "about", art("about_normal")),
          "leaving the window restores the normal picture within four Timer2 ticks")

    # Press moves the button by one pixel; releasing outside it runs nothing.
    # A pointer that comes back moves more than once on its way.
    point_at(window, 75, 18)
    point_at(window, 77, 20)
    run("xdotool", "mousedown", "1")
    time.sleep(0.4)
    check(picture_shown(Screen(os.path.join(opts.shots, "pressed.png")), left, top, "about", art("about_hover"), 1),
          "a pressed button sits one pixel right and down")
    run("xdotool", "mousemove", str(left + 200), str(top + 120), "mouseup", "1")
    time.sleep(0.8)
    check(not windows("About Veltran"), "press on About and release outside shows no About box")

    # The open dialog, with a path that is not ASCII.
    click(window, 21, 20)
    dialog = wait_for(lambda: windows("Open"), 10)
    check(bool(dialog), "the open button shows the open dialog")
    if dialog:
        time.sleep(0.5)
        run("xdotool", "type", "--delay", "30", "Z:" + image.replace("/", "\\"))
        run("xdotool", "key", "Return")
        check(wait_for(lambda: not windows("Open"), 10), "the open dialog closes")
    run("xdotool", "mousemove", "5", "5")
    time.sleep(0.8)
    shot = Screen(os.path.join(opts.shots, "ready.png"))
    check_shape_and_colours(shot, left, top, bare)

    # F9 shows the download file information.
    point_at(window, 200, 150)
    run("xdotool", "key", "F9")
    time.sleep(0.5)
    Screen(os.path.join(opts.shots, "f9.png"))
    box = wait_for(lambda: windows("MESSAGE"), 10)
    check(bool(box), "F9 with an accepted image shows the information box")
    if box:
        point_at(box[0])
    run("xdotool", "key", "Return")
    check(wait_for(lambda: not windows("MESSAGE"), 5), "the F9 box closes on Return")

    # The About box.
    click(window, 77, 20)
    about = wait_for(lambda: windows("About Veltran"), 10)
    check(bool(about), "a click on About shows the About box")
    if about:
        time.sleep(0.5)
        Screen(os.path.join(opts.shots, "about.png"))
        _, _, w, h = geometry(about[0])
        check((w, h) == (318, 163), "the About box's client area is 318 x 163 (found %dx%d)" % (w, h))
        point_at(about[0])
        run("xdotool", "key", "Return")
        check(wait_for(lambda: not windows("About Veltran"), 5), "&OK closes the About box")

    # Moving: left and right button on the background; a field does not move the window.
    for button, end in (("1", []), ("3", ["key", "Return"])):
        before = geometry(window)[:2]
        point_at(window, 250, 42)
        run("xdotool", "mousedown", button)
        time.sleep(0.3)
        run("xdotool", "mousemove", str(before[0] + 290), str(before[1] + 72))
        time.sleep(0.3)
        run("xdotool", "mousemove", str(before[0] + 280), str(before[1] + 62))
        time.sleep(0.3)
        run("xdotool", "mouseup", button, *end)
        time.sleep(0.5)
        after = geometry(window)[:2]
        check(after == (before[0] + 30, before[1] + 20),
              "a drag with mouse button %s on the background moves the window %s -> %s" % (button, before, after))
    before = geometry(window)[:2]
    point_at(window, 300, 90)
    run("xdotool", "mousedown", "1")
    time.sleep(0.2)
    run("xdotool", "mousemove", str(before[0] + 330), str(before[1] + 110))
    time.sleep(0.2)
    run("xdotool", "mouseup", "1")
    time.sleep(0.3)
    check(geometry(window)[:2] == before, "a drag on a field leaves the window where it is")

    # A second start finds the first window and ends without one of its own.
    second = Tool(opts, ["--virtual"], opts.work)
    check(second.ended(30), "a second veltran.exe ends by itself")
    check(windows(WINDOW) == [window], "only the first window remains")

    click(window, 375, 20)
    check(tool.ended(20), "Exit closes the window and ends the program")
    tool.stop()


def case_aspi(opts):
    """A win98 system: without --virtual the tool loads the test WNASPI32.DLL beside it."""
    folder = opts.work
    exe = os.path.join(folder, "veltran-9x.exe")
    shutil.copy(opts.exe, exe)
    shutil.copy(os.path.join(os.path.dirname(opts.exe), "WNASPI32.DLL"), folder)
    app = r"HKCU\Software\Wine\AppDefaults\veltran-9x.exe"
    run(opts.wine_run, "reg", "add", app, "/v", "Version", "/d", "win98", "/f")
    run(opts.wine_run, "reg", "add", app + r"\DllOverrides", "/v", "wnaspi32", "/d", "native", "/f")
    make_image(opts, os.path.join(folder, "AUTORUN.BIN"), "--revision", "NA02")
    scenario = os.path.join(folder, "scenario.json")
    write_scenario(scenario, platform="9x")
    env = dict(os.environ, VELTRAN_SCENARIO=scenario, VELTRAN_TRACE=os.path.join(folder, "manager.trace"))
    tool = Tool(opts, ["-LIVE", "--trace=trace"], folder, env=env, exe=exe)
    window_of(tool)
    check(tool.ended(30), "the window closes by itself after the download")
    tool.stop()
    log = open(os.path.join(folder, "VELTRAN.TMP")).read().split()
    check(log == "START P1 P2 P3 P4 P5 P6 P7 COMPLETE".split(), "test log START ... COMPLETE: %s" % log)
    trace = open(os.path.join(folder, "trace")).read()
    check(os.path.getsize(os.path.join(folder, "manager.trace")) > 0, "the test manager traced the commands")
    if opts.console:
        check(trace == console_trace(opts, folder, ["-LIVE", "--virtual=scenario.json"]),
              "the ASPI trace equals the console program's virtual trace (%d lines)" % len(trace.splitlines()))


def is_32_bit(program):
    """Whether a Windows program is built for i386 (its PE header's machine field)."""
    with open(program, "rb") as f:
        header = f.read(4096)
    pe = int.from_bytes(header[0x3C:0x40], "little")
    return int.from_bytes(header[pe + 4:pe + 6], "little") == 0x14C


def case_package(opts):
    """A package started under Wine with a virtual scenario for the tool it starts: the drive ends
    flashed, once the closing box has been dismissed."""
    folder = opts.work
    image = os.path.join(folder, "NA07.BIN")
    make_image(opts, image, "--revision", "NA07")
    # The tool takes a scenario only from its own folder: the system directory it is unpacked to,
    # which for a 32-bit program on a 64-bit prefix is syswow64, and is named so.
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    system_name = "system32"
    if is_32_bit(opts.launcher) and os.path.isdir(os.path.join(prefix, "drive_c", "windows", "syswow64")):
        system_name = "syswow64"
    system_dir = os.path.join(prefix, "drive_c", "windows", system_name)
    for stale in ("scenario.json", "state.json"):
        if os.path.exists(os.path.join(system_dir, stale)):
            os.remove(os.path.join(system_dir, stale))
    write_scenario(os.path.join(system_dir, "scenario.json"), extra={"state": "state.json"})
    scenario = "C:\\windows\\%s\\scenario.json" % system_name
    package = os.path.join(folder, "package.exe")
    subprocess.run([opts.wine_run, opts.pack, "build", "--launcher", opts.launcher, "--image", image,
                    "--tool", opts.exe, "-o", package], check=True, capture_output=True)
    env = dict(os.environ, VELTRAN_VIRTUAL=scenario)
    launcher = subprocess.run([opts.wine_run, package], cwd=folder, env=env, timeout=60)
    check(launcher.returncode == 0, "the launcher ends")
    box = wait_for(lambda: windows("MESSAGE"), 30)
    check(bool(box), "the started tool shows its closing box")
    Screen(os.path.join(opts.shots, "package-done.png"))
    if box:
        point_at(box[0])
    run("xdotool", "key", "Return")
    check(wait_for(lambda: not windows(WINDOW), 20), "the tool closes after the accepted restart")
    state_file = os.path.join(system_dir, "state.json")
    state = json.load(open(state_file)) if os.path.exists(state_file) else {}
    check(state.get("revisions", {}).get("0") == "NA07",
          "the virtual drive now reports the package's revision: %s" % state)


def install_wine_tahoma(prefix):
    """Debian's Wine looks for the fonts it ships in /usr/share/fonts, and without them every
    Tahoma is DejaVu Sans. The window tests' prefix gets Wine's own Tahoma, the face the window
    asks for, in its Fonts folder, where Wine always looks."""
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    for name in ("tahoma.ttf", "tahomabd.ttf"):
        source = os.path.join(WINE_FONTS, name)
        if os.path.isdir(fonts) and os.path.exists(source) and not os.path.exists(os.path.join(fonts, name)):
            shutil.copy(source, fonts)
            print("note: %s copied into the prefix's Fonts folder" % name)


def finish():
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all checks passed")
    sys.exit(0)


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("case", choices=["automatic_download", "interaction", "aspi", "package"])
    p.add_argument("--exe", required=True)
    p.add_argument("--wine-run", required=True)
    p.add_argument("--work", required=True, help="a fresh folder for this run")
    p.add_argument("--shots", help="where screenshots are kept (default: WORK)")
    p.add_argument("--make-image", required=True)
    p.add_argument("--console", help="the native console program, for trace comparisons")
    p.add_argument("--artwork", help="the generated artwork folder")
    p.add_argument("--prefix", help="a Wine prefix of the window tests' own")
    p.add_argument("--pack", help="veltran-pack")
    p.add_argument("--launcher", help="unfurler.exe")
    opts = p.parse_args()
    if opts.case in ("automatic_download", "aspi") and not (opts.console and os.path.exists(opts.console)):
        sys.exit("the native console program (--console) is needed to compare traces; build the native preset first")
    # Other Wine tests run at the same time without a display; in a prefix of their own the window
    # tests' desktop always belongs to their display.
    if opts.prefix:
        os.environ["WINEPREFIX"] = opts.prefix
    # The first Wine program on this display may wait for the prefix and the desktop to come up:
    # let that happen before anything is timed.
    subprocess.run([opts.wine_run, "cmd", "/c", "exit", "0"], capture_output=True, timeout=120)
    if opts.prefix:
        install_wine_tahoma(opts.prefix)
    shutil.rmtree(opts.work, ignore_errors=True)
    os.makedirs(opts.work)
    opts.shots = opts.shots or opts.work
    os.makedirs(opts.shots, exist_ok=True)
    globals()["case_" + opts.case](opts)
    finish()


if __name__ == "__main__":
    main()
