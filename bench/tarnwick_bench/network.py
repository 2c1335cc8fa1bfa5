"""The two private network namespaces every subject and load of a run live in.

The subject listens on 127.0.0.1 and ::1 port 53 of the bench namespace, so nothing
outside it is disturbed and nothing outside can get in. The upstream servers
listen on port 53 as the product expects, so they live in a second namespace
(a subject on 0.0.0.0:53 would shut them out of the first), reached through a
veth pair that exists only between the two."""

import os

from .processes import run

NETNS = "tarnwick-bench-%d" % os.getpid()
UPSTREAM_NETNS = "tarnwick-upstream-%d" % os.getpid()
VETH = ("twb%d" % os.getpid(), "twu%d" % os.getpid())  # bench side, upstream side

SERVER_ADDRESS = "127.0.0.1"  # the subject listens on port 53 here
SERVER_ADDRESS_IPV6 = "::1"  # and here
SERVER_PORT = 53
BENCH_LINK_ADDRESS = "10.53.0.1"  # these three exist only inside the two namespaces
UPSTREAM_ADDRESS = "10.53.0.2"  # the upstream dnsmasq
SILENT_ADDRESS = "10.53.0.3"  # an upstream that never answers
BIG_ADDRESS = "10.53.0.4"  # an upstream that answers at once, one name with 3,000 bytes
SLOW_ADDRESS = "10.53.0.5"  # an upstream behind a 700 ms link that goes down
UPSTREAM_PORT = 53


def in_netns(command, netns=NETNS):
    return ["ip", "netns", "exec", netns] + command


def in_upstream_netns(command):
    return in_netns(command, UPSTREAM_NETNS)


class Namespaces:
    """Creates both namespaces with loopback up and the veth pair between
    them; deleting the namespaces on exit takes the veth pair with them."""

    def __enter__(self):
        run(["ip", "netns", "add", NETNS], 10)
        run(["ip", "netns", "add", UPSTREAM_NETNS], 10, check=False)
        try:
            self._link()
        except BaseException:
            self._delete()
            raise
        return self

    def __exit__(self, *exc):
        self._delete()
        return False

    @staticmethod
    def _link():
        for netns in (NETNS, UPSTREAM_NETNS):
            run(in_netns(["ip", "link", "set", "lo", "up"], netns), 10)
        run(["ip", "link", "add", VETH[0], "netns", NETNS, "type", "veth", "peer", "name", VETH[1], "netns",
             UPSTREAM_NETNS], 10)
        run(in_netns(["ip", "addr", "add", BENCH_LINK_ADDRESS + "/24", "dev", VETH[0]]), 10)
        run(in_netns(["ip", "link", "set", VETH[0], "up"]), 10)
        for address in (UPSTREAM_ADDRESS, SILENT_ADDRESS, BIG_ADDRESS, SLOW_ADDRESS):
            run(in_upstream_netns(["ip", "addr", "add", address + "/24", "dev", VETH[1]]), 10)
        run(in_upstream_netns(["ip", "link", "set", VETH[1], "up"]), 10)

    @staticmethod
    def _delete():
        run(["ip", "netns", "delete", NETNS], 10, check=False)
        run(["ip", "netns", "delete", UPSTREAM_NETNS], 10, check=False)


def port_53_free():
    result = run(in_netns(["ss", "-Hlun", "sport = :%d" % SERVER_PORT]), timeout=10, check=False)
    return result.stdout.strip() == ""
