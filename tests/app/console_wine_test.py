#!/usr/bin/env python3
"""vesktest.exe, the console tester for Windows, run under Wine as a script
on a Windows bench runs it.

    console_wine_test.py <bin dir> <wine runner> <record checker> <work dir>

The serial lines are real Win32 COM ports: a link dosdevices/comN in the
Wine prefix to a pseudo-terminal makes COMn a serial port for the program,
and a relay here joins two such pseudo-terminals into a cable (and can stop
one direction of it). The network ports are those of ser2net serving the
two ends of such a cable, and those of the demo's own device server, which
runs inside vesktest.exe over Winsock. <record checker> is the Linux
suite's check_run_record.py, which holds the JSON record and the JUnit file
to the final table. Each case prints PASS or FAIL; any failure fails the
test.
"""

import json
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

BIN, WINE_RUN, RECORD_CHECK, WORK = (os.path.abspath(a) for a in sys.argv[1:5])
VESKTEST = os.path.join(BIN, "vesktest.exe")
PREFIX = os.environ.get("VESK_WINEPREFIX") or os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(WINE_RUN))), "build", "wine-prefix")
# Catches hangs, not timing.
LONG = 120
failures = []


class Failed(Exception):
    pass


def expect(condition, what, output=""):
    if not condition:
        raise Failed(what + ("\n--- output ---\n" + output if output else ""))


def wait_for(what, predicate, timeout=LONG):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise Failed("timed out waiting for " + what)
        time.sleep(0.05)


