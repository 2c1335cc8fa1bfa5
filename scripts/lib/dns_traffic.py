#!/usr/bin/env python3
"""A small network's ordinary DNS traffic, and upstream servers that misbehave.

  load     every 0.25 s (--forwarded-interval) a query for a name that no local record answers (a fresh
           name under --forwarded-name each time, q<N>.NAME, so that no cache
           answers it), every second one for --local-name (A and AAAA in turn),
           each from its own socket and waited for 5 s, as a resolver's first
           try. With --lookup NAME, at each of the --lookup-at seconds also
           a lookup of NAME as a resolver makes it: A and AAAA at once, each
           from its own socket (with --lookup-edns SIZE an OPT record
           offering SIZE bytes). With --link-down FILE FROM TO, FILE exists
           from FROM to TO seconds (a stub's --down-while), and the load ends
           once a forwarded name sent after TO is answered. Writes one JSON
           object per query and line to --out:
           {"sent": seconds since the start, "kind": "local"|"forwarded"|
            "lookup", "name": the name asked, "qtype": 1|28, "latency":
            seconds or null, "rcode": int or null, "answers": ANCOUNT or
            null, "size": the reply's bytes or null}
  summary  per kind: {"sent", "answered", "within_1s" (share 0..1), "median",
           "p95" (seconds of the answered ones, or null), "most_unanswered_in_row",
           "first_answer" (seconds from --from to the first reply, or null),
           "largest" (bytes, or null)} of the queries sent between --from and
           --to seconds.
  stub     an upstream server on --address:--port that never answers, or with
           --drop-every K answers every query but every K-th, or with --delay S
           answers every query (but every K-th with both) S seconds after it
           came, without holding up others: one A record, 192.0.2.53, for type
           A; no records for other types. With --big-name NAME --big-size N,
           NAME is answered with TXT records making the reply N bytes when the
           query's OPT record offers that many, else with TC set (the 512-byte
           rule). With --down-while FILE it takes in and sends nothing while
           FILE exists, as if its link were down. Appends one line per received
           query to --log: "<unix time> <id> <name>", the root name as ".".
           Runs until it is killed.

Every load is bounded by --seconds and stops by itself.
"""

import argparse
import heapq
import json
import os
import random
import selectors
import socket
import statistics
import struct
import sys
import time

FORWARDED_INTERVAL_S = 0.25
LOCAL_INTERVAL_S = 1.0
CLIENT_WAIT_S = 5.0  # glibc's and Windows' first try
STUB_ANSWER = bytes([192, 0, 2, 53])
LARGEST_DATAGRAM = 65535
OPT_TYPE, TXT_TYPE = 41, 16


def encode_name(name):
    out = b""
    for label in name.strip(".").split("."):
        if label:
            out += bytes([len(label)]) + label.encode("ascii")
    return out + b"\0"


def opt_record(size):
    return b"\0" + struct.pack(">HHIH", OPT_TYPE, size, 0, 0)


def make_query(query_id, name, qtype, edns=0):
    header = struct.pack(">HHHHHH", query_id, 0x0100, 1, 0, 0, 1 if edns else 0)  # RD, one question
    return header + encode_name(name) + struct.pack(">HH", qtype, 1) + (opt_record(edns) if edns else b"")


def decode_question(datagram):
    """The question's name and the offset after it; None when it does not parse."""
    labels, position = [], 12
    while position < len(datagram):
        length = datagram[position]
        if length == 0:
            return ".".join(labels), position + 1
        if length > 63:
            return None
        labels.append(datagram[position + 1 : position + 1 + length].decode("ascii", "replace"))
        position += 1 + length
    return None


def schedule(seconds, forwarded_interval, lookup_at=()):
    """(time, kind, qtype) of every query, in order of sending."""
    plan = []
    for step in range(int(seconds / forwarded_interval)):
        plan.append((step * forwarded_interval, "forwarded", 1))
    for step in range(int(seconds / LOCAL_INTERVAL_S)):
        plan.append((step * LOCAL_INTERVAL_S + 0.1, "local", 1 if step % 2 == 0 else 28))
    plan += [(at, "lookup", qtype) for at in lookup_at for qtype in (1, 28)]
    return sorted(plan)


def set_link(path, down):
    if down and not os.path.exists(path):
        open(path, "w").close()
    elif not down and os.path.exists(path):
        os.remove(path)


