"""Starting and ending the processes of a run, and what /proc tells about them.

Every process the bench starts is recorded here, so that the run can end each
one by its PID however it ends."""

import os
import signal
import subprocess
import time

_started_at = time.monotonic()
_started = []  # every process this run started and has not ended yet


def log(text):
    print("[%5.1f s] %s" % (elapsed(), text), flush=True)


def elapsed():
    return time.monotonic() - _started_at


def run(command, timeout, env=None, check=True):
    merged = dict(os.environ, **(env or {}))
    result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=merged)
    if check and result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (command[0], result.returncode, result.stderr.strip()[-500:]))
    return result


def spawn(command, env=None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, pass_fds=()):
    merged = dict(os.environ, **(env or {}))
    process = subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=subprocess.STDOUT, text=True,
                               env=merged, bufsize=1, pass_fds=pass_fds)
    _started.append(process)
    return process


def end_process(process, grace=3.0):
    if process.poll() is None:
        try:
            os.kill(process.pid, signal.SIGTERM)
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, signal.SIGKILL)
            process.wait(timeout=grace)
        except ProcessLookupError:
            pass
    if process in _started:
        _started.remove(process)


def end_all(keep=()):
    """Ends every process the run started, except those in keep."""
    for process in list(_started):
        if process not in keep:
            end_process(process)


def peak_rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def footprint(pid):
    """Resident memory in MB and the count of open descriptors, now."""
    rss_mb = None
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    rss_mb = int(line.split()[1]) / 1024
        return rss_mb, len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return rss_mb, None


def cpu_ns(pid):
    """CPU time of all threads of a process, from the scheduler's accounting."""
    total = 0
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as schedstat:
                total += int(schedstat.read().split()[0])
    except (OSError, ValueError, IndexError):
        pass
    return total


def pin_process(pid, cpus):
    """Moves every thread of a running process to the given cores."""
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            os.sched_setaffinity(int(task), cpus)
    except OSError:
        pass
