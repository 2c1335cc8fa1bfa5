"""The outage group: how each server answers while its upstream servers are silent.

Each subject runs with dns1 an upstream that takes queries and never answers
and dns2 the upstream dnsmasq, in two situations one after the other:
  dns1 silent            dns2 answers;
  every upstream silent  the upstream dnsmasq is stopped (SIGSTOP) as well,
                         and continued (SIGCONT) after.
The traffic is a resolver's first tries (scripts/lib/dns_traffic.py load):
every 0.25 s a query for a name no local record answers, every second one for
a local name, A and AAAA in turn, each from its own socket and waited for 5 s.
The first LEARNING_S of each situation, while the server learns which
upstream servers are silent, are left out of the figures."""

import os
import signal
import subprocess
import time

from . import load
from .network import in_upstream_netns, SILENT_ADDRESS, UPSTREAM_ADDRESS, UPSTREAM_PORT
from .paths import WORK
from .processes import end_all, end_process, log, run, spawn
from .report import Figure
from .subjects import Dnsmasq, NativeHeadless, WindowedExe

SUBJECTS = (NativeHeadless, WindowedExe, Dnsmasq)
SITUATION_S = 30
LEARNING_S = 10
# What one subject takes: both situations, the last replies waited for, and its start and stop.
SUBJECT_S = 2 * (SITUATION_S + load.TRAFFIC_REPLY_WAIT_S) + 20
GOAL_SHARE = 0.9  # of dnsmasq's local answers within 1 s, in both situations
LOCAL_NAME = load.local_names()[0]
FORWARDED_NAME = "fwd.bench"  # the tool asks a fresh name below it each time, which only the upstream answers


class Situation:
    def __init__(self, name, label, upstream_stopped, figures):
        self.name = name
        self.label = label
        self.upstream_stopped = upstream_stopped
        # Per kind of name: the share within 1 s, the median and the 95th percentile.
        self.figures = figures


SITUATIONS = [
    Situation("dns1-silent", "dns1 silent", False, {
        "local": (Figure.DNS1_LOCAL_WITHIN_1S_PCT, Figure.DNS1_LOCAL_MEDIAN_MS, Figure.DNS1_LOCAL_P95_MS),
        "forwarded": (Figure.DNS1_FWD_WITHIN_1S_PCT, Figure.DNS1_FWD_MEDIAN_MS, Figure.DNS1_FWD_P95_MS)}),
    Situation("all-silent", "every upstream silent", True, {
        "local": (Figure.ALL_LOCAL_WITHIN_1S_PCT, Figure.ALL_LOCAL_MEDIAN_MS, Figure.ALL_LOCAL_P95_MS),
        "forwarded": (Figure.ALL_FWD_WITHIN_1S_PCT, Figure.ALL_FWD_MEDIAN_MS, Figure.ALL_FWD_P95_MS)}),
]


def wait_listening(address, port, limit_s=10):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        listening = run(in_upstream_netns(["ss", "-Hlun", "src %s:%d" % (address, port)]), 10, check=False)
        if listening.stdout.strip():
            return
        time.sleep(0.1)
    raise RuntimeError("the silent upstream does not listen on %s:%d" % (address, port))


def milliseconds(seconds):
    return None if seconds is None else seconds * 1000


def situation(bench, subject, figures, case):
    out = os.path.join(WORK, "outage-%s-%s.jsonl" % (subject.name, case.name))
    load.traffic_load(SITUATION_S, LOCAL_NAME, FORWARDED_NAME, out)
    summary = load.traffic_summary(out, LEARNING_S)
    for kind, (within, median, p95) in case.figures.items():
        figures[within] = summary[kind]["within_1s"] * 100
        figures[median] = milliseconds(summary[kind]["median"])
        figures[p95] = milliseconds(summary[kind]["p95"])
    log("%s, %s: local %.0f %% within 1 s, forwarded %.0f %%" % (
        subject.name, case.label, figures[case.figures["local"][0]], figures[case.figures["forwarded"][0]]))


def measure_subject(bench, subject, upstream):
    """Both situations for one subject, which keeps running from one to the
    next, as a server would when the connection fails."""
    figures = bench.results.setdefault(subject.name, {})
    silent = spawn(in_upstream_netns(load.silent_upstream_command(SILENT_ADDRESS, UPSTREAM_PORT, os.path.join(
        WORK, "outage-silent-%s.log" % subject.name))))
    try:
        wait_listening(SILENT_ADDRESS, UPSTREAM_PORT)
        subject.start_with([SILENT_ADDRESS, UPSTREAM_ADDRESS], bench.names.local)
        log("%s: started for the outage group" % subject.name)
        for case in SITUATIONS:
            if case.upstream_stopped:
                os.kill(upstream.pid, signal.SIGSTOP)
            try:
                situation(bench, subject, figures, case)
            finally:
                if case.upstream_stopped:
                    os.kill(upstream.pid, signal.SIGCONT)
        subject.stop()
    finally:
        if subject.process is not None:
            end_process(subject.process)
        end_process(silent)
        subject.finish()


def measure_group(bench, upstream, with_exe):
    """The outage group for every subject in turn; upstream is the upstream
    dnsmasq's process, stopped and continued here."""
    for subject_class in SUBJECTS:
        if subject_class is WindowedExe and not with_exe:
            continue
        if bench.budget.remaining() < SUBJECT_S:
            bench.notes.append("outage: %s skipped: the time budget ran out" % subject_class.name)
            continue
        try:
            measure_subject(bench, subject_class(), upstream)
        except (RuntimeError, subprocess.TimeoutExpired, KeyError, ValueError) as error:
            bench.notes.append("outage, %s: %s" % (subject_class.name, error))
            log("outage, %s failed: %s" % (subject_class.name, error))
            end_all(keep=(upstream,))


def goal_line(results):
    """Whether each Tarnwick build answers, within 1 s, at least GOAL_SHARE of
    the local queries dnsmasq answers, in both situations."""
    reference = results.get(Dnsmasq.name, {})
    verdicts = []
    for subject in SUBJECTS:
        figures = results.get(subject.name)
        if subject is Dnsmasq or not figures:
            continue
        shares = []
        for case in SITUATIONS:
            within = case.figures["local"][0]
            ours, theirs = figures.get(within), reference.get(within)
            shares.append((case.label, ours, theirs))
        met = all(ours is not None and theirs is not None and ours >= GOAL_SHARE * theirs
                  for _, ours, theirs in shares)
        verdicts.append("%s %s (%s)" % (subject.name, "met" if met else "not met", "; ".join(
            "%s: %s %% against %s %%" % (label, "-" if ours is None else "%.1f" % ours,
                                         "-" if theirs is None else "%.1f" % theirs)
            for label, ours, theirs in shares)))
    return "Goal: within 1 s, Tarnwick answers at least %d %% as many local queries as dnsmasq in both " \
           "situations: %s." % (GOAL_SHARE * 100, ", ".join(verdicts) or "no Tarnwick build measured")


def header():
    return ["dns1 (%s) takes every query and never answers, dns2 is the upstream dnsmasq; then the upstream "
            "dnsmasq is stopped as well (every upstream silent). Every 0.25 s a query for a forwarded name and "
            "every second one for a local name (A and AAAA in turn), each from its own socket and waited for %d s "
            "(scripts/lib/dns_traffic.py load), for %d s per situation; the first %d s of each situation, while "
            "the server learns, are left out. Shares are of the queries sent after them, latencies of the "
            "answered ones." % (SILENT_ADDRESS, load.TRAFFIC_REPLY_WAIT_S, SITUATION_S, LEARNING_S)]
