"""Shared by the robustness scripts: the server on loopback and a small
keep-alive HTTP client that logs in and posts forms the way the pages do.

Every connection goes to 127.0.0.1; every request has a timeout. Pages answer
in GB18030; form values are sent GB18030-encoded, like the pages' forms.
"""

import ctypes
import http.client
import os
import re
import signal
import socket
import subprocess
import sys
import time
import urllib.parse

HOST = "127.0.0.1"
TOKEN_RE = re.compile(rb"name='formtoken' value='([0-9A-Za-z_-]+)'")
JS_TOKENS_RE = re.compile(rb"(?:formtokens|helpertokens)=\[([^\]]*)\]")


def gb(text):
    return text.encode("gb18030")


def encode_form(fields):
    """application/x-www-form-urlencoded from (name, value) pairs, in GB18030."""
    return "&".join(
        urllib.parse.quote_plus(gb(k)) + "=" + urllib.parse.quote_plus(gb(v))
        for k, v in fields
    ).encode("ascii")


def _die_with_parent():
    """In the child before exec: SIGKILL when the script that started it ends,
    however it ends, so no server outlives its script."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def stop_on_signals():
    """SIGTERM and SIGHUP end the script through its finally blocks."""
    def handler(signum, frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, handler)
    signal.signal(signal.SIGHUP, handler)


class Server:
    """`deskhost serve` of one application folder on 127.0.0.1, on a port the
    kernel picks the first time and the same port after a restart."""

    def __init__(self, deskhost, appdir, log, extra=(), vdir="tarvo"):
        self.deskhost, self.appdir, self.log, self.extra = deskhost, appdir, log, list(extra)
        self.vdir, self.port, self.proc = vdir, 0, None

    def start(self, timeout=20.0):
        args = [self.deskhost, "serve", "--quiet", "--host", HOST, "--port", str(self.port),
                "--vdir", "%s=%s" % (self.vdir, self.appdir)] + self.extra
        mark = os.path.getsize(self.log) if os.path.exists(self.log) else 0
        with open(self.log, "ab") as out:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=out, preexec_fn=_die_with_parent)
        deadline = time.monotonic() + timeout
        pattern = re.compile(rb"listening on http://127\.0\.0\.1:(\d+)/")
        while time.monotonic() < deadline:
            with open(self.log, "rb") as f:
                f.seek(mark)
                m = pattern.search(f.read())
            if m:
                self.port = int(m.group(1))
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("the server did not start; see " + self.log)

    def kill9(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
        if self.proc:
            self.proc.wait()
        self.proc = None

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def rss_kib(self):
        """Resident memory of the server process in KiB."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0


class Answer:
    def __init__(self, status, headers, body):
        self.status, self.headers, self.body = status, headers, body

    def text(self):
        return self.body.decode("gb18030", "replace")

    def tokens(self):
        """Every form token the page gives out: form fields and script lists."""
        found = [t.decode() for t in TOKEN_RE.findall(self.body)]
        for group in JS_TOKENS_RE.findall(self.body):
            found += [t.strip(" '").strip() for t in group.decode().split(",") if t.strip(" '")]
        return found


class Client:
    """One browser: a keep-alive connection (opened again when the server
    closed it) and the session cookie."""

    def __init__(self, port, vdir="tarvo", timeout=30.0, source=None):
        self.port, self.vdir, self.timeout, self.source = port, vdir, timeout, source
        self.conn, self.cookie = None, ""

    def close(self):
        if self.conn:
            self.conn.close()
        self.conn = None

    def request(self, method, path, body=None, headers=None, retry_idle=True):
        hdrs = {"Host": "%s:%d" % (HOST, self.port)}
        if self.cookie:
            hdrs["Cookie"] = self.cookie
        hdrs.update(headers or {})
        fresh = self.conn is None
        if fresh:
            self.conn = http.client.HTTPConnection(
                HOST, self.port, timeout=self.timeout,
                source_address=(self.source, 0) if self.source else None)
        try:
            self.conn.request(method, "/%s/%s" % (self.vdir, path), body=body, headers=hdrs)
            res = self.conn.getresponse()
            data = res.read()
        except (http.client.RemoteDisconnected, BrokenPipeError, ConnectionResetError):
            self.close()
            # A kept-alive connection the server closed while idle: once more
            # on a new one, but only a request that changes nothing.
            if fresh or not retry_idle or method != "GET":
                raise
            return self.request(method, path, body, headers, retry_idle=False)
        except Exception:
            self.close()
            raise
        for k, v in res.getheaders():
            if k.lower() == "set-cookie" and v.upper().startswith("DESKSID="):
                self.cookie = v.split(";", 1)[0]
        if res.getheader("Connection", "").lower() == "close" or res.will_close:
            self.close()
        return Answer(res.status, res.getheaders(), data)

    def get(self, path):
        return self.request("GET", path)

    def post_form(self, path, fields):
        return self.request("POST", path, encode_form(fields),
                            {"Content-Type": "application/x-www-form-urlencoded"})

    def post_bytes(self, path, data, content_type="application/octet-stream"):
        return self.request("POST", path, data, {"Content-Type": content_type})

    def login(self, uid, password):
        self.get("default.htm")
        a = self.post_form("login.asp", [("username", uid), ("password", password)])
        if a.status != 302 or not self.cookie:
            raise RuntimeError("login of %s failed: %d" % (uid, a.status))


def multipart(files, fields=()):
    """A multipart/form-data body: (content type, bytes). `files` holds
    (field name, file name, bytes)."""
    boundary = "----robust%016x" % int.from_bytes(os.urandom(8), "big")
    out = []
    for name, value in fields:
        out.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n" %
                    (boundary, name)).encode() + gb(value) + b"\r\n")
    for name, filename, data in files:
        out.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                    "Content-Type: application/octet-stream\r\n\r\n" %
                    (boundary, name, filename)).encode() + data + b"\r\n")
    out.append(("--%s--\r\n" % boundary).encode())
    return "multipart/form-data; boundary=" + boundary, b"".join(out)


def percentile(values, p):
    if not values:
        return 0.0
    s = sorted(values)
    return s[min(len(s) - 1, int(len(s) * p / 100.0))]


def fail(msg):
    print("FAIL: " + msg, flush=True)
    sys.exit(1)
