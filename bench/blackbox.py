#!/usr/bin/python3
"""Times a folder run through the real program from outside, as its user sees it.

Starts build/src/ui/sorvane on a fresh Xvfb, opens the folder dialog with the keyboard, types the
folder's path and times from the Return that closes the dialog to the summary box being mapped,
taken from X events. In the same session folderbench times the floor on an identical collection,
so the ratio compares the two side by side.

    xvfb-run is not needed; Xvfb and python3-xlib are (Debian: xvfb, python3-xlib).
    bench/blackbox.py [N] [--reps R] [--build DIR] [--dir PARENT]
"""

import argparse
import os
import shutil
import subprocess
import tempfile
import time

from Xlib import X, XK, display
from Xlib.ext import xtest

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
            time.sleep(0.0005)
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
    program = subprocess.Popen([os.path.join(args.build, "src/ui/sorvane")], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window, _ = next_map(d, 20)
        if window is None:
            raise RuntimeError("the window did not appear")
        time.sleep(1.0)  # start-up work done while the window idles
        # No window manager here: the keyboard goes where it is sent.
        d.set_input_focus(window, X.RevertToParent, X.CurrentTime)
        d.sync()
        press(d, "Tab", shift=True)  # from "Файл" back to "Папка"
        press(d, "Return")
        dialog, _ = next_map(d, 20)
        if dialog is None:
            raise RuntimeError("the folder dialog did not appear")
        time.sleep(1.0)
        d.set_input_focus(dialog, X.RevertToParent, X.CurrentTime)
        d.sync()
        type_text(d, folder)
        time.sleep(1.0)
        start = time.monotonic()
        press(d, "Return")
        # The summary is the last window mapped; a run past a second maps its progress first.
        mapped_at = None
        while True:
            window, seen = next_map(d, 3.0)
            if window is None:
                break
            mapped_at = seen
        if mapped_at is None:
            raise RuntimeError("no summary appeared")
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
    args = parser.parse_args()
    bench = os.path.join(args.build, "bench/folderbench")
    # A fresh folder of our own, so cleaning up never touches what --dir already held.
    work = tempfile.mkdtemp(dir=args.dir, prefix="blackbox-")
    args.home = os.path.join(work, "home")
    os.mkdir(args.home)
    folder = os.path.join(work, "run")
    dpy_name = ":71"
    server = subprocess.Popen(["Xvfb", dpy_name, "-screen", "0", "1280x900x24"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    try:
        print("%8s %14s %14s %8s" % ("N", "window us/file", "floor us/file", "ratio"))
        for _ in range(args.reps):
            subprocess.run([bench, "--write", str(args.n), folder], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            window = window_run(args, folder, dpy_name) / args.n * 1e6
            renamed = sum(1 for name in os.listdir(folder) if not name.startswith("track"))
            if renamed < args.n * 7 // 10:
                raise RuntimeError("the window renamed %d files of %d" % (renamed, args.n))
            shutil.rmtree(folder)
            out = subprocess.run([bench, "--only", "floor", "--reps", "1", "--dir", work,
                                  str(args.n)], check=True, capture_output=True, text=True)
            floor = float(out.stdout.split()[2])
            print("%8d %14.2f %14.2f %8.2f" % (args.n, window, floor, window / floor), flush=True)
    finally:
        server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
