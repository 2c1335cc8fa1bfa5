"""The results as Markdown: every figure's key, label and format in one table."""

import enum
import os
import platform
import re

from .processes import run


class Figure(enum.Enum):
    """A figure of the results table, in the order of its rows: its label, its
    format and whether a ratio between two subjects means anything (counts
    and changes have none)."""

    def __init__(self, label, form, ratio=True):
        self.label = label
        self.form = form
        self.ratio = ratio

    LOCAL_QPS_C1 = ("local answers, qps, dnsperf -c 1", "%.0f")
    LOCAL_QPS_C10 = ("local answers, qps, dnsperf -c 10", "%.0f")
    LOCAL_CPU_US = ("local answers, server CPU per query, us (-c 1)", "%.1f")
    LOCAL_WINESERVER_CPU_US = ("local answers, wineserver CPU per query, us", "%.1f")
    SPLIT_QPS_C1 = ("local answers, qps -c 1, wineserver on another core", "%.0f")
    SPLIT_CPU_US = ("local answers, server CPU per query, us, wineserver on another core", "%.1f")
    SPLIT_WINESERVER_CPU_US = ("local answers, wineserver CPU per query, us, wineserver on another core", "%.1f")
    IPV6_QPS_C1 = ("local answers over IPv6 (::1), qps, dnsperf -c 1", "%.0f")
    IPV6_VS_IPV4_PCT = ("local answers over IPv6 vs. IPv4 in the same runs, qps -c 1, %", "%+.1f", False)
    IPV6_CPU_US = ("local answers over IPv6, CPU per query (with wineserver's), us", "%.1f")
    IPV6_CPU_VS_IPV4_PCT = ("local answers over IPv6 vs. IPv4 in the same runs, CPU per query, %", "%+.1f", False)
    LOCAL_AVG_MS_C1 = ("local answers, average latency ms (-c 1)", "%.3f")
    LOCAL_MAX_MS_C1 = ("local answers, maximum latency ms (-c 1)", "%.2f")
    LOCAL_AVG_MS_C10 = ("local answers, average latency ms (-c 10)", "%.3f")
    LOCAL_MAX_MS_C10 = ("local answers, maximum latency ms (-c 10)", "%.2f")
    FWD_QPS = ("forwarded answers, qps, dnsperf -c 1", "%.0f")
    FWD_SERIAL_AVG_US = ("forwarded, one at a time, average us", "%.0f")
    FWD_DIRECT_US = ("upstream asked directly, one at a time, average us", "%.0f")
    FWD_ADDED_US = ("forwarded, latency added by the relay, us", "%.0f")
    FLOOD_GOOD_QPS = ("malformed flood, good answers per second", "%.0f")
    FLOOD_GOOD_LOST = ("malformed flood, good queries lost (all runs)", "%d", False)
    FLOOD_QR_REPLIES = ("malformed flood, replies to QR-set datagrams", "%d", False)
    BIGLOG_QPS_C1 = ("local answers, qps -c 1, 100 MB log", "%.0f")
    BIGLOG_CPU_US = ("local answers, server CPU per query, us, 100 MB log", "%.1f")
    BIGLOG_CHANGE_PCT = ("server CPU per query, 100 MB log vs. fresh log, %", "%+.1f", False)
    LOGWIN_1MB_S = ("log window: \"Log\" pressed to a filled view, s, 1 MB log", "%.2f")
    LOGWIN_100MB_S = ("log window: \"Log\" pressed to a filled view, s, 100 MB log", "%.2f")
    PEAK_RSS_MB = ("peak resident memory, MB", "%.1f")
    WINESERVER_RSS_MB = ("peak resident memory of wineserver, MB", "%.1f")
    STOP_IDLE_MS = ("stop when idle, ms", "%.1f")
    STOP_FORWARDING_MS = ("stop during a forwarding wait, ms", "%.0f")
    SOAK_SENT = ("soak: queries sent", "%d", False)
    SOAK_ANSWERED = ("soak: queries answered", "%d", False)
    SOAK_RSS_START_MB = ("soak: resident memory at the start, MB", "%.1f")
    SOAK_RSS_END_MB = ("soak: resident memory at the end, MB", "%.1f")
    SOAK_FDS_START = ("soak: open descriptors at the start", "%d", False)
    SOAK_FDS_END = ("soak: open descriptors at the end", "%d", False)
    SOAK_WINESERVER_RSS_START_MB = ("soak: wineserver resident memory at the start, MB", "%.1f")
    SOAK_WINESERVER_RSS_END_MB = ("soak: wineserver resident memory at the end, MB", "%.1f")
    SOAK_WINESERVER_FDS_START = ("soak: wineserver open descriptors at the start", "%d")
    SOAK_WINESERVER_FDS_END = ("soak: wineserver open descriptors at the end", "%d")
    # The outage group, per situation and kind of name.
    DNS1_LOCAL_WITHIN_1S_PCT = ("dns1 silent: local names answered within 1 s, %", "%.1f")
    DNS1_LOCAL_MEDIAN_MS = ("dns1 silent: local names, median latency ms", "%.1f")
    DNS1_LOCAL_P95_MS = ("dns1 silent: local names, 95th-percentile latency ms", "%.1f")
    DNS1_FWD_WITHIN_1S_PCT = ("dns1 silent: forwarded names answered within 1 s, %", "%.1f")
    DNS1_FWD_MEDIAN_MS = ("dns1 silent: forwarded names, median latency ms", "%.1f")
    DNS1_FWD_P95_MS = ("dns1 silent: forwarded names, 95th-percentile latency ms", "%.1f")
    ALL_LOCAL_WITHIN_1S_PCT = ("every upstream silent: local names answered within 1 s, %", "%.1f")
    ALL_LOCAL_MEDIAN_MS = ("every upstream silent: local names, median latency ms", "%.1f")
    ALL_LOCAL_P95_MS = ("every upstream silent: local names, 95th-percentile latency ms", "%.1f")
    ALL_FWD_WITHIN_1S_PCT = ("every upstream silent: forwarded names answered within 1 s, %", "%.1f")
    ALL_FWD_MEDIAN_MS = ("every upstream silent: forwarded names, median latency ms", "%.1f")
    ALL_FWD_P95_MS = ("every upstream silent: forwarded names, 95th-percentile latency ms", "%.1f")
    DEAD_FWD_WITHIN_5S_PCT = ("dead name: other forwarded names answered within 5 s, %", "%.1f")
    DEAD_FWD_WITHIN_1S_PCT = ("dead name: other forwarded names answered within 1 s, %", "%.1f")
    BIG_REPLIES = ("3,000-byte reply: replies to its A and AAAA lookups (of 2)", "%d", False)
    BIG_LARGEST_BYTES = ("3,000-byte reply: largest reply received, bytes", "%d", False)
    BIG_FWD_WITHIN_1S_PCT = ("3,000-byte reply: following forwarded names answered within 1 s, %", "%.1f")
    SLOW_LOCAL_WITHIN_1S_PCT = ("slow link down: local names answered within 1 s, %", "%.1f")
    SLOW_BACK_S = ("slow link back: seconds until forwarded names answer again", "%.1f")

    def cell(self, figures):
        value = figures.get(self)
        return "-" if value is None else self.form % value