def load(args):
    address = (args.server, args.port)
    selector = selectors.DefaultSelector()
    plan = schedule(args.seconds, args.forwarded_interval, args.lookup_at)
    link_file, down_from, down_to = args.link_down or (None, 0, 0)
    results = []
    start = time.monotonic()
    next_index = 0
    serial = 0
    while next_index < len(plan) or selector.get_map():
        now = time.monotonic() - start
        if link_file:
            set_link(link_file, down_from <= now < down_to)
        while next_index < len(plan) and plan[next_index][0] <= now:
            at, kind, qtype = plan[next_index]
            next_index += 1
            serial += 1
            name = {"local": args.local_name, "lookup": args.lookup}.get(kind, "q%d.%s" % (serial, args.forwarded_name))
            query_id = random.randrange(0x10000)
            client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            client.setblocking(False)
            entry = {"sent": round(now, 3), "kind": kind, "name": name, "qtype": qtype, "latency": None,
                     "rcode": None, "answers": None, "size": None}
            try:
                client.sendto(make_query(query_id, name, qtype, args.lookup_edns if kind == "lookup" else 0), address)
            except OSError:
                client.close()
                results.append(entry)
                continue
            selector.register(client, selectors.EVENT_READ, (entry, query_id, time.monotonic()))
        deadline = plan[next_index][0] if next_index < len(plan) else now + CLIENT_WAIT_S
        for key, _ in selector.select(timeout=max(0.0, min(deadline - now, 0.05))):
            entry, query_id, sent_at = key.data
            try:
                reply = key.fileobj.recv(LARGEST_DATAGRAM)
            except OSError:
                continue  # a refusal: the client waits on, as a resolver would for its first try
            if len(reply) < 12 or struct.unpack(">H", reply[:2])[0] != query_id:
                continue
            flags, _, answers = struct.unpack(">HHH", reply[2:8])
            entry.update(latency=round(time.monotonic() - sent_at, 4), rcode=flags & 0xF, answers=answers,
                         size=len(reply))
            selector.unregister(key.fileobj)
            key.fileobj.close()
            results.append(entry)
            if link_file and entry["kind"] == "forwarded" and entry["sent"] >= down_to:
                next_index = len(plan)  # forwarded names answer again after the link's return: done
        for key in list(selector.get_map().values()):
            entry, _, sent_at = key.data
            if time.monotonic() - sent_at >= CLIENT_WAIT_S:
                selector.unregister(key.fileobj)
                key.fileobj.close()
                results.append(entry)
    if link_file:
        set_link(link_file, False)
    results.sort(key=lambda entry: entry["sent"])
    with open(args.out, "w") as out:
        for entry in results:
            out.write(json.dumps(entry) + "\n")


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else None


def summarize(path, first=0.0, last=float("inf")):
    with open(path) as source:
        entries = [json.loads(line) for line in source if line.strip()]
    summary = {}
    for kind in ("local", "forwarded", "lookup"):
        chosen = [entry for entry in entries if entry["kind"] == kind and first <= entry["sent"] < last]
        latencies = [entry["latency"] for entry in chosen if entry["latency"] is not None]
        in_row = most_in_row = 0
        for entry in chosen:
            in_row = in_row + 1 if entry["latency"] is None else 0
            most_in_row = max(most_in_row, in_row)
        summary[kind] = {
            "sent": len(chosen),
            "answered": len(latencies),
            "within_1s": (sum(1 for latency in latencies if latency <= 1.0) / len(chosen)) if chosen else 0.0,
            "median": statistics.median(latencies) if latencies else None,
            "p95": percentile(latencies, 0.95),
            "most_unanswered_in_row": most_in_row,
            "first_answer": min((e["sent"] + e["latency"] - first for e in chosen if e["latency"] is not None),
                                default=None),
            "largest": max((e["size"] for e in chosen if e.get("size")), default=None),
        }
    return summary


def summary(args):
    print(json.dumps(summarize(args.file, args.first, args.last)))


def offered_size(query, qtype_offset):
    """The UDP size the query's OPT record offers; 512 without one."""
    opt = query[qtype_offset + 4 : qtype_offset + 15]
    if struct.unpack(">H", query[10:12])[0] and len(opt) == 11 and opt[0] == 0:
        rtype, size = struct.unpack(">HH", opt[1:5])
        if rtype == OPT_TYPE:
            return max(512, size)
    return 512


def big_answer(length):
    """One TXT record (owner: the question's name) of exactly length bytes."""
    text, left = b"", length - 12
    while left > 0:
        chunk = min(left, 256)
        text += bytes([chunk - 1]) + b"x" * (chunk - 1)
        left -= chunk
    return struct.pack(">HHHIH", 0xC00C, TXT_TYPE, 1, 60, len(text)) + text


