"""The servers a run measures, each described by what it has.

A subject is prepared with its forwarders (and a log of a given size), started
on port 53 of the bench namespace, asked for its memory and stopped. What sets
subjects apart is data on the class, so that a measure asks "has it a log?"
rather than "which program is this?":
  under_wine     runs under Wine: its wineserver does part of its work
  has_log        logs every query, so a large log can weigh on it
  timed_stop     stop() returns how long the stop took, in ms
  stop_command   stops through StopServer, so a stop can be taken while a
                 query waits on a silent upstream
  soaked         also gets the long steady load
"""

import getpass
import os
import queue
import signal
import subprocess
import threading
import time

from . import load
from .network import in_netns, in_upstream_netns, port_53_free, SERVER_ADDRESS, SERVER_ADDRESS_IPV6, SERVER_PORT, \
    SILENT_ADDRESS
from .paths import native_tool, PREFIX, TARNWICK_EXE, WINDOWS_BUILD, WORK
from .processes import end_process, peak_rss_kb, spawn
from .wine import WINE_ENV, wine_command

WINE_DATA_FOLDER = os.path.join(PREFIX, "drive_c", "users", getpass.getuser(), "AppData", "Local", "Tarnwick")


def config_xml(forwarders):
    """The configuration document: up to three forwarders and 20 enabled A records."""
    slots = (list(forwarders) + ["", "", ""])[:3]
    lines = ['<?xml version="1.0" encoding="utf-8"?>', "<config>", "  <forwarding>"]
    lines += ["    <dns%d>%s</dns%d>" % (index + 1, address, index + 1) for index, address in enumerate(slots)]
    lines += ["  </forwarding>", "  <records>"]
    for index, name in enumerate(load.local_names()):
        lines += ['    <record index="%d">' % index, "      <enabled>1</enabled>", "      <type>A</type>",
                  "      <name>%s</name>" % name, "      <value>%s</value>" % load.local_address(index),
                  "      <ttl>300</ttl>", "    </record>"]
    lines += ["  </records>", "</config>"]
    return "\n".join(lines) + "\n"


def dnsmasq_command(address, port):
    return ["dnsmasq", "--keep-in-foreground", "--no-resolv", "--no-hosts", "-C", "/dev/null", "--pid-file=",
            "--user=root", "--listen-address=%s" % address, "--bind-interfaces", "--port=%d" % port]


def start_upstream(address, port, names_file):
    """The real upstream server: a dnsmasq that answers every name below
    fwd.bench, and sends dead.bench on to the silent upstream (the outage
    group's name whose servers are dead)."""
    process = spawn(in_upstream_netns(dnsmasq_command(address, port) + [
        "--address=/fwd.bench/192.0.2.1", "--server=/dead.bench/%s" % SILENT_ADDRESS]))
    if not load.wait_until_answering(names_file, process, 10, address):
        raise RuntimeError("the upstream dnsmasq does not answer")
    return process


class Subject:
    name = ""
    under_wine = False
    has_log = False
    timed_stop = False
    stop_command = False
    soaked = False

    def __init__(self):
        self.process = None
        self.forwarders = ()

    def prepare(self, forwarders, log_bytes=0):
        """Writes what the next start reads: the forwarders, and a log of log_bytes (none when 0)."""
        self.forwarders = tuple(forwarders)
        if log_bytes:
            load.fill_log(self.log_path(), log_bytes)
        elif os.path.exists(self.log_path()):
            os.remove(self.log_path())

    def start_with(self, forwarders, names_file, log_bytes=0):
        if not port_53_free():
            raise RuntimeError("port 53 is taken inside the bench namespace")
        self.prepare(forwarders, log_bytes)
        self.start(names_file)

    def log_path(self):
        raise NotImplementedError

    def log_size(self):
        return os.path.getsize(self.log_path()) if os.path.exists(self.log_path()) else 0

    def start(self, names_file):
        raise NotImplementedError

    def memory_kb(self):
        return peak_rss_kb(self.process.pid)

    def stop(self):
        """Stops the subject; returns how long that took in ms, or None when it cannot tell."""
        end_process(self.process)
        self.process = None
        return None

    def finish(self):
        """Ends what the subject keeps across its starts."""

    def _await_answers(self, names_file):
        if not load.wait_until_answering(names_file, self.process):
            raise RuntimeError("%s does not answer on port 53" % self.name)


