#!/usr/bin/env python3
"""Smoke test of the real tester program under Wine on an X display.

    gui_smoke.py <bin dir> <artifact dir> <wine runner> [--without-library]

Run it through with-xvfb.sh, which provides DISPLAY and the Wine prefix and
ends every Wine process and the display afterwards. This script starts and
always ends the device server: two pseudo-terminals joined into a
null-modem cable by socat, and ser2net serving each end over RFC 2217 on
127.0.0.1. The configuration lists the two network ports and a COM port
that does not exist.

What must hold: the window comes up with its title and three rows, the
missing COM port shows "Not open"; the key z and then Start/Stop from the
Ports menu, typed as real keyboard input, make the first port a running
master and the second a running slave, and blocks go round, which the
metrics file of [Metrics] shows as well; a close request ends the program
with exit code 1, the metrics file's last version saying so; the
configuration file then holds [Misc], [Serial], [Window] and [Columns] in
that order and its [Ports] and [Metrics] sections as they were. The
screenshot of the running window is kept in the artifact folder.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

BIN, ARTIFACTS, WINE = sys.argv[1], sys.argv[2], sys.argv[3]
# The build has no network library (its folder is not in the tree): the
# network ports cannot open, so there is nothing to run. CTest shows a skip.
SKIP_CODE = 77
if "--without-library" in sys.argv[4:]:
    print("SKIP: this build has no network library (qelnet) for the network ports")
    sys.exit(SKIP_CODE)
TITLE = "VeskTest (Win32) - ver 1.1.2 (build 001)"


def log(text):
    print(text, flush=True)


def fail(text):
    log("FAIL: " + text)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, predicate, timeout, show=None):
    """Polls `predicate` until it gives a true value, which it returns. On
    time-out fails, with what `show` says about the state it stopped in."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what + (":\n" + show() if show else ""))
        time.sleep(0.5)


def probe():
    """The window as list_probe reads it from outside, or None."""
    run = subprocess.run([WINE, os.path.join(BIN, "list_probe.exe")],
                         capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        return None
    window = {"rows": []}
    for line in run.stdout.splitlines():
        key, _, value = line.partition("=")
        if key == "rows":
            window["count"] = int(value)
        elif key.startswith("row"):
            cells = value.split("|")
            window["rows"].append({"cells": cells[:9], "selected": cells[9] == "1"})
        else:
            window[key] = value
    return window


def probe_text():
    w = probe()
    return describe(w) if w else "(no window)"


def window_where(check):
    """A predicate for wait_for: the probed window when `check` holds."""
    def predicate():
        w = probe()
        return w if w and check(w) else None
    return predicate


def states(window):
    return [row["cells"][8] for row in window["rows"]]


def describe(window):
    return "\n".join(["  " + "|".join(r["cells"]) + (" *" if r["selected"] else "")
                      for r in window["rows"]])


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=30)


def sections(path):
    with open(path, newline="") as f:
        text = f.read()
    order = re.findall(r"^\[([^\]]+)\]", text, flags=re.M)
    ports = re.search(r"^\[Ports\]\r?\n((?:[^\[].*\r?\n)*)", text, flags=re.M)
    return order, ports.group(1) if ports else None


def metrics():
    """The metrics file as {series: value}, or {} while there is none."""
    try:
        with open(os.path.join(ARTIFACTS, "vesktest.prom")) as f:
            lines = f.read().splitlines()
    except OSError:
        return {}
    return dict(line.rsplit(" ", 1) for line in lines if line and not line.startswith("#"))


def port_series(name, row, port, extra=""):
    return '%s{station="gui-bench",unit="",port="%s",row="%d"%s}' % (name, port, row, extra)


