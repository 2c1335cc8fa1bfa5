#!/usr/bin/env python3
"""A small network's ordinary DNS traffic, and upstream servers that misbehave.

  load     every 0.25 s a query for a name that no local record answers (a fresh
           name under --forwarded-name each time, q<N>.NAME, so that no cache
           answers it), every second one for --local-name (A and AAAA in turn),
           each from its own socket and waited for 5 s, as a resolver's first
           try. Writes one JSON object per query and line to --out:
           {"sent": seconds since the start, "kind": "local"|"forwarded",
            "name": the name asked, "qtype": 1|28, "latency": seconds or null,
            "rcode": int or null, "answers": ANCOUNT or null}
  summary  per kind: {"sent", "answered", "within_1s" (share 0..1), "median",
           "p95" (seconds of the answered ones, or null), "most_unanswered_in_row"}
           of the queries sent between --from and --to seconds.
  stub     an upstream server on --address:--port that never answers, or with
           --drop-every K answers every query but every K-th (one A record,
           192.0.2.53, for type A; no records for other types). Appends one
           line per received query to --log: "<unix time> <id> <name>". Runs
           until it is killed.

Every load is bounded by --seconds and stops by itself.
"""

import argparse
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


def encode_name(name):
    out = b""
    for label in name.strip(".").split("."):
        if label:
            out += bytes([len(label)]) + label.encode("ascii")
    return out + b"\0"


def make_query(query_id, name, qtype):
    header = struct.pack(">HHHHHH", query_id, 0x0100, 1, 0, 0, 0)  # RD, one question
    return header + encode_name(name) + struct.pack(">HH", qtype, 1)


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


def schedule(seconds):
    """(time, kind, qtype) of every query, in order of sending."""
    plan = []
    for step in range(int(seconds / FORWARDED_INTERVAL_S)):
        plan.append((step * FORWARDED_INTERVAL_S, "forwarded", 1))
    for step in range(int(seconds / LOCAL_INTERVAL_S)):
        plan.append((step * LOCAL_INTERVAL_S + 0.1, "local", 1 if step % 2 == 0 else 28))
    return sorted(plan)


def load(args):
    address = (args.server, args.port)
    selector = selectors.DefaultSelector()
    plan = schedule(args.seconds)
    results = []
    start = time.monotonic()
    next_index = 0
    serial = 0
    while next_index < len(plan) or selector.get_map():
        now = time.monotonic() - start
        while next_index < len(plan) and plan[next_index][0] <= now:
            at, kind, qtype = plan[next_index]
            next_index += 1
            serial += 1
            name = args.local_name if kind == "local" else "q%d.%s" % (serial, args.forwarded_name)
            query_id = random.randrange(0x10000)
            client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            client.setblocking(False)
            entry = {"sent": round(now, 3), "kind": kind, "name": name, "qtype": qtype, "latency": None,
                     "rcode": None, "answers": None}
            try:
                client.sendto(make_query(query_id, name, qtype), address)
            except OSError:
                client.close()
                results.append(entry)
                continue
            selector.register(client, selectors.EVENT_READ, (entry, query_id, time.monotonic()))
        deadline = plan[next_index][0] if next_index < len(plan) else now + CLIENT_WAIT_S
        for key, _ in selector.select(timeout=max(0.0, min(deadline - now, 0.05))):
            entry, query_id, sent_at = key.data
            try:
                reply = key.fileobj.recv(4096)
            except OSError:
                continue  # a refusal: the client waits on, as a resolver would for its first try
            if len(reply) < 12 or struct.unpack(">H", reply[:2])[0] != query_id:
                continue
            flags, _, answers = struct.unpack(">HHH", reply[2:8])
            entry.update(latency=round(time.monotonic() - sent_at, 4), rcode=flags & 0xF, answers=answers)
            selector.unregister(key.fileobj)
            key.fileobj.close()
            results.append(entry)
        for key in list(selector.get_map().values()):
            entry, _, sent_at = key.data
            if time.monotonic() - sent_at >= CLIENT_WAIT_S:
                selector.unregister(key.fileobj)
                key.fileobj.close()
                results.append(entry)
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
    for kind in ("local", "forwarded"):
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
        }
    return summary


def summary(args):
    print(json.dumps(summarize(args.file, args.first, args.last)))


def stub_reply(query, qtype_offset):
    qtype = struct.unpack(">H", query[qtype_offset : qtype_offset + 2])[0]
    answers = 1 if qtype == 1 else 0
    header = query[:2] + struct.pack(">HHHHH", 0x8180, 1, answers, 0, 0)
    reply = header + query[12 : qtype_offset + 4]
    if answers:
        reply += struct.pack(">HHHIH", 0xC00C, 1, 1, 60, 4) + STUB_ANSWER
    return reply


def stub(args):
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind((args.address, args.port))
    received = 0
    with open(args.log, "a", buffering=1) as log:
        while True:
            query, client = server.recvfrom(4096)
            question = decode_question(query) if len(query) >= 12 else None
            if question is None or len(query) < question[1] + 4:
                continue
            received += 1
            log.write("%.3f %d %s\n" % (time.time(), struct.unpack(">H", query[:2])[0], question[0]))
            if args.drop_every and received % args.drop_every != 0:
                server.sendto(stub_reply(query, question[1]), client)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    traffic = commands.add_parser("load")
    traffic.add_argument("--server", default="127.0.0.1")
    traffic.add_argument("--port", type=int, default=53)
    traffic.add_argument("--seconds", type=float, required=True)
    traffic.add_argument("--local-name", required=True)
    traffic.add_argument("--forwarded-name", required=True)
    traffic.add_argument("--out", required=True)
    summing = commands.add_parser("summary")
    summing.add_argument("file")
    summing.add_argument("--from", dest="first", type=float, default=0.0)
    summing.add_argument("--to", dest="last", type=float, default=float("inf"))
    upstream = commands.add_parser("stub")
    upstream.add_argument("--address", required=True)
    upstream.add_argument("--port", type=int, default=53)
    upstream.add_argument("--drop-every", type=int, default=0)
    upstream.add_argument("--log", required=True)
    args = parser.parse_args()
    if args.command == "load" and not 0 < args.seconds <= 3600:
        parser.error("--seconds must be between 0 and 3600")
    {"load": load, "summary": summary, "stub": stub}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
