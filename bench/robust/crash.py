"""Crash safety: kills the server with SIGKILL at random moments while
clients take approval steps, send mail with attachments and upload files;
after each restart the database must pass PRAGMA integrity_check, every write
that got a success answer must be there whole, and nothing half-done may
exist anywhere.

    python3 crash.py DESKHOST WORKDIR KILLS [SEED]

Prints the kills, the acknowledged writes by kind, the lost writes and the
half-done records; exits 1 when any write is lost, anything is half-done or
the database is damaged.
"""

import hashlib
import os
import random
import sqlite3
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from deskclient import Client, Server, fail, multipart, stop_on_signals  # noqa: E402

STEP_DONE = "公文已发送"
MAIL_DONE = "邮件已发送"
STEP_WORKERS, MAIL_WORKERS, UPLOAD_WORKERS = 3, 2, 2
ITEMS_PER_TOP_UP = 3000


def sha(data):
    return hashlib.sha256(data).hexdigest()


class Items:
    """Open verification items of zhang, each on its own document, handed
    out once each; topped up while the server is down."""

    def __init__(self, db):
        self.db, self.lock, self.free = db, threading.Lock(), []
        self.first_flow = self.first_item = None

    def top_up(self):
        if len(self.free) >= ITEMS_PER_TOP_UP // 2:
            return
        con = sqlite3.connect(self.db, timeout=30)
        try:
            with con:
                f = con.execute("SELECT IFNULL(MAX(id), 0) FROM fawen").fetchone()[0]
                w = con.execute("SELECT IFNULL(MAX(id), 0) FROM newwork").fetchone()[0]
                now = time.strftime("%Y-%m-%d %H:%M:%S")
                con.executemany(
                    "INSERT INTO fawen (id, title, writeid, writename, writedep, writetime, "
                    "documentname, filetype, filedata) VALUES (?, ?, 'chen', '陈杰', '办公室', ?, "
                    "'draft.doc', 'application/msword', randomblob(64))",
                    [(f + k, "断电测试公文%d" % (f + k), now) for k in range(1, ITEMS_PER_TOP_UP + 1)])
                con.executemany(
                    "INSERT INTO newwork (id, userid, title, url, baseid, applytime, typed, status) "
                    "VALUES (?, 'zhang', ?, 'hegao.asp', ?, ?, '核稿', 0)",
                    [(w + k, "断电测试公文%d" % (f + k), f + k, now)
                     for k in range(1, ITEMS_PER_TOP_UP + 1)])
        finally:
            con.close()
        if self.first_flow is None:
            self.first_flow, self.first_item = f + 1, w + 1
        self.free += [(w + k, f + k) for k in range(1, ITEMS_PER_TOP_UP + 1)]
        self.free.reverse()

    def take(self):
        with self.lock:
            return self.free.pop() if self.free else None