def main():
    for program in ("vesktestw.exe", "qelnet.dll", "list_probe.exe"):
        if not os.path.exists(os.path.join(BIN, program)):
            fail(program + " is not built in " + BIN + " (build the default target)")
    shutil.rmtree(ARTIFACTS, ignore_errors=True)
    os.makedirs(ARTIFACTS)
    started = []

    def start(args, **kw):
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, **kw)
        started.append(p)
        return p

    try:
        cable_a = os.path.join(ARTIFACTS, "ttyA")
        cable_b = os.path.join(ARTIFACTS, "ttyB")
        with open(os.path.join(ARTIFACTS, "socat.log"), "w") as socat_log:
            start(["socat", "pty,raw,echo=0,link=" + cable_a,
                   "pty,raw,echo=0,link=" + cable_b], stdout=socat_log, stderr=socat_log)
        wait_for("the pty cable", lambda: os.path.exists(cable_a) and os.path.exists(cable_b), 10)

        port_a, port_b = free_port(), free_port()
        config = os.path.join(ARTIFACTS, "ser2net.yaml")
        with open(config, "w") as f:
            for name, port, device in (("a", port_a, cable_a), ("b", port_b, cable_b)):
                f.write("connection: &%s\n" % name)
                f.write("  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n" % port)
                f.write("  connector: serialdev,%s,115200n81,local\n" % device)
        ser2net = shutil.which("ser2net") or "/usr/sbin/ser2net"
        with open(os.path.join(ARTIFACTS, "ser2net.log"), "w") as s2n_log:
            start([ser2net, "-n", "-d", "-u", "-c", config], stdout=s2n_log, stderr=s2n_log)

        def listening():
            for port in (port_a, port_b):
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                except OSError:
                    return False
            return True
        # A probing connection comes and goes before the tester connects;
        # ser2net serves one client per device at a time.
        wait_for("ser2net to listen", listening, 15)
        time.sleep(0.5)

        ini = os.path.join(ARTIFACTS, "vesktestw.ini")
        ports = "127.0.0.1:%d\n127.0.0.1:%d\nCOM200\n" % (port_a, port_b)
        # HDTimeout 0: the master waits as long as the block takes at the
        # line's speed, so that its echoes are checked, not timed out.
        with open(ini, "w", newline="\r\n") as f:
            f.write("[Ports]\n" + ports + "[Metrics]\nFile=vesktest.prom\nInterval=1\n"
                    "Station=gui-bench\n[Misc]\nHDTimeout=0\n")
        ports_before = sections(ini)[1]
        with open(ini) as f:
            metrics_section = re.search(r"^\[Metrics\]\n(?:[^\[].*\n)*", f.read(), flags=re.M).group(0)

        log("starting the tester")
        tester = start([WINE, os.path.join(BIN, "vesktestw.exe"), "./vesktestw.ini"],
                       cwd=ARTIFACTS, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        window = wait_for("the window with three rows, every port past opening",
                          window_where(lambda w: len(w["rows"]) == 3 and all(
                              s in ("", "Not open") for s in states(w))), 90, probe_text)
        log("window:\n" + describe(window))
        if window["title"] != TITLE:
            fail("title %r" % window["title"])
        names = [r["cells"][1] for r in window["rows"]]
        if names != ["127.0.0.1:%d" % port_a, "127.0.0.1:%d" % port_b, "COM200"]:
            fail("names %r" % names)
        if [r["cells"][0] for r in window["rows"]] != ["1", "2", "3"]:
            fail("row numbers")
        if states(window) != ["", "", "Not open"]:
            fail("states %r: both network ports must open" % states(window))
        if not window["status"].startswith("Comm setting: 115200,8,None,1"):
            fail("status bar %r" % window["status"])
        # The refresh fills the open rows' counters; the missing port's stay
        # empty but for why it did not open, in the error description.
        window = wait_for("the first refresh", window_where(lambda w: all(
            r["cells"][6] == "....../../0000" for r in w["rows"][:2])), 10, probe_text)
        missing = window["rows"][2]["cells"]
        if missing[2:6] != [""] * 4 or missing[7] != "":
            fail("the missing port's row was refreshed: %r" % missing)
        if not missing[6] or missing[6].startswith("...."):
            fail("the missing port's row does not say why it did not open: %r" % missing)

        windows = subprocess.run(["xdotool", "search", "--name", "^VeskTest \\(Win32\\)"],
                                 capture_output=True, text=True).stdout.split()
        if not windows:
            fail("no X window for the tester")
        xdotool("windowfocus", "--sync", windows[0])
        time.sleep(0.5)

        log("key z")
        xdotool("key", "--clearmodifiers", "z")
        window = wait_for("M and S after z", window_where(
            lambda w: states(w) == ["M", "S", "Not open"]), 15, probe_text)
        if not all(r["selected"] for r in window["rows"]):
            fail("z leaves every row selected")

        log("Ports > Start/Stop")
        xdotool("key", "--clearmodifiers", "alt+p")
        time.sleep(1)
        xdotool("key", "--clearmodifiers", "Return")
        window = wait_for("M/Tx and S/Rx", window_where(
            lambda w: states(w) == ["M/Tx", "S/Rx", "Not open"]), 15, probe_text)

        def blocks(cell):
            """The block count of a "bytes/blocks" cell."""
            _, _, count = cell.partition("/")
            return int(count) if count.isdigit() else 0

        # The master sends blocks, the slave receives and echoes them, and
        # the master gets them back intact.
        blocks_went_round = window_where(lambda w: blocks(w["rows"][0]["cells"][3]) >= 3 and
                                         blocks(w["rows"][1]["cells"][2]) >= 3 and
                                         blocks(w["rows"][0]["cells"][2]) >= 3)
        window = wait_for("blocks from master to slave and back", blocks_went_round, 30,
                          probe_text)
        log("running:\n" + describe(window))
        names = ["127.0.0.1:%d" % port_a, "127.0.0.1:%d" % port_b, "COM200"]

        def metrics_show_the_test():
            m = metrics()
            wanted = [(port_series("vesktest_port_state", 1, names[0], ',state="master"'), "1"),
                      (port_series("vesktest_port_state", 2, names[1], ',state="slave"'), "1"),
                      (port_series("vesktest_port_state", 3, names[2], ',state="not open"'), "1")]
            received = m.get(port_series("vesktest_port_received_blocks_total", 2, names[1]), "0")
            return m if all(m.get(k) == v for k, v in wanted) and int(received) >= 3 else None
        wait_for("the metrics file to show the master, the slave, the missing port and the "
                 "blocks received", metrics_show_the_test, 30, lambda: repr(metrics()))
        promtool = shutil.which("promtool")
        if promtool:
            lint = subprocess.run([promtool, "check", "metrics"], capture_output=True, text=True,
                                  stdin=open(os.path.join(ARTIFACTS, "vesktest.prom")))
            if lint.returncode != 0:
                fail("promtool refuses the metrics file: " + lint.stdout + lint.stderr)
        shot = os.path.join(ARTIFACTS, "vesktestw.png")
        subprocess.run(["import", "-window", "root", shot], check=True, timeout=60)
        log("screenshot: " + shot)

        log("close request (File > Exit)")
        xdotool("key", "--clearmodifiers", "alt+f")
        time.sleep(1)
        xdotool("key", "--clearmodifiers", "x")
        try:
            code = tester.wait(timeout=60)
        except subprocess.TimeoutExpired:
            fail("the tester did not end after the close request")
        if code != 1:
            fail("exit code %d, not 1" % code)

        last = metrics()
        if last.get('vesktest_run_running{station="gui-bench",unit=""}') != "0" or any(
                last.get(port_series("vesktest_port_state", row, names[row - 1],
                                     ',state="stopped"')) != "1" for row in (1, 2)):
            fail("the last metrics file does not say the session ended: %r" % last)
        order, ports_after = sections(ini)
        log("sections: %r" % order)
        if order != ["Ports", "Metrics", "Misc", "Serial", "Window", "Columns"]:
            fail("sections %r" % order)
        with open(ini) as f:
            saved = f.read()
        if saved.count("HDTimeout=") != 1 or "HDTimeout=0" not in saved:
            fail("HDTimeout not rewritten in place:\n" + saved)
        if ports_after != ports_before:
            fail("[Ports] changed: %r" % ports_after)
        if metrics_section not in saved:
            fail("[Metrics] changed:\n" + saved)
        log("PASS")
    finally:
        for p in reversed(started):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


if __name__ == "__main__":
    main()