def stub_reply(query, qtype_offset, name, args):
    qtype = struct.unpack(">H", query[qtype_offset : qtype_offset + 2])[0]
    question = query[12 : qtype_offset + 4]
    if args.big_name and name == args.big_name.strip("."):
        size = offered_size(query, qtype_offset)
        opt = opt_record(size) if size > 512 else b""
        if size < args.big_size:  # truncated, as a server answers whatever does not fit
            return query[:2] + struct.pack(">HHHHH", 0x8380, 1, 0, 0, 1 if opt else 0) + question + opt
        answer = big_answer(args.big_size - 12 - len(question) - len(opt))
        return query[:2] + struct.pack(">HHHHH", 0x8180, 1, 1, 0, 1 if opt else 0) + question + answer + opt
    answers = 1 if qtype == 1 else 0
    reply = query[:2] + struct.pack(">HHHHH", 0x8180, 1, answers, 0, 0) + question
    if answers:
        reply += struct.pack(">HHHIH", 0xC00C, 1, 1, 60, 4) + STUB_ANSWER
    return reply


def stub(args):
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind((args.address, args.port))
    server.setblocking(False)
    waiting = selectors.DefaultSelector()
    waiting.register(server, selectors.EVENT_READ)
    link_down = lambda: args.down_while and os.path.exists(args.down_while)  # noqa: E731
    received = 0
    due = []  # (when, order, reply, client) of the replies still to send
    with open(args.log, "a", buffering=1) as log:
        while True:
            while due and due[0][0] <= time.monotonic():
                _, _, reply, client = heapq.heappop(due)
                if not link_down():
                    server.sendto(reply, client)
            wait = min(0.05, due[0][0] - time.monotonic()) if due else 0.05
            waiting.select(max(0.0, wait))
            try:
                query, client = server.recvfrom(LARGEST_DATAGRAM)
            except BlockingIOError:
                continue
            question = decode_question(query) if len(query) >= 12 else None
            if question is None or len(query) < question[1] + 4 or link_down():
                continue
            received += 1
            log.write("%.3f %d %s\n" % (time.time(), struct.unpack(">H", query[:2])[0], question[0] or "."))
            answering = args.drop_every or args.delay is not None
            if answering and not (args.drop_every and received % args.drop_every == 0):
                reply = stub_reply(query, question[1], question[0], args)
                heapq.heappush(due, (time.monotonic() + (args.delay or 0), received, reply, client))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    traffic = commands.add_parser("load")
    traffic.add_argument("--server", default="127.0.0.1")
    traffic.add_argument("--port", type=int, default=53)
    traffic.add_argument("--seconds", type=float, required=True)
    traffic.add_argument("--local-name", required=True)
    traffic.add_argument("--forwarded-name", required=True)
    traffic.add_argument("--forwarded-interval", type=float, default=FORWARDED_INTERVAL_S)
    traffic.add_argument("--lookup", help="a name looked up as a resolver does (A and AAAA at once)")
    traffic.add_argument("--lookup-at", type=lambda text: [float(at) for at in text.split(",")], default=[])
    traffic.add_argument("--lookup-edns", type=int, default=0, metavar="SIZE")
    traffic.add_argument("--link-down", nargs=3, metavar=("FILE", "FROM", "TO"))
    traffic.add_argument("--out", required=True)
    summing = commands.add_parser("summary")
    summing.add_argument("file")
    summing.add_argument("--from", dest="first", type=float, default=0.0)
    summing.add_argument("--to", dest="last", type=float, default=float("inf"))
    upstream = commands.add_parser("stub")
    upstream.add_argument("--address", required=True)
    upstream.add_argument("--port", type=int, default=53)
    upstream.add_argument("--drop-every", type=int, default=0)
    upstream.add_argument("--delay", type=float)
    upstream.add_argument("--big-name")
    upstream.add_argument("--big-size", type=int, default=3000)
    upstream.add_argument("--down-while", metavar="FILE")
    upstream.add_argument("--log", required=True)
    args = parser.parse_args()
    if args.command == "load" and args.link_down:
        args.link_down = (args.link_down[0], float(args.link_down[1]), float(args.link_down[2]))
    if args.command == "load" and not (0 < args.seconds <= 3600 and args.forwarded_interval >= 0.01):
        parser.error("--seconds must be between 0 and 3600, --forwarded-interval at least 0.01")
    {"load": load, "summary": summary, "stub": stub}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
