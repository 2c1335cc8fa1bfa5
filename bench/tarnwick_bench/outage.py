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
upstream servers are silent, are left out of the figures.

Then three situations with one forwarder each, the subject started afresh for
each:
  dead name       the upstream dnsmasq, which sends dead.bench on to the silent
                  upstream; dead.bench looked up as resolvers do (A and AAAA at
                  once) at 2 s and again at 7 s: the share of the other
                  forwarded names answered within 5 s and within 1 s;
  3,000-byte reply  an upstream that answers at once and big.bench with
                  3,000 bytes (TC unless the query offers that many); big.bench
                  looked up at 1 s with EDNS (4,096 bytes offered): whether
                  the replies came, and the following forwarded names;
  slow link       an upstream behind a 700 ms link that goes down from 5 s to
                  25 s, a forwarded name a second: local names within 1 s while
                  it is down, and the seconds from its return until forwarded
                  names answer again (the load ends then, or at 65 s)."""

import os
import signal
import subprocess
import time

from . import load
from .network import BIG_ADDRESS, in_upstream_netns, SILENT_ADDRESS, SLOW_ADDRESS, UPSTREAM_ADDRESS, UPSTREAM_PORT
from .paths import WORK
from .processes import end_all, end_process, log, run, spawn
from .report import Figure
from .subjects import Dnsmasq, NativeHeadless, WindowedExe

SUBJECTS = (NativeHeadless, WindowedExe, Dnsmasq)
SITUATION_S = 30
LEARNING_S = 10
DEAD_S, BIG_S, SLOW_S = 20, 10, 65
LINK_DOWN_S = (5, 25)
OUTAGE_KNOWN_S = 8  # after the link went down, the server has learnt of the outage
# What one subject takes: every situation, the last replies waited for, and its starts and stops.
SUBJECT_S = 2 * SITUATION_S + DEAD_S + BIG_S + SLOW_S + 5 * load.TRAFFIC_REPLY_WAIT_S + 60
GOAL_SHARE = 0.9  # of dnsmasq's local answers within 1 s, in both situations
DEAD_GOAL_SHARE = 0.95  # of dnsmasq's other forwarded names answered within 5 s
BIG_SIZE = 3000
PROBE_INTERVAL_S = 10  # the slow link's return is to be noticed within one probe interval
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


def one_forwarder(bench, subject, forwarder, name, seconds, options):
    """The subject started afresh with one forwarder, under the traffic with
    the given load options; the traffic's file."""
    subject.stop()
    subject.start_with([forwarder], bench.names.local)
    out = os.path.join(WORK, "outage-%s-%s.jsonl" % (subject.name, name))
    load.traffic_load(seconds, LOCAL_NAME, FORWARDED_NAME, out, options)
    return out


def one_forwarder_situations(bench, subject, figures):
    out = one_forwarder(bench, subject, UPSTREAM_ADDRESS, "dead", DEAD_S, ["--lookup", "dead.bench", "--lookup-at",
                                                                          "2,7"])
    forwarded = load.traffic_summary(out, 0)["forwarded"]
    figures[Figure.DEAD_FWD_WITHIN_5S_PCT] = forwarded["answered"] / max(1, forwarded["sent"]) * 100
    figures[Figure.DEAD_FWD_WITHIN_1S_PCT] = forwarded["within_1s"] * 100
    out = one_forwarder(bench, subject, BIG_ADDRESS, "big", BIG_S, ["--lookup", "big.bench", "--lookup-at", "1",
                                                                    "--lookup-edns", "4096"])
    summary = load.traffic_summary(out, 1)
    figures[Figure.BIG_REPLIES] = summary["lookup"]["answered"]
    figures[Figure.BIG_LARGEST_BYTES] = summary["lookup"]["largest"]
    figures[Figure.BIG_FWD_WITHIN_1S_PCT] = summary["forwarded"]["within_1s"] * 100
    down, up = LINK_DOWN_S
    out = one_forwarder(bench, subject, SLOW_ADDRESS, "slow", SLOW_S, [
        "--forwarded-interval", "1", "--link-down", os.path.join(WORK, "outage-link-down"), str(down), str(up)])
    while_down = load.traffic_summary(out, down + OUTAGE_KNOWN_S, up)
    figures[Figure.SLOW_LOCAL_WITHIN_1S_PCT] = while_down["local"]["within_1s"] * 100
    figures[Figure.SLOW_BACK_S] = load.traffic_summary(out, up)["forwarded"]["first_answer"]
    log("%s: dead name %.0f %% of forwarded names within 5 s; 3,000-byte reply %d of 2; slow link back after %s s" % (
        subject.name, figures[Figure.DEAD_FWD_WITHIN_5S_PCT], figures[Figure.BIG_REPLIES],
        Figure.SLOW_BACK_S.cell(figures)))