class Run:
    def __init__(self, server, items):
        self.server, self.items = server, items
        self.lock = threading.Lock()
        self.steps, self.attachments, self.mails, self.uploads = [], [], [], []
        self.unexpected = []  # answers that were neither success nor a dropped connection
        self.ready = threading.Semaphore(0)
        self.stop = threading.Event()
        self.killing = False
        self.rng = random.Random()

    def note(self, kind, value):
        with self.lock:
            getattr(self, kind).append(value)

    def odd(self, what, answer):
        with self.lock:
            self.unexpected.append("%s: %d %s" % (what, answer.status, answer.text()[:120]))

    # ---- workers: each logs in, says it is ready, and writes until the
    # server dies under it (a failed connection ends the worker).

    def stepper(self):
        c = Client(self.server.port)
        c.login("zhang", "zhang123")
        self.ready.release()
        while not self.stop.is_set():
            item = self.items.take()
            if item is None:
                return
            nwid, flowid = item
            page = c.get("hegao.asp?flowid=%d&nwid=%d" % (flowid, nwid))
            if page.status != 200 or not page.tokens():
                return self.odd("hegao form %d" % nwid, page)
            a = c.post_form("hegao.asp", [
                ("flowid", str(flowid)), ("nwid", str(nwid)), ("name_hg", "同意 %d" % nwid),
                ("typed", "2"), ("hiddenselect", "li"), ("username", "李娜"),
                ("formtoken", page.tokens()[0])])
            if a.status == 200 and STEP_DONE in a.text():
                self.note("steps", (nwid, flowid))
            else:
                return self.odd("step %d" % nwid, a)

    def mailer(self, n):
        c = Client(self.server.port)
        c.login("chen", "chen123")
        self.ready.release()
        k = 0
        while not self.stop.is_set():
            k += 1
            page = c.get("writemail.asp")
            tokens = page.tokens()
            if page.status != 200 or not tokens:
                return self.odd("compose form", page)
            data = os.urandom(self.rng.randint(1, 64 * 1024))
            a = c.post_bytes("mailfj.asp?filename=fj%d.bin" % k, data)
            if a.status != 200 or not a.text().startswith("OK "):
                return self.odd("attachment", a)
            fjid = int(a.text().split()[1])
            self.note("attachments", (fjid, sha(data)))
            title = "crash-%d-%d-%d-%s" % (os.getpid(), n, k, os.urandom(4).hex())
            a = c.post_form("writemail.asp", [
                ("hiddenselect", "wang;"), ("username", "王强"), ("title", title),
                ("text", "正文 " + title), ("formtoken", tokens[0])])
            if a.status == 200 and MAIL_DONE in a.text():
                self.note("mails", (title, fjid))
            else:
                return self.odd("mail", a)

    def uploader(self, n):
        c = Client(self.server.port)
        c.login("wang", "wang123")
        self.ready.release()
        tokens = []
        while not self.stop.is_set():
            if not tokens:
                page = c.get("writemail.asp")
                tokens = page.tokens()
                if page.status != 200 or not tokens:
                    return self.odd("token page", page)
            files = [("f%d" % i, "u%d.bin" % i, os.urandom(self.rng.randint(1, 200 * 1024)))
                     for i in range(self.rng.randint(1, 2))]
            ctype, body = multipart(files)
            a = c.post_bytes("upload.asp?formtoken=" + tokens.pop(), body, ctype)
            if a.status != 200:
                return self.odd("upload", a)
            by_field = {f: (len(d), sha(d)) for f, _, d in files}
            for line in a.text().splitlines():
                field, name, size = line.split()
                if by_field[field][0] != int(size):
                    return self.odd("upload size", a)
                self.note("uploads", (name,) + by_field[field])

    def run_cycle(self, seconds):
        """Starts the workers, kills the server `seconds` after they are all
        logged in, and waits for them to notice."""
        self.stop.clear()
        self.killing = False
        jobs = [self.stepper] * STEP_WORKERS
        jobs += [lambda n=n: self.mailer(n) for n in range(MAIL_WORKERS)]
        jobs += [lambda n=n: self.uploader(n) for n in range(UPLOAD_WORKERS)]
        threads = [threading.Thread(target=self.guard, args=(j,), daemon=True) for j in jobs]
        for t in threads:
            t.start()
        for _ in threads:
            self.ready.acquire(timeout=20)
        time.sleep(seconds)
        self.killing = True
        self.server.kill9()
        self.stop.set()
        for t in threads:
            t.join(timeout=60)
        if any(t.is_alive() for t in threads):
            fail("a client did not stop after the kill")
        while self.ready.acquire(blocking=False):
            pass

    def guard(self, job):
        try:
            job()
        except (OSError, ConnectionError, Exception) as e:  # the server died under it
            if not self.killing:
                with self.lock:
                    self.unexpected.append("client failed while the server ran: %r" % (e,))
            self.ready.release()  # a worker that never got ready does not hold up the cycle


