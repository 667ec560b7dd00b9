#!/usr/bin/env python3
"""Load on the program's web server, for bench/web/web_load.sh. Three roles, each run as a
process of its own so that one role's work does not delay another's clock:

  load.py ranges BASE ID FILE SECONDS [CLIENTS [CHUNK]]
      CLIENTS (50) clients at once, each on one kept-alive connection, asking for random
      byte ranges of CHUNK bytes (1 MiB) of /recordings/ID over and over for SECONDS. Every
      answer must be 206 with the Content-Range of the range asked for and the bytes FILE
      holds there. Prints the bytes served, MB/s and every kind of error; exits 1 on any.
  load.py probe BASE SECONDS [INTERVAL_MS [TARGET_MS]]
      fetches / and /api/status every INTERVAL_MS (250), each on a new connection as a
      browser opening the page would, and times each from connect to the last byte. Prints
      the median, 95th percentile and maximum of each; exits 1 when an answer is not 200 or
      one took TARGET_MS (200) or more.
  load.py slow BASE SECONDS [SILENCE]
      one connection that sends a request one byte a second for SECONDS, then nothing for
      up to SILENCE seconds (40) more. Prints what it got: an answer, the server closing it,
      or neither. Judges nothing.

BASE is http://HOST:PORT. Python 3 standard library only.
"""

import http.client
import os
import random
import socket
import statistics
import sys
import threading
import time
import urllib.parse


def host_port(base):
    parsed = urllib.parse.urlsplit(base)
    return parsed.hostname, parsed.port


class RangeTally:
    """What the range clients saw, added up under one lock."""

    def __init__(self):
        self.lock = threading.Lock()
        self.requests = 0
        self.bytes = 0
        self.errors = {}      # kind -> count
        self.examples = []    # the first few errors, in words
        self.reopens = 0      # connections closed by the server before a request

    def reopened(self):
        with self.lock:
            self.reopens += 1

    def served(self, size):
        with self.lock:
            self.requests += 1
            self.bytes += size

    def error(self, kind, words):
        with self.lock:
            self.errors[kind] = self.errors.get(kind, 0) + 1
            if len(self.examples) < 5:
                self.examples.append(words)


def check_range(response, body, expected, first, last, size):
    """The error's kind and words when the answer is not the range asked for, else None."""
    if response.status != 206:
        return "status", f"bytes={first}-{last}: status {response.status}"
    want = f"bytes {first}-{last}/{size}"
    got = response.getheader("Content-Range")
    if got != want:
        return "content-range", f"bytes={first}-{last}: Content-Range {got!r}, not {want!r}"
    if len(body) != last - first + 1:
        return "length", f"bytes={first}-{last}: {len(body)} bytes, not {last - first + 1}"
    if body != expected:
        return "content", f"bytes={first}-{last}: the bytes differ from the file's"
    return None


def range_client(base, path, fd, size, chunk, deadline, tally, seed):
    rng = random.Random(seed)
    host, port = host_port(base)
    connection = None
    while time.monotonic() < deadline:
        first = rng.randrange(0, size - chunk + 1)
        last = first + chunk - 1
        try:
            if connection is None:
                connection = http.client.HTTPConnection(host, port, timeout=30)
            connection.request("GET", path, headers={"Range": f"bytes={first}-{last}"})
            response = connection.getresponse()
            body = response.read()
        except http.client.RemoteDisconnected:
            # The server may close a kept-alive connection between answers: counted, and
            # opened again, but no error.
            tally.reopened()
            connection.close()
            connection = None
            continue
        except (OSError, http.client.HTTPException) as e:
            tally.error("connection", f"bytes={first}-{last}: {type(e).__name__}: {e}")
            if connection is not None:
                connection.close()
            connection = None
            continue
        fault = check_range(response, body, os.pread(fd, chunk, first), first, last, size)
        if fault:
            tally.error(*fault)
        else:
            tally.served(len(body))
        if response.will_close:
            connection.close()
            connection = None
    if connection is not None:
        connection.close()


