#!/usr/bin/env python3
"""Makes the pictures that README.md shows, from the built programs:

    python3 tools/make-screenshots.py            # both
    python3 tools/make-screenshots.py tui        # the terminal front end
    python3 tools/make-screenshots.py window     # the window tester

tui: build/linux/bin/vesktest --demo 2 in a tmux server of its own, every
port started; the screen is captured with its colours, written out as an
HTML page and photographed by headless Chromium (docs/images/vesktest-tui.png).

window: build/mingw64/bin/vesktestw.exe under Wine on a private Xvfb display
(tests/ui/win32/with-xvfb.sh, a Wine prefix of its own in build/mingw64).
Two null-modem cables of pseudo-terminals, paced at 115200 bit/s 8N1: one
as COM5 and COM6 (links in the prefix's dosdevices), the other behind
ser2net as two RFC 2217 ports on 127.0.0.1. Every port runs full duplex;
ImageMagick's import takes the window (docs/images/vesktestw.png).

Needs what tools/install-deps.sh all installs (tmux, chromium, imagemagick;
wine64, xvfb, xdotool, ser2net) and the two builds (cmake --build
build/linux --target vesktest; cmake --build build/mingw64 --target
vesktestw qelnet). Waits for conditions, with bounds that catch hangs.
"""

import html
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = os.path.join(ROOT, "docs", "images")
SECONDS_RUNNING = 8  # how long the ports have run when the picture is taken


def fail(text):
    sys.exit("make-screenshots: " + text)


def wait_for(what, predicate, timeout):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.25)


# ---- the terminal front end -------------------------------------------

# The xterm colours the front end uses, as a terminal shows them.
PALETTE = ["#000000", "#cd0000", "#00cd00", "#cdcd00", "#0000ee", "#cd00cd", "#00cdcd",
           "#e5e5e5", "#7f7f7f", "#ff0000", "#00ff00", "#ffff00", "#5c5cff", "#ff00ff",
           "#00ffff", "#ffffff"]
FOREGROUND, BACKGROUND = "#e5e5e5", "#000000"


def screen_to_html(screen, title):
    """An HTML page of a tmux capture with escape sequences (capture-pane -e):
    the SGR attributes the front end uses (bold, underline, reverse, the 16
    colours), in a dark terminal."""
    out = []
    state = {"bold": False, "underline": False, "reverse": False, "fg": None, "bg": None}

    def apply(codes):
        codes = codes or [0]
        i = 0
        while i < len(codes):
            c = codes[i]
            if c == 0:
                state.update(bold=False, underline=False, reverse=False, fg=None, bg=None)
            elif c == 1:
                state["bold"] = True
            elif c == 22:
                state["bold"] = False
            elif c == 4:
                state["underline"] = True
            elif c == 24:
                state["underline"] = False
            elif c == 7:
                state["reverse"] = True
            elif c == 27:
                state["reverse"] = False
            elif 30 <= c <= 37:
                state["fg"] = c - 30
            elif 90 <= c <= 97:
                state["fg"] = c - 90 + 8
            elif c == 39:
                state["fg"] = None
            elif 40 <= c <= 47:
                state["bg"] = c - 40
            elif 100 <= c <= 107:
                state["bg"] = c - 100 + 8
            elif c == 49:
                state["bg"] = None
            elif c in (38, 48) and i + 2 < len(codes) and codes[i + 1] == 5:
                state["fg" if c == 38 else "bg"] = codes[i + 2] if codes[i + 2] < 16 else None
                i += 2
            i += 1

    def style():
        fg = PALETTE[state["fg"]] if state["fg"] is not None else FOREGROUND
        bg = PALETTE[state["bg"]] if state["bg"] is not None else BACKGROUND
        if state["reverse"]:
            fg, bg = bg, fg
        css = "color:%s;background:%s" % (fg, bg)
        if state["bold"]:
            css += ";font-weight:bold"
        if state["underline"]:
            css += ";text-decoration:underline"
        return css

    for line in screen.split("\n"):
        for part in re.split(r"(\x1b\[[0-9;]*m)", line):
            if part.startswith("\x1b["):
                apply([int(c) if c else 0 for c in part[2:-1].split(";")])
            elif part:
                out.append('<span style="%s">%s</span>' % (style(), html.escape(part)))
        out.append("\n")
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body style=\"margin:0;background:#5a5a5a\"><pre style=\"display:inline-block;"
            "margin:16px;padding:8px 10px;background:%s;color:%s;"
            "font:15px/18px 'DejaVu Sans Mono',monospace\">%s</pre></body></html>\n"
            % (html.escape(title), BACKGROUND, FOREGROUND, "".join(out).rstrip("\n")))


