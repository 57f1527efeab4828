"""Slow clients: CONNECTIONS connections that send one byte of a request
head (every tenth: of a request body) every INTERVAL seconds (each opened again one interval after the server
closed or refused it) while logged-in users work through the desk, the menu, the
mail box and a static file. The users' answers must all succeed and their
99th percentile stay under one second.

    python3 slow.py DESKHOST WORKDIR CONNECTIONS SECONDS [INTERVAL]

The slow connections come from loopback addresses 127.0.0.2 and up, at most
SPREAD a piece (below the server's ceiling per address, so the total ceiling
is what they run into); the users come from 127.0.0.1. Everything goes to
127.0.0.1.
"""

import os
import selectors
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from deskclient import Client, Server, fail, percentile, stop_on_signals  # noqa: E402

SPREAD = 50
USERS = [("zhang", "zhang123"), ("li", "li123"), ("wang", "wang123"), ("zhao", "zhao123")]
PAGES = ["right.asp", "left.asp", "mailbox.asp", "default.htm"]
P99_BOUND = 1.0
HEAD = b"GET /tarvo/default.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 4000
# Every BODY_EVERY-th slow connection sends this head whole, then its body a
# byte at a time.
BODY_EVERY = 10
BODY_HEAD = (b"POST /tarvo/login.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
             b"application/x-www-form-urlencoded\r\nContent-Length: 4000\r\n\r\n")


class Attack:
    """The slow connections, driven from one thread."""

    def __init__(self, port, count, interval):
        self.port, self.count, self.interval = port, count, interval
        self.sel = selectors.DefaultSelector()
        self.opened = self.refused = self.dropped = self.failed = 0
        self.peak = 0
        self.live = {}  # socket -> [bytes sent, source address, dribbles a body]
        self.comeback = []  # (time, source address): reopened one interval after a drop

    def open(self, source, body):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.bind((source, 0))
            s.connect_ex(("127.0.0.1", self.port))
        except OSError:
            s.close()
            self.failed += 1
            return
        self.live[s] = [0, source, body]
        self.sel.register(s, selectors.EVENT_READ)
        self.opened += 1

    def close(self, s):
        self.sel.unregister(s)
        s.close()
        return self.live.pop(s)[1:]

    def run(self, until):
        for i in range(self.count):
            self.open("127.0.0.%d" % (2 + i // SPREAD), i % BODY_EVERY == 0)
        next_tick = time.monotonic() + self.interval
        while time.monotonic() < until:
            timeout = max(0.0, min(next_tick, until) - time.monotonic())
            for key, _ in self.sel.select(timeout):
                s = key.fileobj
                try:
                    data = s.recv(4096)
                except OSError:
                    data = b""
                if data.startswith(b"HTTP/1.1 503"):
                    self.refused += 1
                else:
                    self.dropped += 1
                self.comeback.append((time.monotonic() + self.interval, self.close(s)))
            if time.monotonic() >= next_tick:
                next_tick += self.interval
                for s, state in list(self.live.items()):
                    try:
                        if state[2]:
                            s.send(BODY_HEAD if state[0] == 0 else b"a")
                        else:
                            s.send(HEAD[state[0] % len(HEAD):][:1])
                        state[0] += 1
                    except OSError:
                        self.dropped += 1
                        self.comeback.append((time.monotonic() + self.interval, self.close(s)))
                now = time.monotonic()
                for _, (source, body) in [c for c in self.comeback if c[0] <= now]:
                    self.open(source, body)
                self.comeback = [c for c in self.comeback if c[0] > now]
            self.peak = max(self.peak, len(self.live))
        for s in list(self.live):
            self.close(s)


def user(port, uid, password, until, latencies, errors, lock):
    c = Client(port, timeout=10)
    try:
        c.login(uid, password)
    except Exception as e:  # noqa: BLE001
        with lock:
            errors.append("login of %s: %r" % (uid, e))
        return
    k = 0
    while time.monotonic() < until:
        page = PAGES[k % len(PAGES)]
        k += 1
        t0 = time.monotonic()
        try:
            a = c.get(page)
            ok = a.status == 200
            what = "%s answered %d" % (page, a.status)
        except Exception as e:  # noqa: BLE001
            ok, what = False, "%s: %r" % (page, e)
        dt = time.monotonic() - t0
        with lock:
            latencies.append(dt)
            if not ok:
                errors.append(what)
        time.sleep(0.02)


def main():
    stop_on_signals()
    deskhost, work = sys.argv[1], sys.argv[2]
    count, seconds = int(sys.argv[3]), float(sys.argv[4])
    interval = float(sys.argv[5]) if len(sys.argv) > 5 else 5.0
    app = os.path.join(work, "app")
    subprocess.run([deskhost, "init", app, "--demo", "--password-cost", "min",
                    "--admin-password", "slow-%d" % os.getpid()], check=True,
                   stdout=subprocess.DEVNULL)
    server = Server(deskhost, app, os.path.join(work, "serve.log"))
    server.start()
    try:
        print("slow: %d connections sending one byte of a head (or body) every %.0f s, %d users, %.0f s" %
              (count, interval, len(USERS), seconds), flush=True)
        attack = Attack(server.port, count, interval)
        until = time.monotonic() + seconds
        latencies, errors, lock = [], [], threading.Lock()
        users = [threading.Thread(target=user, args=(server.port, u, p, until, latencies, errors,
                                                     lock), daemon=True) for u, p in USERS]
        attacker = threading.Thread(target=attack.run, args=(until,), daemon=True)
        attacker.start()
        time.sleep(min(2.0, seconds / 10))  # the slow connections are in first
        for t in users:
            t.start()
        for t in users + [attacker]:
            t.join(timeout=seconds + 60)
        rss = server.rss_kib()
    finally:
        server.stop()
    p50, p99 = percentile(latencies, 50), percentile(latencies, 99)
    print("slow connections: %d opened, at most %d open at once, %d refused with 503, "
          "%d closed by the server, %d could not connect" %
          (attack.opened, attack.peak, attack.refused, attack.dropped, attack.failed))
    print("users: %d requests, %d errors, median %.1f ms, p99 %.1f ms, max %.1f ms" %
          (len(latencies), len(errors), p50 * 1000, p99 * 1000, max(latencies or [0]) * 1000))
    print("server memory at the end: %.1f MiB" % (rss / 1024))
    for e in errors[:10]:
        print("  " + e)
    if errors:
        fail("users got errors")
    if not latencies:
        fail("no user request was made")
    if p99 >= P99_BOUND:
        fail("users' p99 %.3f s is over %.1f s" % (p99, P99_BOUND))
    print("slow: OK")


if __name__ == "__main__":
    main()