class Cable:
    """Two pseudo-terminals linked as COM ports of the prefix, their masters
    joined by a thread: a null-modem cable at `rate` characters a second
    each way (115200 bit/s, 10 bits a character). stop_a_to_b() cuts what
    the first port sends from then on."""

    CHUNK = 0.01  # seconds of line time moved at once

    def __init__(self, com_a, com_b, rate=11520):
        self.rate = rate
        self.links, self.fds = [], []
        self.masters = [self._port(com_a), self._port(com_b)]
        self.moved = [0, 0]  # bytes a to b, b to a
        self.cut = False
        self.done = False
        self.thread = threading.Thread(target=self._relay, daemon=True)
        self.thread.start()

    def _port(self, number):
        master, slave = pty.openpty()
        tty.setraw(slave)
        os.set_blocking(master, False)
        self.fds += [master, slave]
        link = os.path.join(PREFIX, "dosdevices", "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(slave), link)
        self.links.append(link)
        return master

    def _relay(self):
        a, b = self.masters
        ways = [[a, b, b"", 0.0], [b, a, b"", 0.0]]  # from, to, in flight, line free at
        while not self.done:
            now = time.monotonic()
            # A way takes its next chunk once the line has carried the last
            # one, and once the receiver has taken it: a receiver that does
            # not read holds its sender off, as a full line would.
            want_read = [w[0] for w in ways if not w[2] and w[3] <= now]
            want_write = [w[1] for w in ways if w[2]]
            due = [w[3] - now for w in ways if not w[2] and w[3] > now]
            readable, writable, _ = select.select(want_read, want_write, [],
                                                  min(due + [0.05]))
            for way, w in enumerate(ways):
                if w[0] in readable:
                    try:
                        data = os.read(w[0], max(1, int(self.rate * self.CHUNK)))
                    except OSError:
                        data = b""
                    w[3] = max(w[3], now) + len(data) / self.rate
                    if not (way == 0 and self.cut):  # taken, never delivered
                        w[2] = data
                if w[1] in writable and w[2]:
                    try:
                        n = os.write(w[1], w[2])
                    except OSError:
                        n = 0
                    self.moved[way] += n
                    w[2] = w[2][n:]

    def stop_a_to_b(self):
        self.cut = True

    def close(self):
        self.done = True
        self.thread.join()
        for link in self.links:
            if os.path.lexists(link):
                os.unlink(link)
        for fd in self.fds:
            os.close(fd)


def start_vesktest(args, cwd):
    return subprocess.Popen([WINE_RUN, VESKTEST] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def vesktest(args, cwd):
    p = start_vesktest(args, cwd)
    try:
        out = p.communicate(timeout=3 * LONG)[0]
    except subprocess.TimeoutExpired:
        p.kill()
        raise Failed("vesktest.exe %s did not end\n%s" % (" ".join(args), p.communicate()[0]))
    return p.returncode, out


def write_config(directory, ports, baud_rate=115200):
    path = os.path.join(directory, "bench.ini")
    with open(path, "w", newline="\r\n") as f:
        f.write("[Ports]\n" + "".join(p + "\n" for p in ports))
        f.write("[Serial]\nBaudRate=%d\n" % baud_rate)
    return path


def check_records(directory, code, out):
    """The JSON record and JUnit file say what the table says."""
    with open(os.path.join(directory, "out.txt"), "w") as f:
        f.write(out)
    r = subprocess.run([sys.executable, RECORD_CHECK] +
                       [os.path.join(directory, n) for n in ("report.csv", "run.json",
                                                             "junit.xml", "out.txt")] +
                       [str(code)], capture_output=True, text=True)
    expect(r.returncode == 0, "the records disagree with the table:\n" + r.stdout + r.stderr, out)


RECORDS = ["--report", "report.csv", "--json", "run.json", "--junit", "junit.xml"]


def case_command_line(d):
    code, out = vesktest(["--version"], d)
    expect(code == 0 and out.strip() == "VeskTest (Win32) - ver 1.1.2 (build 001)",
           "--version", out)
    code, out = vesktest(["--help"], d)
    expect(code == 0, "--help exits with 0", out)
    for words in ("The terminal front end is Linux only",
                  "(Pairs of pseudo-terminals are Linux only.)",
                  "sqlite: and postgresql:// are Linux's"):
        expect(words in out, "--help says: " + words, out)
    code, out = vesktest(["bench.ini"], d)
    expect(code == 5 and "the terminal front end is Linux only" in out,
           "without --batch: exit 5 and why", out)
    code, out = vesktest(["--batch", "2", "--db", "sqlite:runs.db", "bench.ini"], d)
    expect(code == 2 and "--db sqlite: is the Linux vesktest's embedded store" in out and
           "odbc:Driver={SQLite3 ODBC Driver};Database=FILE" in out,
           "--db sqlite: is refused with exit 2, and the odbc: way named", out)


def case_com_ports_learn_the_wiring(d):
    # Crossed on the bench: COM7 with COM9, COM8 with COM12 (above COM9,
    # which Windows opens only as \\.\COM12).
    cables = [Cable(7, 9), Cable(8, 12)]
    try:
        config = write_config(d, ["COM7", "COM8", "COM9", "COM12"])
        code, out = vesktest(["--batch", "2", "--unit", "SN-W7", "--operator", 'Ana "A" Lee'] +
                             RECORDS + [config], d)
    finally:
        for cable in cables:
            cable.close()
    expect(code == 0, "a clean run over COM ports passes (exit %d)" % code, out)
    expect(re.search(r"^vesktest: wiring: 1-3, 2-4 \(probed in \d+\.\d s\)$", out, re.M),
           "the learned wiring is printed", out)
    expect("4 ports configured, 4 opened, 0 not opened, 0 failing: passed" in out,
           "the verdict line", out)
    check_records(d, code, out)
    with open(os.path.join(d, "run.json")) as f:
        run = json.load(f)["run"]
    expect(run["unit"] == "SN-W7" and run["outcome"] == "PASS", "the record's run: %r" % run)
    # Quoted as a Windows program's command line is split, so that the line
    # runs again as it stands in the record.
    expect(run["operator"] == 'Ana "A" Lee' and
           '--operator "Ana \\"A\\" Lee" --report' in run["command_line"],
           "the command line as cmd would take it: " + run["command_line"])


def case_a_direction_that_stops(d):
    cable = Cable(7, 8)
    try:
        config = write_config(d, ["COM7", "COM8"])
        p = start_vesktest(["--batch", "6", "--stall", "2", "--report", "report.csv", config], d)
        # Blocks cross both ways first; then the first port's go nowhere.
        wait_for("the test traffic", lambda: min(cable.moved) > 20000)
        cable.stop_a_to_b()
        out = p.communicate(timeout=3 * LONG)[0]
        code = p.returncode
    finally:
        cable.close()
    expect(code == 3, "a line that stops fails the run with exit 3 (exit %d)" % code, out)
    verdict = re.search(r"^vesktest: 2 ports configured, 2 opened, 0 not opened, 1 failing: "
                        r"FAILED: port 2 \(COM8\): received (\d+) of the (\d+) blocks port 1 sent"
                        r"(, last block cut short: \d+ of 1024 bytes)?"
                        r", nothing received for \d+\.\d s from \d\d:\d\d:\d\d$", out, re.M)
    expect(verdict, "the Linux run's words for a line that stopped", out)
    expect(int(verdict.group(1)) < int(verdict.group(2)), "fewer blocks came than went", out)


def listening(port):
    """ser2net listens on 127.0.0.1:port (state 0A in /proc/net/tcp): looked
    up rather than probed, since ser2net serves one client a port."""
    with open("/proc/net/tcp") as f:
        return any(line.split()[1] == "0100007F:%04X" % port and line.split()[3] == "0A"
                   for line in f.readlines()[1:])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def case_network_ports_of_ser2net(d):
    ser2net = shutil.which("ser2net") or "/usr/sbin/ser2net"
    if not os.path.exists(ser2net):
        print("SKIP: no ser2net (apt-get install ser2net)")
        return
    # A cable whose ends ser2net serves; its COM links are not used here.
    # A fast line: the library's socket buffers on the loopback hold a
    # hundred kilobytes or more under Wine, which a slow line takes long to
    # drain.
    cable = Cable(10, 11, rate=92160)
    ports = [free_port(), free_port()]
    with open(os.path.join(d, "ser2net.yaml"), "w") as f:
        for name, port, link in zip("ab", ports, cable.links):
            f.write("connection: &%s\n" % name)
            f.write("  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n" % port)
            f.write("  connector: serialdev,%s,921600n81,local\n" % os.path.realpath(link))
    server = subprocess.Popen([ser2net, "-n", "-d", "-u", "-c", os.path.join(d, "ser2net.yaml")],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        wait_for("ser2net to listen", lambda: all(listening(p) for p in ports), 30)
        config = write_config(d, ["127.0.0.1:%d" % p for p in ports], 921600)
        code, out = vesktest(["--batch", "2", "--unit", "SN-W8"] + RECORDS + [config], d)
    finally:
        server.terminate()
        server.wait()
        cable.close()
    expect(code == 0, "a run over ser2net's ports passes (exit %d)" % code, out)
    expect("2 ports configured, 2 opened, 0 not opened, 0 failing: passed" in out,
           "the verdict line", out)
    check_records(d, code, out)


def case_demo_on_windows(d):
    # The demo's device server runs in the program, over Winsock: two
    # pairs of its network ports, paced cables inside the program, modem
    # lines and breaks as UARTs have them.
    code, out = vesktest(["--demo", "2", "--batch", "2", "--wiring", "pairs", "--lines",
                          "--check-break", "--unit", "SN-W9"] + RECORDS, d)
    expect(code == 0, "the demo passes (exit %d)" % code, out)
    expect(re.search(r"^vesktest: wiring: 1-2, 3-4 \(probed in ", out, re.M), "the wiring", out)
    expect("vesktest: lines: 4 ports, 4 passed," in out, "the modem lines of the pairs", out)
    expect("vesktest: break: 4 ports, 4 passed," in out, "breaks reach the far port", out)
    check_records(d, code, out)
    with open(os.path.join(d, "report.csv")) as f:
        rows = f.read().splitlines()[1:]
    expect(len(rows) == 4, "four ports", out)
    for row in rows:
        cells = row.split(",")
        expect(cells[1].startswith("127.0.0.1:"), "network ports: " + row)
        # Paced to 115200 bit/s, 10 bits a character: never faster.
        expect(int(cells[4]) <= 11520 * 105 // 100, "paced to the line's rate: " + row)


def case_stop_request(d):
    # Ctrl-C: Wine hands the interrupt to the console's control handler,
    # as Windows hands it Ctrl-C. The run stops its test, drains, writes
    # its records and says what happened.
    cable = Cable(7, 8)
    try:
        config = write_config(d, ["COM7", "COM8"])
        p = start_vesktest(["--batch", "600", "--json", "run.json", config], d)
        wait_for("the test traffic", lambda: min(cable.moved) > 20000)
        started = time.monotonic()
        p.send_signal(signal.SIGINT)
        out = p.communicate(timeout=3 * LONG)[0]
        stopped = time.monotonic() - started
    finally:
        cable.close()
    expect(stopped < LONG, "stopped %.0f s after Ctrl-C" % stopped, out)
    expect("2 ports configured, 2 opened, 0 not opened" in out, "the verdict line", out)
    expect(p.returncode == 8 and re.search(r"aborted after \d+\.\d s of 600 s", out),
           "an aborted run: exit 8 (%d) and the verdict line says so" % p.returncode, out)
    with open(os.path.join(d, "run.json")) as f:
        run = json.load(f)["run"]
    expect(run["outcome"] == "ABORTED", "the record says the run was stopped: %r" % run, out)
    expect(run["exit_code"] == p.returncode, "the record's exit code is the program's", out)


def case_history_through_odbc(d):
    # The history through odbc32.dll, which Wine hands to the host's
    # unixODBC and its SQLite driver; the driver is the host's, so the file
    # is named by its host path. Its folder is not there at first: the
    # database cannot take the run (exit 7, the files written, the record
    # kept in the spool folder), and the next run, the folder made, brings
    # the kept run in with its own. The password is in no output or file.
    secret = "Zq7-win"
    url = "odbc:Driver=SQLite3;Database=%s;PWD=%s" % (os.path.join(d, "db", "runs.db"), secret)
    run = ["--demo", "1", "--no-probe", "--batch", "1", "--unit", "SN-W1", "--db", url] + RECORDS
    code, first = vesktest(run, d)
    expect(code == 7 and "its record is kept in " in first,
           "a database that cannot be reached: exit 7 (%d)" % code, first)
    check_records(d, code, first)
    os.mkdir(os.path.join(d, "db"))
    code, second = vesktest(run, d)
    expect(code == 0 and "vesktest: 1 run kept in the spool folder " in second,
           "the next run brings the kept one in (exit %d)" % code, second)
    check_records(d, code, second)
    code, history = vesktest(["--history", "--db", url, "--unit", "SN-W1"], d)
    expect(code == 0 and history.startswith("2 runs of unit SN-W1"), "--history reads both",
           history)
    everything = first + second + history
    for folder, _, names in os.walk(d):  # the database's file too
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                everything += f.read().decode("latin-1")
    expect(secret not in everything, "the password is in an output or a file", everything)


def main():
    os.makedirs(WORK, exist_ok=True)
    for case in (case_command_line, case_com_ports_learn_the_wiring, case_a_direction_that_stops,
                 case_network_ports_of_ser2net, case_demo_on_windows, case_stop_request,
                 case_history_through_odbc):
        name = case.__name__[5:]
        directory = tempfile.mkdtemp(prefix=name + ".", dir=WORK)
        began = time.monotonic()
        try:
            case(directory)
            print("PASS %s (%.1f s)" % (name, time.monotonic() - began), flush=True)
            shutil.rmtree(directory)
        except Failed as e:
            failures.append(name)
            print("FAIL %s: %s\n(files kept in %s)" % (name, e, directory), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
