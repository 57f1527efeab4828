"""Big bodies: a 1 GB upload is refused before it is read, logged in or not
(one sent in chunks, without a length, once it passes the ceiling);
then, with the upload ceiling (MaxSize) raised to fit, UPLOADS concurrent
uploads of MB MiB each (half multipart to upload.asp, half raw to
mailfj.asp) all succeed while the server's memory grows by less than three
times the bytes in flight (peak resident memory over that before).

    python3 bigbody.py DESKHOST WORKDIR UPLOADS MB
"""

import os
import select
import socket
import sqlite3
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from deskclient import Client, Server, fail, multipart, stop_on_signals  # noqa: E402

GIB = 1 << 30
# A refusal must come before this much of the 1 GB body is sent (the
# socket buffers on both sides hold a few MB the server never reads).
REFUSED_WITHIN = 64 << 20


def status_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def huge_post(port, cookie, chunked):
    """Sends a 1 GiB body of zeros (announced by its length, or in chunks of
    1 MiB) until the server answers. Returns (status, bytes sent before the
    answer)."""
    length = "Transfer-Encoding: chunked" if chunked else "Content-Length: %d" % GIB
    head = ("POST /tarvo/upload.asp?formtoken=x HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Content-Type: multipart/form-data; boundary=b\r\n%s\r\n%s\r\n" %
            (length, "Cookie: %s\r\n" % cookie if cookie else "")).encode()
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    sent, chunk, answer = 0, b"\0" * (1 << 20), b""
    if chunked:
        chunk = b"100000\r\n" + chunk + b"\r\n"
    deadline = time.monotonic() + 30
    try:
        s.sendall(head)
        s.setblocking(False)
        while time.monotonic() < deadline and sent < GIB:
            readable, writable, _ = select.select([s], [s] if sent < REFUSED_WITHIN else [], [], 1)
            if readable:
                try:
                    answer = s.recv(4096)
                except OSError:
                    pass
                break
            if writable:
                try:
                    sent += s.send(chunk)
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError:
                    break
    finally:
        s.close()
    status = int(answer[9:12]) if answer.startswith(b"HTTP/1.1 ") else 0
    return status, sent


def main():
    stop_on_signals()
    deskhost, work = sys.argv[1], sys.argv[2]
    uploads, mb = int(sys.argv[3]), int(sys.argv[4])
    size = mb << 20
    app = os.path.join(work, "app")
    db = os.path.join(app, "data", "office.db")
    subprocess.run([deskhost, "init", app, "--demo", "--password-cost", "min",
                    "--admin-password", "big-%d" % os.getpid()], check=True,
                   stdout=subprocess.DEVNULL)
    server = Server(deskhost, app, os.path.join(work, "serve.log"))
    server.start()
    problems = []
    try:
        pid = server.proc.pid
        c = Client(server.port)
        c.login("wang", "wang123")
        for who, cookie in [("anonymous", ""), ("logged in", c.cookie)]:
            for chunked in (False, True):
                status, sent = huge_post(server.port, cookie, chunked)
                how = "in chunks" if chunked else "with its length"
                print("1 GiB upload %s, %s: answered %d after %.1f MiB sent" %
                      (how, who, status, sent / 2**20))
                if status != 413 or sent >= REFUSED_WITHIN:
                    problems.append("the 1 GiB upload (%s, %s) was not refused unread" % (how, who))
        print("server RSS after the 1 GiB uploads: %.1f MiB" % (status_kib(pid, "VmRSS") / 1024))

        # The ceiling read at login: raised so that every upload fits.
        con = sqlite3.connect(db, timeout=30)
        with con:
            con.execute("UPDATE sysconfig SET maxsize = ?", (size + (1 << 20),))
        con.close()
        data = os.urandom(size)
        ctype, body = multipart([("f", "big.bin", data)])
        clients = []
        for i in range(uploads):
            cl = Client(server.port, timeout=300)
            cl.login("wang", "wang123")
            tokens = cl.get("writemail.asp").tokens()
            clients.append((cl, tokens[0]))
        base = status_kib(pid, "VmRSS")
        results, lock = [], threading.Lock()
        start = threading.Barrier(uploads)

        def one(i, cl, token):
            start.wait()
            try:
                if i % 2 == 0:
                    a = cl.post_bytes("upload.asp?formtoken=" + token, body, ctype)
                    ok = a.status == 200 and a.text().split()[2:3] == [str(size)]
                else:
                    a = cl.post_bytes("mailfj.asp?filename=big%d.bin" % i, data)
                    ok = a.status == 200 and a.text().startswith("OK ")
                what = "%d %s" % (a.status, a.text()[:80])
            except Exception as e:  # noqa: BLE001
                ok, what = False, repr(e)
            with lock:
                results.append((ok, what))

        t0 = time.monotonic()
        threads = [threading.Thread(target=one, args=(i, cl, tok), daemon=True)
                   for i, (cl, tok) in enumerate(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=600)
        took = time.monotonic() - t0
        peak = status_kib(pid, "VmHWM")
        time.sleep(2)  # freed memory goes back to the system within a second
        after = status_kib(pid, "VmRSS")
        in_flight = uploads * len(data)
        good = sum(ok for ok, _ in results)
        print("%d concurrent uploads of %d MiB (%.0f MiB in flight) in %.1f s: %d succeeded" %
              (uploads, mb, in_flight / 2**20, took, good))
        grew = (peak - base) * 1024
        print("server RSS: %.1f MiB before, peak %.1f MiB (growth %.2fx the bytes in flight), "
              "%.1f MiB after" % (base / 1024, peak / 1024, grew / in_flight, after / 1024))
        for ok, what in results:
            if not ok:
                problems.append("an upload failed: " + what)
        if good != uploads:
            problems.append("%d of %d uploads failed" % (uploads - good, uploads))
        if grew >= 3 * in_flight:
            problems.append("memory grew by more than three times the bytes in flight")
    finally:
        server.stop()
    for p in problems[:10]:
        print("  " + p)
    if problems:
        fail("big bodies")
    print("bigbody: OK")


if __name__ == "__main__":
    main()