OUTAGE_FIGURES = [figure for figure in Figure if figure.name.startswith(("DNS1_", "ALL_", "DEAD_", "BIG_", "SLOW_"))]
MAIN_FIGURES = [figure for figure in Figure if figure not in OUTAGE_FIGURES]

COLUMNS = [("native", "Tarnwick native"), ("wine", "headless .exe, Wine"), ("exe", "Tarnwick.exe, Wine"),
           ("dnsmasq", "dnsmasq"), ("dnsmasq_log", "dnsmasq --log-queries")]
# Always Tarnwick / dnsmasq, also for figures where less is better.
RATIOS = [("native", "dnsmasq"), ("native", "dnsmasq_log"), ("wine", "dnsmasq_log"), ("exe", "dnsmasq_log")]
OUTAGE_RATIOS = [("native", "dnsmasq"), ("exe", "dnsmasq")]


def derive(results):
    """The figures computed from others."""
    for figures in results.values():
        if Figure.FWD_SERIAL_AVG_US in figures and Figure.FWD_DIRECT_US in figures:
            figures[Figure.FWD_ADDED_US] = figures[Figure.FWD_SERIAL_AVG_US] - figures[Figure.FWD_DIRECT_US]
        if figures.get(Figure.BIGLOG_CPU_US) and figures.get(Figure.LOCAL_CPU_US):
            figures[Figure.BIGLOG_CHANGE_PCT] = (figures[Figure.BIGLOG_CPU_US] / figures[Figure.LOCAL_CPU_US] - 1) * 100


def table(results, rows, ratios):
    """One row per figure some subject has, one column per subject with one
    of these figures, then the ratios between subjects."""
    present = [(name, title) for name, title in COLUMNS
               if name in results and any(figure in results[name] for figure in rows)]
    shown = {name for name, _ in present}
    ratios = [(a, b) for a, b in ratios if a in shown and b in shown]
    head = ["figure"] + [title for _, title in present] + ["%s / %s" % (a, b) for a, b in ratios]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for figure in rows:
        if not any(figure in results[name] for name in shown):
            continue
        row = [figure.label] + [figure.cell(results[name]) for name, _ in present]
        for a, b in ratios:
            x, y = results[a].get(figure), results[b].get(figure)
            meaningful = figure.ratio and x is not None and y is not None and y > 0
            row.append("%.2f" % (x / y) if meaningful else "-")
        lines.append("| " + " | ".join(row) + " |")
    return lines if present else []


def machine():
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = re.search(r"model name\s*:\s*(.*)", info.read()).group(1)
    except (OSError, AttributeError):
        pass
    dnsperf_help = run(["dnsperf", "-h"], 10, check=False)
    return "Machine: %s, %d cores, %s, Linux %s; %s; %s; dnsperf %s." % (
        cpu, os.cpu_count(), platform.platform(terse=True), platform.release(),
        run(["wine", "--version"], 20, check=False).stdout.strip() or "no Wine",
        run(["dnsmasq", "--version"], 10).stdout.splitlines()[0],
        re.search(r"Version ([\d.]+)", dnsperf_help.stdout + dnsperf_help.stderr).group(1))


def report(results, upstream, header, outage_header, outage_goal, notes):
    """results: per subject name its figures; upstream: the upstream dnsmasq's
    own figures (qps, serial_us) or None; header and outage_header: lines that
    say how the figures were taken; outage_goal: the outage group's goal line."""
    derive(results)
    lines = [machine()] + header
    if upstream:
        lines.append("Upstream dnsmasq measured directly: %.0f qps (dnsperf -c 1), %.0f us one at a time." % (
            upstream["qps"], upstream["serial_us"]))
    lines += [""] + table(results, MAIN_FIGURES, RATIOS) + [""]
    outage = table(results, OUTAGE_FIGURES, OUTAGE_RATIOS)
    if outage:
        lines += ["Outage: " + outage_header[0]] + outage_header[1:] + [""] + outage + ["", outage_goal, ""]
    return "\n".join(lines + ["Note: " + note for note in notes]) + "\n"
