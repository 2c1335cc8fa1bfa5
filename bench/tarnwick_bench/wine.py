"""Running the Windows builds under Wine, in the bench's own prefix.

A Wine program does what the kernel does for a Windows program (every socket
and file call) through round trips to its prefix's wineserver, some eight per
query. Left to the scheduler, the program and wineserver often sit on
different cores, and then each round trip wakes the other core with an
inter-processor interrupt, which a virtual machine makes expensive: 3 to 4
times the CPU per query on the 2-core build machine, depending on where the
scheduler happened to put them. Every Wine process of the run, wineserver
included, therefore runs on one core, as a Windows kernel call runs on the
caller's; the native servers and the load tools go wherever the scheduler
puts them."""

import os

from .network import in_netns, NETNS
from .paths import PREFIX, ROOT
from .processes import run

WINE_ENV = {"WINEPREFIX": PREFIX, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
ALL_CPUS = sorted(os.sched_getaffinity(0))
WINE_CPUS = ALL_CPUS[:1]
OTHER_CPUS = ALL_CPUS[1:]


def wine_command(command, netns=NETNS):
    return in_netns(["taskset", "-c", ",".join(str(cpu) for cpu in WINE_CPUS)] + command, netns)


def wineserver_pid():
    """The wineserver of our own prefix, told apart by the WINEPREFIX it inherited."""
    wanted = ("WINEPREFIX=" + PREFIX).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as comm:
                if not comm.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % entry, "rb") as environ:
                if wanted in environ.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def start_wine():
    # Sockets of Wine programs are created by wineserver, so our prefix's
    # wineserver has to run inside the namespace: end any earlier one of this
    # prefix first (it is ours alone), then start it in there.
    stop_wine()
    run(wine_command([os.path.join(ROOT, "scripts", "wine-prefix"), PREFIX]), 120)


def stop_wine():
    if os.path.isdir(PREFIX):
        run(["wineserver", "-k"], 30, env=WINE_ENV, check=False)