class Headless(Subject):
    """tarnwick_headless, driven through stdin."""

    has_log = True
    timed_stop = True
    stop_command = True

    def __init__(self):
        super().__init__()
        self.lines = queue.Queue()

    def data_folder(self):
        raise NotImplementedError

    def command_line(self):
        """The launch command and its environment."""
        raise NotImplementedError

    def log_path(self):
        return os.path.join(self.data_folder(), "dns.log")

    def prepare(self, forwarders, log_bytes=0):
        os.makedirs(self.data_folder(), exist_ok=True)
        with open(os.path.join(self.data_folder(), "config.xml"), "w") as out:
            out.write(config_xml(forwarders))
        super().prepare(forwarders, log_bytes)

    def start(self, names_file):
        command, env = self.command_line()
        self.process = spawn(command, env=env, stdin=subprocess.PIPE)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(self.process, self.lines), daemon=True).start()
        line = self._expect(("started", "failed"), 30)
        if line != "started":
            raise RuntimeError("%s server did not start: %s" % (self.name, line))
        self._await_answers(names_file)

    @staticmethod
    def _read(process, lines):
        for line in process.stdout:
            lines.put(line.strip())
        lines.put(None)

    def _expect(self, prefixes, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                return "exited"
            if line.startswith(prefixes):
                return line
        return "no answer"

    def command(self, text, prefix, timeout=10):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()
        return self._expect((prefix,), timeout)

    def memory_kb(self):
        return load.key_values(self.command("memory", "peak_rss_kb")).get("peak_rss_kb")

    def stop(self):
        """Stops the service; returns the StopServer duration in ms."""
        line = self.command("stop", "stop_ms", timeout=15)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        end_process(self.process)
        self.process = None
        return load.key_values(line).get("stop_ms")


class NativeHeadless(Headless):
    name = "native"
    soaked = True

    def __init__(self):
        super().__init__()
        self.data_home = os.path.join(WORK, "native-data")

    def data_folder(self):
        return os.path.join(self.data_home, "Tarnwick")

    def command_line(self):
        return in_netns([native_tool("tarnwick_headless")]), {"XDG_DATA_HOME": self.data_home}

    def memory_kb(self):
        # Natively the kernel's own figure is read directly; the program's
        # report is what is left under Wine.
        return peak_rss_kb(self.process.pid) or super().memory_kb()


class WineHeadless(Headless):
    name = "wine"
    under_wine = True

    def data_folder(self):
        return WINE_DATA_FOLDER

    def command_line(self):
        return wine_command(["wine", os.path.join(WINDOWS_BUILD, "bench", "tarnwick_headless.exe")]), WINE_ENV


class WindowedExe(Subject):
    """Tarnwick.exe itself under Wine, with its window on a private Xvfb.

    It shares the data folder of the Wine headless build. It has no stop
    command, so it is ended by its PID and its stops are not timed."""

    name = "exe"
    under_wine = True
    has_log = True
    soaked = True

    def __init__(self):
        super().__init__()
        self.xvfb = None
        self.display = None

    def log_path(self):
        return os.path.join(WINE_DATA_FOLDER, "dns.log")

    def prepare(self, forwarders, log_bytes=0):
        os.makedirs(WINE_DATA_FOLDER, exist_ok=True)
        with open(os.path.join(WINE_DATA_FOLDER, "config.xml"), "w") as out:
            out.write(config_xml(forwarders))
        super().prepare(forwarders, log_bytes)

    def start(self, names_file):
        if self.xvfb is None:
            read_end, write_end = os.pipe()
            self.xvfb = spawn(in_netns(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                        "-nolisten", "tcp"]),
                              stdout=subprocess.DEVNULL, pass_fds=(write_end,))
            os.close(write_end)
            with os.fdopen(read_end) as display:
                self.display = ":" + display.readline().strip()
        self.process = spawn(wine_command(["wine", TARNWICK_EXE]), env=dict(WINE_ENV, DISPLAY=self.display))
        self._await_answers(names_file)

    # Wine's own processes (services, explorer) stay with the prefix's
    # wineserver and are ended with it at the end of the run.

    def finish(self):
        if self.xvfb is not None:
            end_process(self.xvfb)
            self.xvfb = None


class Dnsmasq(Subject):
    """dnsmasq with the same 20 records as --host-record, without a cache so
    that forwarded queries really go upstream."""

    name = "dnsmasq"
    timed_stop = True

    def log_path(self):
        return os.path.join(WORK, "dnsmasq-queries.log")

    def extra_options(self):
        return []

    def start(self, names_file):
        command = dnsmasq_command(SERVER_ADDRESS, SERVER_PORT) + ["--listen-address=" + SERVER_ADDRESS_IPV6,
                                                                  "--cache-size=0"]
        command += ["--server=%s" % address for address in self.forwarders]
        command += ["--host-record=%s,%s" % (name, load.local_address(index))
                    for index, name in enumerate(load.local_names())]
        self.process = spawn(in_netns(command + self.extra_options()))
        self._await_answers(names_file)

    def stop(self):
        """SIGTERM to exit, in ms: the nearest thing dnsmasq has to StopServer."""
        began = time.monotonic()
        os.kill(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        took = (time.monotonic() - began) * 1000
        end_process(self.process)
        self.process = None
        return took


class LoggingDnsmasq(Dnsmasq):
    """dnsmasq writing every query to a file: the fair comparison, since Tarnwick logs every query."""

    name = "dnsmasq_log"
    has_log = True

    def extra_options(self):
        return ["--log-queries", "--log-facility=%s" % self.log_path()]


# Every subject, in the order a run measures them: Tarnwick.exe before the
# headless Windows build, whose loads it makes redundant.
SUBJECTS = {subject.name: subject for subject in (NativeHeadless, WindowedExe, WineHeadless, Dnsmasq, LoggingDnsmasq)}
