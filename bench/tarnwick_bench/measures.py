"""One function per group of figures.

Every measure takes the run (what it may use) and the subject, and writes
its figures into the subject's figures. Every figure is the median of
run.runs runs of run.seconds s each; lost queries and replies are summed."""

import statistics
import subprocess
import time

from . import load
from .network import in_netns, in_upstream_netns, SERVER_ADDRESS, SERVER_ADDRESS_IPV6, SERVER_PORT, \
    SILENT_ADDRESS, UPSTREAM_ADDRESS, UPSTREAM_PORT
from .paths import native_tool, WORK
from .processes import cpu_ns, elapsed, end_all, end_process, footprint, log, peak_rss_kb, pin_process, run, spawn
from .report import Figure
from .subjects import SUBJECTS, WindowedExe, WineHeadless
from .wine import OTHER_CPUS, WINE_CPUS, WINE_ENV, wine_command, wineserver_pid


class Budget:
    """How long the run may take, given by its caller."""

    def __init__(self, seconds):
        self.seconds = seconds

    def remaining(self):
        return self.seconds - elapsed()


class Run:
    """What every measure needs: the options, the name files, the time budget,
    the results so far and the notes for the report."""

    def __init__(self, args, names, budget):
        self.runs = args.runs
        self.seconds = args.seconds
        self.soak_seconds = args.soak
        self.soak_rate = args.soak_rate
        self.names = names
        self.budget = budget
        self.results = {}
        self.notes = []

    def repeat(self, function):
        return [function() for _ in range(self.runs)]


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def mb(kb):
    return kb / 1024 if kb else None


def local_c1_with_cpu(bench, subject, figures, cpu, wineserver_cpu=None):
    """The -c 1 local load, with the CPU each query cost the server (and
    Wine's wineserver, which does part of a Wine program's work)."""
    processes = {cpu: subject.process.pid}
    server = wineserver_pid() if subject.under_wine else None
    if server and wineserver_cpu:
        processes[wineserver_cpu] = server
    before = {figure: cpu_ns(pid) for figure, pid in processes.items()}
    samples = bench.repeat(lambda: load.dnsperf(bench.names.local, bench.seconds))
    completed = sum(s["completed"] for s in samples)
    if completed:
        for figure, pid in processes.items():
            figures[figure] = (cpu_ns(pid) - before[figure]) / completed / 1000
    return samples


def local_answers(bench, subject, figures):
    samples = local_c1_with_cpu(bench, subject, figures, Figure.LOCAL_CPU_US, Figure.LOCAL_WINESERVER_CPU_US)
    figures[Figure.LOCAL_QPS_C1] = median([s["qps"] for s in samples])
    figures[Figure.LOCAL_AVG_MS_C1] = median([s["avg_ms"] for s in samples])
    figures[Figure.LOCAL_MAX_MS_C1] = median([s["max_ms"] for s in samples])
    samples = bench.repeat(lambda: load.dnsperf(bench.names.local, bench.seconds, clients=10))
    figures[Figure.LOCAL_QPS_C10] = median([s["qps"] for s in samples])
    figures[Figure.LOCAL_AVG_MS_C10] = median([s["avg_ms"] for s in samples])
    figures[Figure.LOCAL_MAX_MS_C10] = median([s["max_ms"] for s in samples])
    log("%s: local answers %.0f qps (-c 1), %.0f qps (-c 10), %.1f us CPU per query" % (
        subject.name, figures[Figure.LOCAL_QPS_C1], figures[Figure.LOCAL_QPS_C10],
        figures.get(Figure.LOCAL_CPU_US, 0)))