def run_ranges(base, rec_id, file_path, seconds, clients=50, chunk=1 << 20):
    size = os.path.getsize(file_path)
    fd = os.open(file_path, os.O_RDONLY)
    tally = RangeTally()
    path = f"/recordings/{rec_id}"
    start = time.monotonic()
    deadline = start + seconds
    threads = [threading.Thread(target=range_client,
                                args=(base, path, fd, size, chunk, deadline, tally, n), daemon=True)
               for n in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall = time.monotonic() - start
    used = os.times()
    os.close(fd)
    errors = sum(tally.errors.values())
    print(f"ranges: {clients} clients, {chunk} bytes each of a {size}-byte recording, {wall:.1f} s")
    print(f"  answers right      {tally.requests}")
    print(f"  bytes served       {tally.bytes} ({tally.bytes / wall / 1e6:.1f} MB/s)")
    print(f"  range errors       {errors}" + ("" if not errors else
          " (" + ", ".join(f"{kind} {n}" for kind, n in sorted(tally.errors.items())) + ")"))
    print(f"  these clients' own CPU {100 * (used.user + used.system) / wall:.1f} % of one core")
    print(f"  reopened           {tally.reopens} connections the server had closed between answers")
    for words in tally.examples:
        print(f"    {words}")
    if errors:
        print(f"FAIL: {errors} ranges were not answered right")
        return 1
    if tally.requests == 0:
        print("FAIL: no range was answered")
        return 1
    return 0


class Probe:
    """One timed fetch: when it began (seconds into the run) and, in seconds from the start
    of the connect, when the connection stood, the answer's head came and its last byte."""

    def __init__(self, at, status, connected, head, whole):
        self.at, self.status, self.connected, self.head, self.whole = at, status, connected, head, whole

    def parts(self):
        return (f"at +{self.at:.1f} s: connected after {self.connected * 1000:.1f} ms, head after "
                f"{self.head * 1000:.1f} ms, last byte after {self.whole * 1000:.1f} ms")


def timed_get(host, port, path, at):
    """A Probe of path on a new connection."""
    began = time.monotonic()
    connection = http.client.HTTPConnection(host, port, timeout=10)
    try:
        connection.connect()
        connected = time.monotonic() - began
        connection.request("GET", path)
        response = connection.getresponse()
        head = time.monotonic() - began
        response.read()
        return Probe(at, response.status, connected, head, time.monotonic() - began)
    finally:
        connection.close()


def describe_times(label, probes):
    if not probes:
        return f"  {label:<12} no answers"
    ms = sorted(p.whole * 1000 for p in probes)
    p95 = ms[min(len(ms) - 1, int(round(0.95 * (len(ms) - 1))))]
    slowest = max(probes, key=lambda p: p.whole)
    return (f"  {label:<12} {len(ms)} answers: median {statistics.median(ms):.1f} ms, "
            f"p95 {p95:.1f} ms, max {ms[-1]:.1f} ms\n"
            f"  {'':<12} the slowest {slowest.parts()}")


def run_probe(base, seconds, interval_ms=250, target_ms=200):
    host, port = host_port(base)
    paths = ["/", "/api/status"]
    probes = {p: [] for p in paths}
    failures = []
    # How much later than asked the prober woke from its sleeps: this machine's own delay
    # in running a process that was ready, which every answer time here includes.
    late_wakes = []
    start = time.monotonic()
    tick = start
    while tick < start + seconds:
        for p in paths:
            try:
                probe = timed_get(host, port, p, time.monotonic() - start)
                probes[p].append(probe)
                if probe.status != 200:
                    failures.append(f"{p}: status {probe.status}")
            except (OSError, http.client.HTTPException) as e:
                failures.append(f"{p}: {type(e).__name__}: {e}")
        tick += interval_ms / 1000
        if tick > time.monotonic():
            time.sleep(tick - time.monotonic())
            late_wakes.append(time.monotonic() - tick)
    print(f"answer times, each on a new connection every {interval_ms} ms (target: max under {target_ms} ms):")
    print(describe_times("page /", probes["/"]))
    print(describe_times("/api/status", probes["/api/status"]))
    if late_wakes:
        print(f"  the prober woke late by {statistics.median(late_wakes) * 1000:.1f} ms (median), "
              f"{max(late_wakes) * 1000:.1f} ms at most")
    failed = 0
    if failures:
        print(f"FAIL: {len(failures)} probes not answered 200: " + "; ".join(failures[:3]))
        failed = 1
    slowest = max((p.whole for ps in probes.values() for p in ps), default=0) * 1000
    if slowest >= target_ms:
        print(f"FAIL: an answer took {slowest:.1f} ms (target: under {target_ms} ms)")
        failed = 1
    return failed


def run_slow(base, seconds, silence=40):
    host, port = host_port(base)
    request = f"GET /api/status HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode()
    sock = socket.create_connection((host, port), timeout=10)
    sock.setblocking(False)
    start = time.monotonic()
    sent = 0
    answer = b""
    closed_at = None
    last_byte_at = start
    stop_sending = start + seconds
    while True:
        now = time.monotonic()
        if sent < len(request) and now < stop_sending and now >= last_byte_at + (1 if sent else 0):
            try:
                sock.send(request[sent:sent + 1])
                sent += 1
                last_byte_at = now
            except OSError:
                closed_at = now
                break
        if now >= max(stop_sending, last_byte_at) + silence:
            break
        try:
            data = sock.recv(65536)
            if not data:
                closed_at = time.monotonic()
                break
            answer += data
            if b"\r\n\r\n" in answer:
                break
        except BlockingIOError:
            pass
        except OSError:
            closed_at = time.monotonic()
            break
        time.sleep(0.05)
    sock.close()
    whole = f"{sent} of {len(request)} request bytes, one a second"
    if answer:
        status_line = answer.split(b"\r\n", 1)[0].decode(errors="replace")
        print(f"slow client: answered '{status_line}' {time.monotonic() - start:.1f} s after connecting ({whole})")
    elif closed_at is not None:
        print(f"slow client: closed by the server {closed_at - start:.1f} s after connecting, "
              f"{closed_at - last_byte_at:.1f} s after its last byte, unanswered ({whole})")
    else:
        print(f"slow client: neither answered nor closed {time.monotonic() - start:.1f} s after connecting, "
              f"{time.monotonic() - last_byte_at:.1f} s after its last byte ({whole})")
    return 0


def main(argv):
    if len(argv) < 2 or argv[1] not in ("ranges", "probe", "slow"):
        print(__doc__, file=sys.stderr)
        return 2
    role, args = argv[1], argv[2:]
    if role == "ranges":
        return run_ranges(args[0], args[1], args[2], float(args[3]), *(int(a) for a in args[4:6]))
    if role == "probe":
        return run_probe(args[0], float(args[1]), *(int(a) for a in args[2:4]))
    return run_slow(args[0], float(args[1]), *(float(a) for a in args[2:3]))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
