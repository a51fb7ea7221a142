#!/usr/bin/python3
"""The sharing port used by real clients while the owner logs.

PyVISA (pyvisa-py, TCPIP SOCKET resources) and tavrix-cli's own LAN transport reach a simulated
controller through `tavrix-cli --sim log ... --share` and `tavrix-cli --sim serve`. The logging
run must keep every row while clients work.

usage: share_clients_test.py TAVRIX_CLI DATA_DIR
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

import pyvisa

CLI = sys.argv[1]
DATA = sys.argv[2]
WORK = tempfile.mkdtemp(prefix="tavrix-share-")
ENV = dict(os.environ, TAVRIX_CONFIG_DIR=WORK)
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


class Owner:
    """A tavrix-cli process that holds the link and shares it; its stderr is collected."""

    def __init__(self, args):
        self.proc = subprocess.Popen([CLI] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=ENV, text=True,
                                     errors="replace")
        self.err = []
        self.port = None
        got = threading.Event()

        def read():
            for line in self.proc.stderr:
                self.err.append(line)
                m = re.search(r"Share: listening on 127\.0\.0\.1:(\d+)", line)
                if m:
                    self.port = int(m.group(1))
                    got.set()
            got.set()

        threading.Thread(target=read, daemon=True).start()
        self.out = []
        threading.Thread(target=lambda: self.out.extend(self.proc.stdout), daemon=True).start()
        if not got.wait(30) or self.port is None:
            raise SystemExit("the owner did not start sharing: " + "".join(self.err))

    def stderr(self):
        return "".join(self.err)


def rows_of(path):
    with open(path, "rb") as f:
        lines = f.read().split(b"\r\n")
    return [l for l in lines if re.match(rb"^\d+:\d+:\d+,", l)], lines


def pyvisa_while_logging():
    out = os.path.join(WORK, "shared.csv")
    owner = Owner(["--sim", "log", "--sources", "A,B,heater1", "--interval", "0.1",
                   "--out", out, "--share", "127.0.0.1:0",
                   "--max-clients", "9"])
    rm = pyvisa.ResourceManager("@py")
    res = f"TCPIP::127.0.0.1::{owner.port}::SOCKET"
    inst = rm.open_resource(res, read_termination="\n", write_termination="\n", timeout=5000)
    check("Model" in inst.query("*IDN?"), "PyVISA identifies the instrument through the share")
    shifted = 0
    for i in range(200):
        value = 10.0 + i * 0.5
        inst.write(f"LOOP 1:SETPT {value}")
        if abs(float(inst.query("LOOP 1:SETPT?")) - value) > 1e-6:
            shifted += 1
    check(shifted == 0, f"200 set/read-back pairs, none shifted ({shifted} shifted)")
    inst.write("CALC? 1")
    table = []
    while True:
        line = inst.read()
        table.append(line)
        if ";" in line or len(table) > 300:
            break
    check(table[-1].strip() == ";", f"a table query ends with its ';' line ({len(table)} lines)")

    # Eight clients flat out while the run logs at 0.1 s.
    counts = [0] * 8
    errors = []
    stop = time.monotonic() + 5

    def hammer(k):
        c = rm.open_resource(res, read_termination="\n", write_termination="\n", timeout=10000)
        while time.monotonic() < stop:
            r = c.query("INP A:TEMP?")
            try:
                float(r)
            except ValueError:
                errors.append(r)
            counts[k] += 1
        c.close()

    threads = [threading.Thread(target=hammer, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    check(not errors, f"eight busy clients get readings only ({len(errors)} other replies: "
          f"{errors[:3]})")
    check(min(counts) > 0, f"no client starved (queries per client: {counts})")

    # Hostile clients: 500 connections, binary bytes, 10 MB without a line end, one that never
    # reads. The run goes on and the owner's memory stays bounded.
    import socket

    def rss():
        with open(f"/proc/{owner.proc.pid}/status") as f:
            return int(next(l for l in f if l.startswith("VmRSS:")).split()[1])

    before = rss()
    socks = []
    for _ in range(500):
        try:
            socks.append(socket.create_connection(("127.0.0.1", owner.port), timeout=2))
        except OSError:
            pass
    for k in socks[:8]:
        try:
            k.sendall(bytes(range(256)) * 4)
        except OSError:
            pass
    for k in socks:
        k.close()
    socks = []
    time.sleep(0.5)
    if owner.proc.poll() is not None:
        raise SystemExit("the owner ended under 500 connections: " + owner.stderr()[-2000:])
    flood = socket.create_connection(("127.0.0.1", owner.port), timeout=5)
    sent = 0
    try:
        while sent < 10 << 20:
            sent += flood.send(b"x" * 65536)
    except OSError:
        pass
    deaf = socket.create_connection(("127.0.0.1", owner.port), timeout=5)
    deaf.setblocking(False)
    try:
        for _ in range(100000):
            deaf.send(b"*IDN?\n")
    except OSError:
        pass
    grown = rss() - before
    for k in socks + [flood, deaf]:
        k.close()
    check(grown < 32 * 1024, f"the owner's memory stays bounded under hostile clients (+{grown} KiB)")
    check("Model" in inst.query("*IDN?"), "a well-behaved client is still served after them")
    inst.close()
    owner.proc.send_signal(signal.SIGINT)
    code = owner.proc.wait(60)
    check(code == 0, f"the logging run ends cleanly (exit {code})")
    rows, lines = rows_of(out)
    widths = {r.count(b",") for r in rows}
    check(len(widths) == 1, "no row shifted a column")
    m = re.search(r"(\d+) row\(s\) written.*; (\d+) cycle\(s\) made, (\d+) tick\(s\) coalesced",
                  owner.stderr())
    check(m is not None and m.group(3) == "0", "no logging cycle was missed: " +
          (m.group(0) if m else owner.stderr()[-500:]))
    check(m is not None and int(m.group(1)) == len(rows) == int(m.group(2)) > 100,
          f"the log holds a row for every cycle ({len(rows)} rows)")
    check("connected" in owner.stderr(), "the owner logs the clients that connect")

    # The same run without clients writes the same lines around its rows.
    plain = os.path.join(WORK, "plain.csv")
    subprocess.run([CLI, "--sim", "log", "--sources", "A,B,heater1", "--interval", "0.1",
                    "--count", "50", "--out", plain], env=ENV, capture_output=True, check=True)
    prow, plines = rows_of(plain)
    strip = lambda ls: [re.sub(rb"\d+", b"0", l) for l in ls if not re.match(rb"^\d+:\d+:\d+,", l)]
    check(strip(lines) == strip(plines),
          "the shared run's file has the same shape as one without clients")


def cli_through_a_share():
    owner = Owner(["--sim", "serve", "--listen", "127.0.0.1:0"])
    lan = ["--lan", f"127.0.0.1:{owner.port}"]

    def run(*args):
        return subprocess.run([CLI] + lan + list(args), env=ENV, capture_output=True,
                              text=True, timeout=120)

    r = run("identify")
    check(r.returncode == 0 and "Connected" in r.stdout, "tavrix-cli --lan identifies through a share")
    curve = os.path.join(DATA, "calgen_linear_diode.crv")
    r = run("curve", "download", curve, "--user-curve", "3")
    check(r.returncode == 0 and "Download Complete" in (r.stdout + r.stderr),
          "a curve download through a share completes: " + r.stderr[-300:])
    up = os.path.join(WORK, "up.crv")
    r = run("curve", "upload", "--user-curve", "3", up)
    check(r.returncode == 0 and os.path.exists(up), "a curve upload through a share: " + r.stderr[-300:])
    log = os.path.join(WORK, "remote.csv")
    r = run("log", "--sources", "A", "--interval", "0.2", "--count", "5", "--out", log)
    rows, _ = rows_of(log)
    check(r.returncode == 0 and len(rows) == 5, f"a logging run through a share ({len(rows)} rows)")
    owner.proc.terminate()
    owner.proc.wait(30)
    check("share ended" in owner.stderr(), "serve ends on SIGTERM with its summary")


pyvisa_while_logging()
cli_through_a_share()
if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("all checks passed")
