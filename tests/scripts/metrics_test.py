#!/usr/bin/python3
"""The metrics endpoint of a logging run, scraped by hand and by a real Prometheus server, and
the shipped alert rules and service unit checked by their own tools.

usage: metrics_test.py TAVRIX_CLI SOURCE_DIR
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

CLI, SRC = sys.argv[1], sys.argv[2]
WORK = tempfile.mkdtemp(prefix="tavrix-metrics-")
ENV = dict(os.environ, TAVRIX_CONFIG_DIR=WORK)
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as r:
        return r.read().decode("utf-8", "replace")


def samples(text):
    """{(name, frozenset(labels)): value} of an exposition."""
    out = {}
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        m = re.match(r'^(\w+)(\{(.*)\})? (\S+)$', line)
        if not m:
            continue
        labels = dict(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', m.group(3) or ""))
        out[(m.group(1), frozenset(labels.items()))] = float(m.group(4))
    return out


def reading(s, source):
    for (name, labels), v in s.items():
        d = dict(labels)
        if name == "tavrix_reading" and d.get("source") == source:
            return v, d
    return None, None


def last_row(path):
    with open(path, "rb") as f:
        rows = [l for l in f.read().split(b"\r\n") if re.match(rb"^\d+:\d+:\d+,", l)]
    return rows[-1].decode().split(",") if rows else None


def tool_checks():
    promtool = shutil.which("promtool")
    rules = os.path.join(SRC, "packaging", "prometheus", "tavrix-alerts.yml")
    r = subprocess.run([promtool, "check", "rules", rules], capture_output=True, text=True)
    check(r.returncode == 0, "promtool check rules accepts the shipped alerts: " + r.stdout[-200:] + r.stderr[-300:])
    sample = os.path.join(WORK, "prometheus.yml")
    with open(os.path.join(SRC, "packaging", "prometheus", "prometheus-sample.yml")) as f:
        text = f.read().replace("/usr/share/tavrix/prometheus/tavrix-alerts.yml", rules)
    with open(sample, "w") as f:
        f.write(text)
    r = subprocess.run([promtool, "check", "config", sample], capture_output=True, text=True)
    check(r.returncode == 0, "promtool check config accepts the sample scrape job: " + r.stderr[-300:])
    unit = os.path.join(SRC, "packaging", "systemd", "tavrix-log@.service")
    d = os.path.join(WORK, "units")
    os.makedirs(d)
    shutil.copy(unit, d)
    r = subprocess.run(["systemd-analyze", "verify", "--man=no", os.path.join(d, "tavrix-log@example.service")],
                       capture_output=True, text=True, env=dict(os.environ, SYSTEMD_UNIT_PATH=d + ":"))
    # Lines about the system's own units or a missing /etc/tavrix/example.conf are not the unit's.
    own = [l for l in (r.stdout + r.stderr).splitlines()
           if "tavrix-log@" in l and "example.conf" not in l]
    check(not own, "systemd-analyze verify finds nothing wrong in the unit: " + "\n".join(own))


def logging_run():
    out = os.path.join(WORK, "run.csv")
    mport = free_port()
    owner = subprocess.Popen([CLI, "--sim", "log", "--sources", "A,B,heater1", "--interval", "0.5",
                              "--out", out, "--metrics", f"127.0.0.1:{mport}"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=ENV, text=True)
    url = f"http://127.0.0.1:{mport}/metrics"
    text = None
    for _ in range(100):
        try:
            text = get(url)
            if reading(samples(text), "A")[0] is not None:
                break
        except OSError:
            pass
        time.sleep(0.1)
    check(text is not None, "the endpoint answers")
    matched = 0
    for _ in range(5):
        before = last_row(out)
        s = samples(get(url))
        after = last_row(out)
        values = [reading(s, src)[0] for src in ("A", "B", "heater1")]
        rows = [r for r in (before, after) if r]
        if any(values == [float(r[1]), float(r[2]), float(r[3])] for r in rows):
            matched += 1
        time.sleep(0.3)
    check(matched == 5, f"each scrape's readings equal the last row's values ({matched} of 5)")
    s = samples(get(url))
    v, labels = reading(s, "A")
    check(labels is not None and labels.get("unit") == "K" and labels.get("name"),
          f"readings carry source, name and unit labels ({labels})")
    check(("tavrix_link_up", frozenset()) in s and s[("tavrix_link_up", frozenset())] == 1,
          "the link shows as up")
    info = [dict(l) for (n, l) in s if n == "tavrix_instrument_info"]
    check(info and info[0].get("model_code") == "28" and info[0].get("firmware"),
          f"the info metric names the model and firmware ({info})")
    rows1 = s.get(("tavrix_log_rows_total", frozenset()), 0)
    ex1 = s.get(("tavrix_exchanges_total", frozenset()), 0)
    # Scrapes alone reach nothing: 50 of them within one sampling interval add no exchange
    # beyond the run's own.
    t0 = time.monotonic()
    for _ in range(50):
        get(url)
    s2 = samples(get(url))
    rows2 = s2.get(("tavrix_log_rows_total", frozenset()), 0)
    ex2 = s2.get(("tavrix_exchanges_total", frozenset()), 0)
    cycles = rows2 - rows1
    check(ex2 - ex1 <= (cycles + 1) * 2,
          f"scrapes cause no exchange ({ex2 - ex1} exchanges for {cycles} cycles and 51 scrapes)")
    time.sleep(1.2)
    s3 = samples(get(url))
    check(s3.get(("tavrix_log_rows_total", frozenset()), 0) > rows2, "the row counter moves")

    # A real Prometheus server scraping every second.
    prom = shutil.which("prometheus")
    pport = free_port()
    cfg = os.path.join(WORK, "prom.yml")
    with open(cfg, "w") as f:
        f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nscrape_configs:\n"
                f"  - job_name: tavrix\n    static_configs:\n      - targets: ['127.0.0.1:{mport}']\n")
    p = subprocess.Popen([prom, f"--config.file={cfg}", f"--storage.tsdb.path={WORK}/tsdb",
                          f"--web.listen-address=127.0.0.1:{pport}"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    api = f"http://127.0.0.1:{pport}/api/v1/query?query="
    result = []
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not result:
        time.sleep(1)
        try:
            q = urllib.parse.quote('tavrix_reading{source="A"}')
            result = json.loads(get(api + q))["data"]["result"]
        except (OSError, ValueError, KeyError):
            pass
    if p.poll() is not None and not result:
        print("SKIP the Prometheus server could not start: " + p.stderr.read().decode()[-500:])
    else:
        check(bool(result), "Prometheus has the series tavrix_reading{source=\"A\"}")
        if result:
            m = result[0]["metric"]
            value = float(result[0]["value"][1])
            with open(out, "rb") as f:
                seen = {float(l.split(b",")[1]) for l in f.read().split(b"\r\n")
                        if re.match(rb"^\d+:\d+:\d+,", l)}
            check(m.get("job") == "tavrix" and m.get("unit") == "K" and m.get("name"),
                  f"with the right labels ({m})")
            check(value in seen, f"and a value the run wrote ({value})")
    p.terminate()
    p.wait(30)
    owner.send_signal(signal.SIGINT)
    check(owner.wait(30) == 0, "the run ends cleanly")


tool_checks()
logging_run()
if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("all checks passed")