def ipv6_beside_ipv4(bench, subject, figures):
    """The -c 1 local load at 127.0.0.1 and at ::1 in turn, run by run, so
    that both meet the same load of the shared machine: qps and CPU per query
    (the server's, and wineserver's for a Wine program) over IPv6, and each
    against IPv4 in the same runs."""
    pids = [subject.process.pid] + ([wineserver_pid()] if subject.under_wine and wineserver_pid() else [])
    taken = {address: ([], []) for address in (SERVER_ADDRESS, SERVER_ADDRESS_IPV6)}
    for _ in range(bench.runs):
        for address, (qps, cpu) in taken.items():
            before = sum(cpu_ns(pid) for pid in pids)
            sample = load.dnsperf(bench.names.local, bench.seconds, address=address)
            qps.append(sample["qps"])
            if sample["completed"]:
                cpu.append((sum(cpu_ns(pid) for pid in pids) - before) / sample["completed"] / 1000)
    (qps4, cpu4), (qps6, cpu6) = [(median(qps), median(cpu)) for qps, cpu in taken.values()]
    figures[Figure.IPV6_QPS_C1] = qps6
    figures[Figure.IPV6_CPU_US] = cpu6
    if qps4 and qps6 is not None:
        figures[Figure.IPV6_VS_IPV4_PCT] = (qps6 / qps4 - 1) * 100
    if cpu4 and cpu6 is not None:
        figures[Figure.IPV6_CPU_VS_IPV4_PCT] = (cpu6 / cpu4 - 1) * 100
    log("%s: local answers over IPv6 %.0f qps (-c 1, IPv4 %.0f in the same runs), %.1f us CPU per query (IPv4 %.1f)" % (
        subject.name, qps6, qps4, cpu6 or 0, cpu4 or 0))


def wineserver_on_other_core(bench, subject, figures):
    """The -c 1 local load once more with wineserver moved off the program's
    core: what the scheduler's placement alone does to a Wine program."""
    server = wineserver_pid()
    if not server or not OTHER_CPUS:
        return
    pin_process(server, OTHER_CPUS)
    try:
        samples = local_c1_with_cpu(bench, subject, figures, Figure.SPLIT_CPU_US, Figure.SPLIT_WINESERVER_CPU_US)
    finally:
        pin_process(server, WINE_CPUS)
    figures[Figure.SPLIT_QPS_C1] = median([s["qps"] for s in samples])
    log("%s: wineserver on another core: %.0f qps (-c 1), %.1f us CPU per query" % (
        subject.name, figures[Figure.SPLIT_QPS_C1], figures.get(Figure.SPLIT_CPU_US, 0)))