def photograph(page, shot, work):
    """Headless Chromium's picture of an HTML page, cut to the terminal."""
    browser = shutil.which("chromium") or fail("chromium is not installed")
    raw = os.path.join(work, "page.png")
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                    "--user-data-dir=" + os.path.join(work, "chromium"),
                    "--window-size=1400,700", "--screenshot=" + raw, "file://" + page],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    # The grey page around the terminal goes; a few pixels of it stay.
    # Quantized to a palette of 32 without dithering: a quarter of the
    # size, and the text stays as sharp as the terminal's colours are few.
    subprocess.run(["convert", raw, "-trim", "+repage", "-bordercolor", "#5a5a5a", "-border",
                    "6", "-dither", "None", "-colors", "32", "-strip", "PNG8:" + shot],
                   check=True, timeout=60)


def tui_picture():
    program = os.path.join(ROOT, "build", "linux", "bin", "vesktest")
    if not os.access(program, os.X_OK):
        fail(program + " is not built (cmake --build build/linux --target vesktest)")
    if not shutil.which("tmux"):
        fail("tmux is not installed")
    work = tempfile.mkdtemp(prefix="vesk-shot-")
    server = ["tmux", "-L", "vesk-shot-%d" % os.getpid(), "-f", "/dev/null"]
    try:
        command = ("cd %s && TERM=xterm-256color %s --demo 2 2>%s/err; echo $? >%s/exit"
                   % (work, program, work, work))
        subprocess.run(server + ["new-session", "-d", "-s", "shot", "-x", "100", "-y", "15",
                                 command], check=True)

        def screen(escapes=False):
            run = subprocess.run(server + ["capture-pane", "-p", "-t", "shot"] +
                                 (["-e", "-N"] if escapes else []),
                                 capture_output=True, text=True)
            return run.stdout

        def rows():
            return [line for line in screen().splitlines() if re.search(
                r"(/dev/|127\.0\.0\.1:)", line)]

        def elapsed(row):
            m = re.search(r" (\d+):(\d\d):(\d\d) ", row)
            return int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)) if m else 0

        wait_for("every port open and refreshed",
                 lambda: len(rows()) == 6 and all("....../../0000" in r for r in rows()), 60)
        subprocess.run(server + ["send-keys", "-t", "shot", "a"], check=True)
        wait_for("every row selected", lambda: all(r[1] == "*" for r in rows()), 10)
        subprocess.run(server + ["send-keys", "-t", "shot", "s"], check=True)
        wait_for("every port running for %d s" % SECONDS_RUNNING,
                 lambda: all(r.endswith("Rx/Tx") and elapsed(r) >= SECONDS_RUNNING
                             for r in rows()), 60)
        captured = screen(escapes=True)
        subprocess.run(server + ["send-keys", "-t", "shot", "q"], check=True)
        wait_for("the front end to end", lambda: os.path.exists(os.path.join(work, "exit")), 60)

        page = os.path.join(work, "screen.html")
        with open(page, "w") as f:
            f.write(screen_to_html(captured, "vesktest --demo 2"))
        shot = os.path.join(IMAGES, "vesktest-tui.png")
        photograph(page, shot, work)
        print("make-screenshots: " + os.path.relpath(shot, ROOT))
    finally:
        subprocess.run(server + ["kill-server"], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


# ---- the window tester --------------------------------------------------

class PacedCable:
    """Two pseudo-terminals whose masters a thread joins into a null-modem
    cable at `rate` characters a second each way (115200 bit/s 8N1)."""

    CHUNK = 0.01  # seconds of line time moved at once

    def __init__(self, rate=11520):
        self.rate = rate
        self.fds, self.masters, self.names = [], [], []
        for _ in range(2):
            master, slave = pty.openpty()
            tty.setraw(slave)
            os.set_blocking(master, False)
            self.fds += [master, slave]
            self.masters.append(master)
            self.names.append(os.ttyname(slave))
        self.done = False
        self.thread = threading.Thread(target=self._relay, daemon=True)
        self.thread.start()

    def _relay(self):
        a, b = self.masters
        ways = [[a, b, b"", 0.0], [b, a, b"", 0.0]]  # from, to, in flight, line free at
        while not self.done:
            now = time.monotonic()
            want_read = [w[0] for w in ways if not w[2] and w[3] <= now]
            want_write = [w[1] for w in ways if w[2]]
            due = [w[3] - now for w in ways if not w[2] and w[3] > now]
            readable, writable, _ = select.select(want_read, want_write, [], min(due + [0.05]))
            for w in ways:
                if w[0] in readable:
                    try:
                        data = os.read(w[0], max(1, int(self.rate * self.CHUNK)))
                    except OSError:
                        data = b""
                    w[3] = max(w[3], now) + len(data) / self.rate
                    w[2] = data
                if w[2] and w[1] in writable:
                    try:
                        w[2] = w[2][os.write(w[1], w[2]):]
                    except OSError:
                        w[2] = b""

    def close(self):
        self.done = True
        self.thread.join(timeout=5)
        for fd in self.fds:
            os.close(fd)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def metrics(path):
    """The metrics file as {series: value}; {} while there is none."""
    try:
        with open(path) as f:
            lines = f.read().splitlines()
    except OSError:
        return {}
    return dict(line.rsplit(" ", 1) for line in lines if line and not line.startswith("#"))


def window_picture_inside():
    """The window part, on the display and in the Wine prefix that
    with-xvfb.sh provides."""
    bin_dir = os.path.join(ROOT, "build", "mingw64", "bin")
    wine = os.path.join(ROOT, "cmake", "wine-run.sh")
    prefix = os.environ["VESK_WINEPREFIX"]
    subprocess.run([os.path.join(ROOT, "cmake", "wine-prefix.sh")], check=True,
                   stdout=subprocess.DEVNULL)
    # No window manager runs on the display: Wine draws the frame and the
    # title bar itself, so that the picture shows them.
    subprocess.run([wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                    "/d", "N", "/f"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    work = tempfile.mkdtemp(prefix="vesk-shot-")
    started, cables, links = [], [], []
    try:
        local, network = PacedCable(), PacedCable()
        cables += [local, network]
        for number, device in zip((5, 6), local.names):
            link = os.path.join(prefix, "dosdevices", "com%d" % number)
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(device, link)
            links.append(link)
        ports = [free_port(), free_port()]
        config = os.path.join(work, "ser2net.yaml")
        with open(config, "w") as f:
            for name, port, device in zip("ab", ports, network.names):
                f.write("connection: &%s\n" % name)
                f.write("  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n" % port)
                f.write("  connector: serialdev,%s,115200n81,local\n" % device)
        ser2net = shutil.which("ser2net") or "/usr/sbin/ser2net"
        started.append(subprocess.Popen([ser2net, "-n", "-d", "-u", "-c", config],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))

        def listening():
            # Read from the kernel's table, not by connecting: ser2net
            # serves one client per port, and a probe's connection could
            # still hold it when the tester's comes.
            with open("/proc/net/tcp") as f:
                rows = [line.split() for line in f.read().splitlines()[1:]]
            open_ports = {int(r[1].split(":")[1], 16) for r in rows if r[3] == "0A"}
            return all(port in open_ports for port in ports)
        wait_for("ser2net to listen", listening, 15)

        names = ["COM5", "COM6"] + ["127.0.0.1:%d" % p for p in ports]
        widths = [28, 145, 105, 105, 62, 55, 115, 84, 55]
        with open(os.path.join(work, "vesktestw.ini"), "w", newline="\r\n") as f:
            f.write("[Ports]\n" + "".join(n + "\n" for n in names))
            f.write("[Metrics]\nFile=vesktest.prom\nInterval=1\nStation=shot\n")
            f.write("[Window]\nLeft=20\nTop=20\nRight=810\nBottom=250\n[Columns]\n")
            f.write("".join("ColumnWidth%d=%d\n" % (i, w) for i, w in enumerate(widths)))
        started.append(subprocess.Popen([wine, os.path.join(bin_dir, "vesktestw.exe"),
                                         "./vesktestw.ini"], cwd=work,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))
        prom = os.path.join(work, "vesktest.prom")

        def state_of_all(state):
            m = metrics(prom)
            return all(m.get('vesktest_port_state{station="shot",unit="",port="%s",row="%d",'
                             'state="%s"}' % (n, i + 1, state)) == "1"
                       for i, n in enumerate(names))
        wait_for("every port open", lambda: state_of_all("stopped"), 120)
        window = wait_for("the window", lambda: subprocess.run(
            ["xdotool", "search", "--name", r"^VeskTest \(Win32\)"],
            capture_output=True, text=True).stdout.split(), 30)[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True, timeout=30)

        def keys(*names_):
            for k in names_:
                subprocess.run(["xdotool", "key", "--clearmodifiers", k], check=True, timeout=30)
                time.sleep(0.3)
        # Ports > All (the eighth item), then Ports > Start/Stop (the first).
        keys("alt+p", *(["Down"] * 7), "Return")
        keys("alt+p", "Return")
        wait_for("every port running both ways", lambda: state_of_all("both"), 30)
        # Only the first row stays selected, so the others show their colours.
        keys("Home")
        since = time.monotonic()
        wait_for("%d s of running" % SECONDS_RUNNING,
                 lambda: time.monotonic() - since >= SECONDS_RUNNING + 1, SECONDS_RUNNING + 5)
        shot = os.path.join(IMAGES, "vesktestw.png")
        subprocess.run(["import", "-window", window, "-strip", shot], check=True, timeout=60)
        print("make-screenshots: " + os.path.relpath(shot, ROOT))
        keys("alt+f", "x")
        try:
            started[-1].wait(timeout=60)
        except subprocess.TimeoutExpired:
            fail("the tester did not end after File > Exit")
    finally:
        for p in reversed(started):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        for link in links:
            os.unlink(link)
        for cable in cables:
            cable.close()
        shutil.rmtree(work, ignore_errors=True)


def window_picture():
    for program in ("vesktestw.exe", "qelnet.dll"):
        if not os.path.exists(os.path.join(ROOT, "build", "mingw64", "bin", program)):
            fail(program + " is not built in build/mingw64/bin "
                 "(cmake --build build/mingw64 --target vesktestw qelnet)")
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            fail(tool + " is not installed (tools/install-deps.sh all)")
    with_xvfb = os.path.join(ROOT, "tests", "ui", "win32", "with-xvfb.sh")
    prefix = os.path.join(ROOT, "build", "mingw64", "wine-shot-prefix")
    subprocess.run([with_xvfb, prefix, sys.executable, os.path.abspath(__file__),
                    "window-inside"], check=True)


def main():
    what = sys.argv[1:] or ["tui", "window"]
    os.makedirs(IMAGES, exist_ok=True)
    for part in what:
        if part == "tui":
            tui_picture()
        elif part == "window":
            window_picture()
        elif part == "window-inside":
            window_picture_inside()
        else:
            fail("usage: make-screenshots.py [tui] [window]")


if __name__ == "__main__":
    main()