def check(app, run, checked):
    """Checks the database and files against the acknowledged writes not yet
    checked (`checked` holds how many of each kind were) and looks for
    half-done records anywhere. Returns (lost, half_done, notes)."""
    db = os.path.join(app, "data", "office.db")
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=30)
    lost, half, notes = [], [], []
    try:
        ok = con.execute("PRAGMA integrity_check").fetchall()
        if ok != [("ok",)]:
            half.append("integrity_check: %r" % ok[:5])
        with run.lock:
            steps = run.steps[checked["steps"]:]
            attachments = run.attachments[checked["attachments"]:]
            mails = run.mails[checked["mails"]:]
            uploads = run.uploads[checked["uploads"]:]
        for nwid, flowid in steps:
            closed = con.execute("SELECT status FROM newwork WHERE id = ?", (nwid,)).fetchone()
            review = con.execute(
                "SELECT COUNT(*) FROM newwork WHERE baseid = ? AND url = 'shenhe.asp' "
                "AND userid = 'li'", (flowid,)).fetchone()[0]
            history = con.execute("SELECT COUNT(*) FROM workflow WHERE flowid = ?",
                                  (flowid,)).fetchone()[0]
            signed = con.execute("SELECT hegaoname FROM fawen WHERE id = ?", (flowid,)).fetchone()
            if not closed or closed[0] != 1 or review != 1 or history < 1 or not signed[0]:
                lost.append("step on item %d" % nwid)
        for fjid, digest in attachments:
            row = con.execute("SELECT filedata FROM mailfj WHERE id = ?", (fjid,)).fetchone()
            if not row or sha(bytes(row[0])) != digest:
                lost.append("attachment %d" % fjid)
        for title, fjid in mails:
            row = con.execute("SELECT fjlist FROM mail WHERE title = ? AND topeopleid = 'wang'",
                              (title,)).fetchone()
            bound = con.execute("SELECT status FROM mailfj WHERE id = ?", (fjid,)).fetchone()
            if not row or str(fjid) not in row[0].split(",") or not bound or bound[0] != 1:
                lost.append("mail %s" % title)
        for name, size, digest in uploads:
            row = con.execute("SELECT filesize FROM upfile WHERE filename = ?", (name,)).fetchone()
            path = os.path.join(app, "upfiles", name)
            if not row or row[0] != size or not os.path.isfile(path):
                lost.append("upload %s" % name)
                continue
            with open(path, "rb") as f:
                if sha(f.read()) != digest:
                    lost.append("upload %s (bytes differ)" % name)
        checked.update(steps=checked["steps"] + len(steps),
                       attachments=checked["attachments"] + len(attachments),
                       mails=checked["mails"] + len(mails), uploads=checked["uploads"] + len(uploads))

        # Half-done anywhere, acknowledged or not.
        f0 = run.items.first_flow
        for what, sql in [
            ("closed items without their review item or history",
             "SELECT COUNT(*) FROM newwork p WHERE p.url = 'hegao.asp' AND p.baseid >= ? "
             "AND p.status = 1 AND (NOT EXISTS (SELECT 1 FROM newwork r WHERE r.baseid = p.baseid "
             "AND r.url = 'shenhe.asp') OR NOT EXISTS (SELECT 1 FROM workflow h "
             "WHERE h.flowid = p.baseid))"),
            ("review items of a step whose item is still open",
             "SELECT COUNT(*) FROM newwork r JOIN newwork p ON p.baseid = r.baseid "
             "AND p.url = 'hegao.asp' WHERE r.url = 'shenhe.asp' AND r.baseid >= ? "
             "AND p.status = 0"),
        ]:
            n = con.execute(sql, (f0,)).fetchone()[0]
            if n:
                half.append("%d %s" % (n, what))
        bound = {r[0]: r[1] for r in con.execute("SELECT id, status FROM mailfj")}
        for mid, fjlist in con.execute("SELECT id, fjlist FROM mail WHERE fjlist <> ''"):
            for fj in fjlist.split(","):
                if bound.get(int(fj)) != 1:
                    half.append("mail %d lists attachment %s that is not bound to it" % (mid, fj))
        mail_ids = {r[0] for r in con.execute("SELECT id FROM mail")}
        for fjid, mailid in con.execute("SELECT id, mailid FROM mailfj WHERE status = 1"):
            if any(int(m) not in mail_ids for m in mailid.split(",")):
                half.append("sent attachment %d of a mail that does not exist" % fjid)
        rows = {}
        for name, size in con.execute("SELECT filename, filesize FROM upfile"):
            rows[name] = size
            path = os.path.join(app, "upfiles", name)
            if not os.path.isfile(path) or os.path.getsize(path) != size:
                half.append("upload row %s without its %d bytes" % (name, size))
        files = os.listdir(os.path.join(app, "upfiles"))
        spare = [f for f in files if f not in rows]
        if spare:
            notes.append("%d files in upfiles/ without a row (%d unfinished temporary files)" %
                         (len(spare), sum(f.startswith(".upload-") for f in spare)))
    finally:
        con.close()
    return lost, half[:20], notes


