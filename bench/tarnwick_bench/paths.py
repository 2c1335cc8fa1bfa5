"""Where the builds, the bench's Wine prefix and its scratch files lie."""

import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NATIVE_BUILD = os.path.join(ROOT, "build", "native-release")
WINDOWS_BUILD = os.path.join(ROOT, "build", "windows")
PREFIX = os.path.join(ROOT, "build", "bench-prefix")
WORK = os.path.join(ROOT, "build", "bench-work")
DNS_TRAFFIC = os.path.join(ROOT, "scripts", "lib", "dns_traffic.py")
TARNWICK_EXE = os.path.join(WINDOWS_BUILD, "ui", "Tarnwick.exe")


def native_tool(name):
    return os.path.join(NATIVE_BUILD, "bench", name)