def forwarded_answers(bench, subject, figures):
    samples = bench.repeat(lambda: load.dnsperf(bench.names.forwarded, bench.seconds))
    figures[Figure.FWD_QPS] = median([s["qps"] for s in samples])
    # The relay's added latency is taken against the upstream measured
    # directly in turn with each run, so that a change in the machine's load
    # during the run does not show up as relay cost.
    direct, relayed = [], []
    for _ in range(bench.runs):
        direct.append(load.serial(bench.names.forwarded, max(1, bench.seconds // 2), address=UPSTREAM_ADDRESS,
                                  port=UPSTREAM_PORT))
        relayed.append(load.serial(bench.names.forwarded, bench.seconds))
    figures[Figure.FWD_DIRECT_US] = median([s["avg_us"] for s in direct])
    figures[Figure.FWD_SERIAL_AVG_US] = median([s["avg_us"] for s in relayed])
    log("%s: forwarded %.0f qps, one at a time %.0f us (upstream directly %.0f us)" % (
        subject.name, figures[Figure.FWD_QPS], figures[Figure.FWD_SERIAL_AVG_US], figures[Figure.FWD_DIRECT_US]))


def malformed_flood(bench, subject, figures):
    samples = bench.repeat(lambda: load.flood(bench.names.local, bench.seconds))
    figures[Figure.FLOOD_GOOD_QPS] = median([s["good_qps"] for s in samples])
    figures[Figure.FLOOD_GOOD_LOST] = sum(s["good_lost"] for s in samples)
    figures[Figure.FLOOD_QR_REPLIES] = sum(s["qr_set_replies"] for s in samples)
    log("%s: flood %.0f good qps, %d of %d good lost" % (
        subject.name, figures[Figure.FLOOD_GOOD_QPS], figures[Figure.FLOOD_GOOD_LOST],
        sum(s["good_sent"] for s in samples)))


def soak(bench, subject, figures):
    """A long steady load at a fixed rate: nothing may be lost, and memory
    and open descriptors must end where they started. Under Wine the
    program's files and sockets are wineserver's objects, so its footprint
    is taken as well."""
    watched = [(subject.process.pid, Figure.SOAK_RSS_START_MB, Figure.SOAK_FDS_START, Figure.SOAK_RSS_END_MB,
                Figure.SOAK_FDS_END)]
    server = wineserver_pid() if subject.under_wine else None
    if server:
        watched.append((server, Figure.SOAK_WINESERVER_RSS_START_MB, Figure.SOAK_WINESERVER_FDS_START,
                        Figure.SOAK_WINESERVER_RSS_END_MB, Figure.SOAK_WINESERVER_FDS_END))
    for pid, rss, fds, _, _ in watched:
        figures[rss], figures[fds] = footprint(pid)
    log("%s: soak of %d s at %d queries per second" % (subject.name, bench.soak_seconds, bench.soak_rate))
    result = load.dnsperf(bench.names.local, bench.soak_seconds, rate=bench.soak_rate)
    for pid, _, _, rss, fds in watched:
        figures[rss], figures[fds] = footprint(pid)
    figures[Figure.SOAK_SENT] = result["sent"]
    figures[Figure.SOAK_ANSWERED] = result["completed"]
    log("%s: soak: %d sent, %d answered; resident %.1f -> %.1f MB, descriptors %s -> %s" % (
        subject.name, result["sent"], result["completed"], figures[Figure.SOAK_RSS_START_MB],
        figures[Figure.SOAK_RSS_END_MB], figures[Figure.SOAK_FDS_START], figures[Figure.SOAK_FDS_END]))


def big_log(bench, subject, figures):
    """Local answers once the log is already 100 MB large; returns the stop's time."""
    subject.start_with([UPSTREAM_ADDRESS], bench.names.local, log_bytes=load.BIG_LOG_BYTES)
    samples = local_c1_with_cpu(bench, subject, figures, Figure.BIGLOG_CPU_US)
    figures[Figure.BIGLOG_QPS_C1] = median([s["qps"] for s in samples])
    log("%s: with a 100 MB log %.0f qps (-c 1), %.1f us CPU per query" % (
        subject.name, figures[Figure.BIGLOG_QPS_C1], figures.get(Figure.BIGLOG_CPU_US, 0)))
    return subject.stop()


def idle_stops(bench, subject, figures, stops):
    """The median stop time, starting and stopping until there are run.runs of them."""
    while len(stops) < bench.runs:
        subject.start_with([UPSTREAM_ADDRESS], bench.names.local)
        stops.append(subject.stop())
    figures[Figure.STOP_IDLE_MS] = median(stops)
    log("%s: stop when idle %.2f ms" % (subject.name, figures[Figure.STOP_IDLE_MS]))


def stop_while_forwarding(bench, subject, figures):
    """A forwarder that takes the query and never answers: the stop has to
    wait for the forwarding attempt in progress."""
    silent = spawn(in_upstream_netns(load.silent_upstream_command(SILENT_ADDRESS, UPSTREAM_PORT,
                                                                  "%s/stop-silent.log" % WORK)))
    waits = []
    try:
        for _ in range(bench.runs):
            subject.start_with([SILENT_ADDRESS], bench.names.local)
            waiting = spawn(in_netns([native_tool("serial_client"), "--server", SERVER_ADDRESS, "--port",
                                      str(SERVER_PORT), "--names", bench.names.forwarded, "--count", "1",
                                      "--timeout-ms", "3000"]))
            time.sleep(0.2)
            waits.append(subject.stop())
            end_process(waiting)
    finally:
        end_process(silent)
    figures[Figure.STOP_FORWARDING_MS] = median(waits)
    log("%s: stop during a forwarding wait %.0f ms" % (subject.name, figures[Figure.STOP_FORWARDING_MS]))


def measure_subject(bench, subject, loads=True):
    """Every figure for one subject. Without loads only the memory and the
    stop figures are taken."""
    figures = bench.results.setdefault(subject.name, {})
    stops = []
    try:
        subject.start_with([UPSTREAM_ADDRESS], bench.names.local)
        log("%s: started" % subject.name)
        # One unmeasured second first: Wine finishes starting its own services
        # in the first moments, and every server warms its caches.
        load.dnsperf(bench.names.local, 1)
        if loads:
            local_answers(bench, subject, figures)
            ipv6_beside_ipv4(bench, subject, figures)
            if subject.under_wine:
                wineserver_on_other_core(bench, subject, figures)
            forwarded_answers(bench, subject, figures)
            malformed_flood(bench, subject, figures)
        figures[Figure.PEAK_RSS_MB] = mb(subject.memory_kb())
        if loads and bench.soak_seconds and subject.soaked:
            soak(bench, subject, figures)
        if subject.under_wine and wineserver_pid():
            figures[Figure.WINESERVER_RSS_MB] = mb(peak_rss_kb(wineserver_pid()))
        stops.append(subject.stop())
        log("%s: peak RSS %s MB" % (subject.name, Figure.PEAK_RSS_MB.cell(figures)))
        if loads and subject.has_log:
            stops.append(big_log(bench, subject, figures))
        if subject.timed_stop:
            idle_stops(bench, subject, figures, stops)
        if subject.stop_command:
            stop_while_forwarding(bench, subject, figures)
    finally:
        subject.finish()


def measure_subjects(bench, names, upstream):
    """Every figure for each named subject in turn; a subject that fails is
    noted and the run goes on with the next (the upstream server stays)."""
    for name in names:
        subject_class = SUBJECTS[name]
        if bench.budget.remaining() < 60 + (bench.soak_seconds if subject_class.soaked else 0):
            bench.notes.append("%s skipped: the time budget ran out" % name)
            continue
        # With Tarnwick.exe measured under load, the headless Windows build
        # adds only what the windowed program cannot report: its stops.
        loads = not (subject_class is WineHeadless and Figure.LOCAL_QPS_C1 in bench.results.get(WindowedExe.name, {}))
        if not loads:
            bench.notes.append("the headless build under Wine was measured for its stops only (Tarnwick.exe has no "
                               "stop command, and its loads are in the Tarnwick.exe column)")
        try:
            measure_subject(bench, subject_class(), loads)
        except (RuntimeError, subprocess.TimeoutExpired, AttributeError) as error:
            bench.notes.append("%s: %s" % (name, error))
            log("%s failed: %s" % (name, error))
            end_all(keep=(upstream,))


LOG_WINDOW_SIZES = [(Figure.LOGWIN_1MB_S, 1024 * 1024), (Figure.LOGWIN_100MB_S, load.BIG_LOG_BYTES)]
LOG_WINDOW_LIMIT_S = 200


def log_window(bench, driver):
    """Tarnwick.exe under Wine: from pressing "Log" (the command the button
    sends) to the log window shown with its view filled, measured by the
    window driver, for each log size; the median of run.runs fresh starts."""
    if bench.budget.remaining() < 40:
        bench.notes.append("log window skipped: the time budget ran out")
        return
    try:
        log_window_times(bench, driver)
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        bench.notes.append("log window: %s" % error)


def log_window_times(bench, driver):
    figures = bench.results.setdefault(WindowedExe.name, {})
    for figure, size in LOG_WINDOW_SIZES:
        times = []
        for _ in range(bench.runs):
            program = WindowedExe()
            try:
                program.start_with([UPSTREAM_ADDRESS], bench.names.local, log_bytes=size)
                result = run(wine_command(["wine", driver, "time-log", str(LOG_WINDOW_LIMIT_S * 1000)]),
                             timeout=LOG_WINDOW_LIMIT_S + 30, env=dict(WINE_ENV, DISPLAY=program.display),
                             check=False)
                shown = load.key_values(result.stdout).get("log_window_ms")
                if shown is None:
                    bench.notes.append("log window with a %d MB log: not filled within %d s" % (
                        size // (1024 * 1024), LOG_WINDOW_LIMIT_S))
                    break
                times.append(shown / 1000)
            finally:
                if program.process is not None:
                    program.stop()
                program.finish()
        figures[figure] = median(times)
        log("log window, %d MB log: %s s" % (size // (1024 * 1024), figure.cell(figures)))


def upstream_directly(bench):
    """The upstream dnsmasq asked directly: what every forwarded figure stands on."""
    samples = bench.repeat(lambda: load.dnsperf(bench.names.forwarded, bench.seconds, address=UPSTREAM_ADDRESS,
                                                port=UPSTREAM_PORT))
    serial = bench.repeat(lambda: load.serial(bench.names.forwarded, bench.seconds, address=UPSTREAM_ADDRESS,
                                              port=UPSTREAM_PORT))
    figures = {"qps": median([s["qps"] for s in samples]), "serial_us": median([s["avg_us"] for s in serial])}
    log("upstream direct: %.0f qps, one at a time %.0f us" % (figures["qps"], figures["serial_us"]))
    return figures