def start_stubs(subject):
    """The silent upstream, the one with the big reply and the slow one, each logging to its own file."""
    stubs = []
    for address, kind, options in ((SILENT_ADDRESS, "silent", []),
                                   (BIG_ADDRESS, "big", ["--delay", "0", "--big-name", "big.bench", "--big-size",
                                                         str(BIG_SIZE)]),
                                   (SLOW_ADDRESS, "slow", ["--delay", "0.7", "--down-while",
                                                           os.path.join(WORK, "outage-link-down")])):
        stubs.append(spawn(in_upstream_netns(load.silent_upstream_command(address, UPSTREAM_PORT, os.path.join(
            WORK, "outage-%s-%s.log" % (kind, subject.name)), options))))
        wait_listening(address, UPSTREAM_PORT)
    return stubs


def measure_subject(bench, subject, upstream):
    """Both situations for one subject, which keeps running from one to the
    next, as a server would when the connection fails; then the situations
    with one forwarder."""
    figures = bench.results.setdefault(subject.name, {})
    stubs = []
    try:
        stubs = start_stubs(subject)
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
        one_forwarder_situations(bench, subject, figures)
        subject.stop()
    finally:
        if subject.process is not None:
            end_process(subject.process)
        for stub in stubs:
            end_process(stub)
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
           "situations: %s.\n\n%s" % (GOAL_SHARE * 100, ", ".join(verdicts) or "no Tarnwick build measured",
                                     one_forwarder_goal_line(results))


def one_forwarder_goal_line(results):
    """Whether each Tarnwick build answers the other forwarded names within 5 s
    at least DEAD_GOAL_SHARE as often as dnsmasq beside the dead name, gets
    both replies of BIG_SIZE bytes, and answers forwarded names again within
    one probe interval of the slow link's return."""
    reference = results.get(Dnsmasq.name, {}).get(Figure.DEAD_FWD_WITHIN_5S_PCT)
    verdicts = []
    for subject in SUBJECTS:
        figures = results.get(subject.name)
        if subject is Dnsmasq or not figures:
            continue
        dead, back = figures.get(Figure.DEAD_FWD_WITHIN_5S_PCT), figures.get(Figure.SLOW_BACK_S)
        met = [dead is not None and reference is not None and dead >= DEAD_GOAL_SHARE * reference,
               figures.get(Figure.BIG_REPLIES) == 2 and figures.get(Figure.BIG_LARGEST_BYTES) == BIG_SIZE,
               back is not None and back <= PROBE_INTERVAL_S]
        verdicts.append("%s %s" % (subject.name, "met" if all(met) else "not met (%s)" % ", ".join(
            what for what, ok in zip(("dead name", "3,000-byte reply", "slow link"), met) if not ok)))
    return "Goal with one forwarder: other forwarded names answered within 5 s beside the dead name at least " \
           "%d %% as often as by dnsmasq, both %s-byte replies relayed, forwarded names answering again " \
           "within %d s of the slow link's return: %s." % (
               DEAD_GOAL_SHARE * 100, "{:,}".format(BIG_SIZE), PROBE_INTERVAL_S,
               ", ".join(verdicts) or "no Tarnwick build measured")


def header():
    return ["dns1 (%s) takes every query and never answers, dns2 is the upstream dnsmasq; then the upstream "
            "dnsmasq is stopped as well (every upstream silent). Every 0.25 s a query for a forwarded name and "
            "every second one for a local name (A and AAAA in turn), each from its own socket and waited for %d s "
            "(scripts/lib/dns_traffic.py load), for %d s per situation; the first %d s of each situation, while "
            "the server learns, are left out. Shares are of the queries sent after them, latencies of the "
            "answered ones." % (SILENT_ADDRESS, load.TRAFFIC_REPLY_WAIT_S, SITUATION_S, LEARNING_S),
            "Then, each with one forwarder and the server started afresh, under the same traffic: a dead name "
            "(the upstream dnsmasq sends dead.bench on to %s), looked up A and AAAA at once at 2 s and 7 s, "
            "%d s; a %s-byte reply from %s (which answers every other name at once), looked up A and AAAA at once "
            "with EDNS at 1 s, %d s, the following names counted; %s behind a 700 ms link that is down from %d s "
            "to %d s, a forwarded name a second, local names counted from %d s after it went down, until "
            "forwarded names answer again (at most %d s)." % (
                SILENT_ADDRESS, DEAD_S, "{:,}".format(BIG_SIZE), BIG_ADDRESS, BIG_S, SLOW_ADDRESS, LINK_DOWN_S[0],
                LINK_DOWN_S[1], OUTAGE_KNOWN_S, SLOW_S)]
