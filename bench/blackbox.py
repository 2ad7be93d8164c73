#!/usr/bin/python3
"""Times a folder run through the real program from outside, as its user sees it.

Starts build/src/sorvane on a fresh Xvfb, opens the folder dialog with the keyboard, types the
folder's path and times from the Return that closes the dialog to the summary box being mapped,
taken from X events. In the same session folderbench times the floor on an identical collection,
so the ratio compares the two side by side.

    xvfb-run is not needed; Xvfb and python3-xlib are (Debian: xvfb, python3-xlib).
    bench/blackbox.py [N] [--reps R] [--build DIR] [--dir PARENT] [--display :71]
                      [--strace-delay-us U]

With --strace-delay-us, strace delays every file call of both programs by U µs before it
enters the kernel, as a round trip to a share would. strace stops both programs at each such
call through one tracer, so it understates what overlapping the reads gains.
"""

import argparse
import os
import select
import shutil
import subprocess
import tempfile
import time

from Xlib import X, XK, display
from Xlib.ext import xtest

# The calls a folder run makes on files and folders. read and write are left out: in the window
# they are mostly the X connection and the event loop's wake-ups, which a share does not slow.
FILE_CALLS = ("openat,open,close,fstat,newfstatat,statx,pread64,lseek,getdents64,"
              "renameat2,renameat,rename,linkat,unlinkat,fsync,fdatasync,flock")


def traced(args, command):
    if not args.strace_delay_us:
        return command
    return ["strace", "-f", "-qq", "--seccomp-bpf", "-o", "/dev/null", "-e", "trace=" + FILE_CALLS,
            "-e", "inject=%s:delay_enter=%d" % (FILE_CALLS, args.strace_delay_us)] + command


KEYSYM_NAMES = {"/": "slash", "-": "minus", ".": "period", "_": "underscore"}


def press(d, name, shift=False):
    code = d.keysym_to_keycode(XK.string_to_keysym(name))
    shift_code = d.keysym_to_keycode(XK.XK_Shift_L)
    if shift:
        xtest.fake_input(d, X.KeyPress, shift_code)
    xtest.fake_input(d, X.KeyPress, code)
    xtest.fake_input(d, X.KeyRelease, code)
    if shift:
        xtest.fake_input(d, X.KeyRelease, shift_code)
    d.sync()


def type_text(d, text):
    for c in text:
        # The keyboard is Xvfb's US one: "_" and capitals are shifted keys.
        press(d, KEYSYM_NAMES.get(c, c), shift=c == "_" or c.isupper())
        time.sleep(0.005)


def next_map(d, timeout):
    """The next top-level window mapped within timeout seconds, with the time it was seen."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if d.pending_events() == 0:
            # Asleep on the X socket, not polling: a poll every half millisecond took a few
            # percent of a core from the program on two, and saw the map up to then late.
            select.select([d], [], [], max(0.0, end - time.monotonic()))
            continue
        event = d.next_event()
        if event.type == X.MapNotify:
            return event.window, time.monotonic()
    return None, None


def window_run(args, folder, dpy_name):
    d = display.Display(dpy_name)
    d.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
    env = dict(os.environ, DISPLAY=dpy_name, HOME=args.home, LC_ALL="C.UTF-8")
    env.pop("QT_QPA_PLATFORMTHEME", None)
    env.pop("QT_QPA_PLATFORM", None)
    program = subprocess.Popen(traced(args, [os.path.join(args.build, "src/sorvane")]), env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window, _ = next_map(d, 120)
        if window is None:
            raise RuntimeError("the window did not appear")
        time.sleep(args.settle)  # start-up work done while the window idles
        # No window manager here: the keyboard goes where it is sent.
        d.set_input_focus(window, X.RevertToParent, X.CurrentTime)
        d.sync()
        press(d, "Tab", shift=True)  # from "Файл" back to "Папка"
        press(d, "Return")
        dialog, _ = next_map(d, 20)
        if dialog is None:
            raise RuntimeError("the folder dialog did not appear")
        time.sleep(args.settle)
        d.set_input_focus(dialog, X.RevertToParent, X.CurrentTime)
        d.sync()
        type_text(d, folder)
        time.sleep(args.settle)
        start = time.monotonic()
        press(d, "Return")
        # The summary is the last window mapped; a run past a second maps its progress first.
        mapped_at = summary = None
        while True:
            window, seen = next_map(d, args.quiet)
            if window is None:
                break
            summary, mapped_at = window, seen
        if mapped_at is None:
            raise RuntimeError("no summary appeared")
        # The summary waits for the user; a progress dialog mapped last would be gone by now.
        if summary.get_attributes().map_state != X.IsViewable:
            raise RuntimeError("the last window mapped is not the summary")
        press(d, "Escape")
        return mapped_at - start
    finally:
        program.kill()
        program.wait()
        d.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("n", nargs="?", type=int, default=20000)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--dir", default=os.getcwd(), help="parent of the run's own fresh folder")
    parser.add_argument("--display", default=":71", help="the Xvfb display to start")
    parser.add_argument("--strace-delay-us", type=int, default=0,
                        help="delay every file call of both programs by this many µs")
    args = parser.parse_args()
    bench = os.path.join(args.build, "bench/folderbench")
    # Slowed calls stretch start-up and the gap between the progress dialog and the summary.
    args.settle = 5.0 if args.strace_delay_us else 1.0
    args.quiet = 3.0 + args.n * 6 * args.strace_delay_us / 1e6
    # A fresh folder of our own, so cleaning up never touches what --dir already held.
    work = tempfile.mkdtemp(dir=args.dir, prefix="blackbox-")
    args.home = os.path.join(work, "home")
    os.mkdir(args.home)
    folder = os.path.join(work, "run")
    dpy_name = args.display
    server = subprocess.Popen(["Xvfb", dpy_name, "-screen", "0", "1280x900x24"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    try:
        print("%8s %14s %14s %8s" % ("N", "window us/file", "floor us/file", "ratio"))
        runs = {"window": [], "floor": [], "ratio": []}
        for _ in range(args.reps):
            subprocess.run([bench, "--write", str(args.n), folder], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            window = window_run(args, folder, dpy_name) / args.n * 1e6
            renamed = sum(1 for name in os.listdir(folder) if not name.startswith("track"))
            if renamed < args.n * 7 // 10:
                raise RuntimeError("the window renamed %d files of %d" % (renamed, args.n))
            shutil.rmtree(folder)
            out = subprocess.run(traced(args, [bench, "--only", "floor", "--reps", "1", "--dir",
                                               work, str(args.n)]),
                                 check=True, capture_output=True, text=True)
            floor = float(out.stdout.split()[2])
            print("%8d %14.2f %14.2f %8.2f" % (args.n, window, floor, window / floor), flush=True)
            for name, value in (("window", window), ("floor", floor), ("ratio", window / floor)):
                runs[name].append(value)
        # The spread, not the median alone: on two shared cores one run may be far off the next.
        for name, values in runs.items():
            values.sort()
            print("%-6s min %.2f median %.2f max %.2f of %d: %s" %
                  (name, values[0], values[len(values) // 2], values[-1], len(values),
                   " ".join("%.2f" % v for v in values)))
    finally:
        # Gone before we return, so a run started right after can have the display.
        server.kill()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
