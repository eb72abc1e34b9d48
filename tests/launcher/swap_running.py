#!/usr/bin/env python3
"""Runs a package and, the moment it is executed, lets an unprivileged attacker put another
package under its name; the launcher must install the package that is running, never the other.
  swap_running.py MODE ROUNDS FOLDER PACKAGE OTHER SYSDIR EXPECTED_TOOL
MODE: deleted (unlinks the package, puts the other under "NAME (deleted)"), rename (moves the
package away, the other in its place) or exchange (swaps the two names atomically)."""
import ctypes
import os
import shutil
import sys

mode, rounds, folder, package, other, sysdir, expected = sys.argv[1:8]
NOBODY = 65534
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2


def attack(name, evil):
    if mode == "deleted":
        os.unlink(name)
        shutil.copyfile(evil, name + " (deleted)")
    elif mode == "rename":
        os.rename(name, name + ".away")
        os.rename(evil, name)
    elif libc.renameat2(AT_FDCWD, name.encode(), AT_FDCWD, evil.encode(), RENAME_EXCHANGE) != 0:
        raise OSError(ctypes.get_errno(), "renameat2")


def one_round(n):
    for item in os.listdir(folder):
        os.unlink(os.path.join(folder, item))
    name, evil = os.path.join(folder, "package"), os.path.join(folder, "other")
    shutil.copyfile(package, name)
    os.chmod(name, 0o755)
    shutil.copyfile(other, evil)  # not executable: only the launcher's own reading can reach it
    os.chown(evil, NOBODY, NOBODY)
    installed = os.path.join(sysdir, "VELTRAN.exe")
    if os.path.exists(installed):
        os.unlink(installed)
    started_r, started_w = os.pipe2(os.O_CLOEXEC)
    attacker = os.fork()
    if attacker == 0:
        os.close(started_w)
        os.setgroups([])
        os.setresgid(NOBODY, NOBODY, NOBODY)
        os.setresuid(NOBODY, NOBODY, NOBODY)
        os.read(started_r, 1)  # end of file: the package has been executed
        attack(name, evil)
        os._exit(0)
    launcher = os.fork()
    if launcher == 0:
        os.chdir(folder)
        os.execv(name, [name])
    os.close(started_r)
    os.close(started_w)
    _, attacked = os.waitpid(attacker, 0)
    _, status = os.waitpid(launcher, 0)
    if attacked != 0:
        sys.exit(f"{mode} round {n}: the attacker failed ({attacked})")
    code = os.waitstatus_to_exitcode(status)
    if not os.path.exists(installed):
        sys.exit(f"{mode} round {n}: no tool installed (exit code {code})")
    with open(installed, "rb") as a, open(expected, "rb") as b:
        if a.read() != b.read():
            sys.exit(f"{mode} round {n}: the other package's tool was installed (exit code {code})")
    if code != 0:
        sys.exit(f"{mode} round {n}: exit code {code}")


os.chown(folder, NOBODY, NOBODY)
for n in range(int(rounds)):
    one_round(n)
print(f"ok: {mode}: {rounds} rounds installed the running package")
