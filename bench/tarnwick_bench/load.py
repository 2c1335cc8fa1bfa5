"""What the subjects are asked and the tools that ask it.

Every load stops by itself: dnsperf runs with -l, the own tools with a count
and a time limit, and every one of them has a time-out as a subprocess."""

import json
import os
import re
import time

from .network import in_netns, SERVER_ADDRESS, SERVER_PORT
from .paths import DNS_TRAFFIC, native_tool
from .processes import run

RECORD_COUNT = 20
BIG_LOG_BYTES = 100 * 1024 * 1024


def local_names():
    return ["host%02d.bench" % i for i in range(1, RECORD_COUNT + 1)]


def forwarded_names():
    return ["fwd%02d.fwd.bench" % i for i in range(1, RECORD_COUNT + 1)]


def local_address(index):
    return "10.0.0.%d" % (index + 1)


class NameFiles:
    """The dnsperf data files of the local and of the forwarded names."""

    def __init__(self, folder):
        self.local = os.path.join(folder, "local-names.txt")
        self.forwarded = os.path.join(folder, "forwarded-names.txt")
        for path, names in ((self.local, local_names()), (self.forwarded, forwarded_names())):
            with open(path, "w") as out:
                out.writelines("%s A\n" % name for name in names)


def fill_log(path, size):
    """A log of the given size made of query lines like the ones the service writes."""
    line = b"2026-01-01 00:00:00 Q from 127.0.0.1 name=host01.bench type=1\r\n"
    block = line * (1024 * 1024 // len(line))
    with open(path, "wb") as out:
        written = 0
        while written < size:
            chunk = block[:size - written]
            out.write(chunk)
            written += len(chunk)
        # On disk before the measurement starts, so that its write-back does
        # not compete with the server.
        out.flush()
        os.fsync(out.fileno())


def key_values(text):
    return {key: float(value) for key, value in re.findall(r"(\w+)=([-\d.]+)", text)}


def dnsperf(names_file, seconds, clients=1, rate=None, address=SERVER_ADDRESS, port=SERVER_PORT):
    command = ["dnsperf", "-s", address, "-p", str(port), "-d", names_file, "-c", str(clients), "-l", str(seconds),
               "-t", "1"] + (["-Q", str(rate)] if rate else [])
    out = run(in_netns(command), timeout=seconds + 15).stdout

    def number(label, kind=int):
        return kind(re.search(label + r":\s+([\d.]+)", out).group(1))

    latency = re.search(r"Average Latency \(s\):\s+([\d.]+) \(min [\d.]+, max ([\d.]+)\)", out)
    return {"qps": number("Queries per second", float), "lost": number("Queries lost"),
            "completed": number("Queries completed"), "sent": number("Queries sent"),
            "avg_ms": float(latency.group(1)) * 1000, "max_ms": float(latency.group(2)) * 1000}


def serial(names_file, seconds, count=1000000, timeout_ms=1000, address=SERVER_ADDRESS, port=SERVER_PORT):
    """bench/serial_client: strictly one query outstanding."""
    result = run(in_netns([native_tool("serial_client"), "--server", address, "--port", str(port), "--names",
                           names_file, "--count", str(count), "--seconds", str(seconds), "--timeout-ms",
                           str(timeout_ms)]),
                 timeout=seconds + timeout_ms / 1000 + 10)
    return key_values(result.stdout)


def flood(names_file, seconds):
    """bench/flood_sender: every good query after a malformed datagram."""
    result = run(in_netns([native_tool("flood_sender"), "--server", SERVER_ADDRESS, "--port", str(SERVER_PORT),
                           "--names", names_file, "--good", "60000", "--seconds", str(seconds), "--window", "10",
                           "--timeout-ms", "1000"]),
                 timeout=seconds + 15)
    return key_values(result.stdout)


def wait_until_answering(names_file, process, limit_s=30, address=SERVER_ADDRESS):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        if serial(names_file, 1, count=1, timeout_ms=200, address=address).get("answered") == 1:
            return True
        time.sleep(0.1)
    return False


# The resolver-like traffic and the silent upstream come from the tool the
# end-to-end tests use as well (scripts/lib/dns_traffic.py).

TRAFFIC_REPLY_WAIT_S = 5  # how long the tool waits for each reply


def traffic_load(seconds, local_name, forwarded_name, out, options=()):
    """Queries as a resolver's first tries, one line of JSON per query in out;
    options: the tool's further load options (lookups, a link that goes down)."""
    run(in_netns(["python3", DNS_TRAFFIC, "load", "--server", SERVER_ADDRESS, "--port", str(SERVER_PORT),
                  "--seconds", str(seconds), "--local-name", local_name, "--forwarded-name", forwarded_name,
                  "--out", out] + list(options)),
        timeout=seconds + TRAFFIC_REPLY_WAIT_S + 30)


def traffic_summary(path, start_s, end_s=None):
    """Per kind of name ("local", "forwarded", "lookup"): sent, answered,
    within_1s, median, p95, first_answer (after start_s), largest."""
    bounds = ["--from", str(start_s)] + (["--to", str(end_s)] if end_s is not None else [])
    result = run(["python3", DNS_TRAFFIC, "summary", path] + bounds, 30)
    return json.loads(result.stdout)


def silent_upstream_command(address, port, log_path, options=()):
    """An upstream that takes every query and never answers, or as options
    make it (a delay, a big reply, a link that goes down); runs until ended."""
    return ["python3", DNS_TRAFFIC, "stub", "--address", address, "--port", str(port), "--log", log_path] + list(
        options)