def main():
    stop_on_signals()
    deskhost, work, kills = sys.argv[1], sys.argv[2], int(sys.argv[3])
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else int.from_bytes(os.urandom(4), "big")
    rng = random.Random(seed)
    app = os.path.join(work, "app")
    subprocess.run([deskhost, "init", app, "--demo", "--password-cost", "min",
                    "--admin-password", "crash-%d" % os.getpid()], check=True,
                   stdout=subprocess.DEVNULL)
    items = Items(os.path.join(app, "data", "office.db"))
    server = Server(deskhost, app, os.path.join(work, "serve.log"))
    run = Run(server, items)
    checked = dict(steps=0, attachments=0, mails=0, uploads=0)
    lost, half, notes = [], [], []
    started = time.monotonic()
    print("crash: %d kills, seed %d; %d step, %d mail and %d upload clients" %
          (kills, seed, STEP_WORKERS, MAIL_WORKERS, UPLOAD_WORKERS), flush=True)
    try:
        for k in range(1, kills + 1):
            items.top_up()
            server.start()
            if k > 1:  # the database as the restarted server found it
                got = check(app, run, checked)
                lost += got[0]
                half += got[1]
                notes = got[2]
                if got[0] or got[1]:
                    print("crash: after kill %d: lost %r, half-done %r" % (k - 1, got[0][:5], got[1][:5]))
            run.run_cycle(rng.uniform(0.2, 2.5))
            if k % 10 == 0 or k == kills:
                print("crash: %d kills, %d acknowledged so far" %
                      (k, len(run.steps) + len(run.attachments) + len(run.mails) + len(run.uploads)),
                      flush=True)
        server.start()
        got = check(app, run, checked)
        lost += got[0]
        half += got[1]
        notes = got[2]
    finally:
        server.stop()
    acked = len(run.steps) + len(run.attachments) + len(run.mails) + len(run.uploads)
    print("kills: %d in %.0f s" % (kills, time.monotonic() - started))
    print("acknowledged writes: %d (steps %d, attachments %d, mails %d, uploads %d)" %
          (acked, len(run.steps), len(run.attachments), len(run.mails), len(run.uploads)))
    print("lost writes: %d" % len(lost))
    print("half-done or damaged: %d" % len(half))
    for n in notes:
        print("note: " + n)
    for line in (lost + half)[:20]:
        print("  " + line)
    if run.unexpected:
        print("unexpected answers while the server ran: %d" % len(run.unexpected))
        for line in run.unexpected[:10]:
            print("  " + line)
    if lost or half or run.unexpected:
        fail("crash safety broken")
    if acked == 0:
        fail("no write was acknowledged")
    print("crash: OK")


if __name__ == "__main__":
    main()
