#!/usr/bin/env python3
"""Writes the kept fuzz corpora under tests/fuzz/corpus/ (multipart, form,
cookie, gb18030, target). Run from anywhere; the files are committed, so this only
needs running again when the cases below change:

    python3 tests/fuzz/make_corpus.py

Multipart inputs start with four bytes read by multipart_fuzz.cc: the length
of the first chunk (little-endian 16 bits) and a seed for the later chunk
lengths. Most bodies are malformed on purpose: line-end floods, bodies cut or
missing their last delimiter, delimiter fragments split across chunk edges,
quotes inside names, oversized headers, NULs and invalid GB18030 text.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

TOKEN = b"7d510424800931"
B = b"-" * 27 + TOKEN  # the document control's boundary
D = b"--" + B  # its delimiter line
CRLF = b"\r\n"


def gb(s):
    return s.encode("gb18030")


def control_body(params, files, delimiter=D, eol=CRLF):
    """The control's multi-file upload, byte for byte."""
    out = [delimiter, b'Content-Disposition: form-data; name="filenum"', b"", str(len(files)).encode()]
    body = eol.join(out) + eol
    for name, value in params:
        body += eol.join([delimiter, b'Content-Disposition: form-data; name="' + name + b'"', b"", value]) + eol
    for i, (path, data) in enumerate(files, 1):
        body += eol.join([delimiter,
                          b'Content-Disposition: form-data; name="file%d"; filename="' % i + path + b'"',
                          b"Content-Type: application/octet-stream", b""]) + eol
        body += data + eol
    return body + delimiter + b"--" + eol


def part(disposition, data, extra=b"", delimiter=D):
    return delimiter + CRLF + b"Content-Disposition: " + disposition + CRLF + extra + CRLF + data + CRLF


END = D + b"--" + CRLF

BASE = control_body([(b"title", gb("季度报告")), (b"token", b"t-1")],
                    [(gb("C:\\文档\\报告.DOC"), b"PK\x03\x04" + b"x" * 40 + CRLF + b"--" + CRLF),
                     (b"D:\\a.xls", b"")])


class Writer:
    def __init__(self, name):
        self.dir = os.path.join(CORPUS, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.count = 0

    def add(self, label, data):
        self.count += 1
        path = os.path.join(self.dir, "%03d-%s" % (self.count, label))
        with open(path, "wb") as f:
            f.write(data)


def multipart():
    w = Writer("multipart")

    def add(label, body, first=0, seed=0):
        w.add(label, struct.pack("<HH", first, seed) + body)

    # Well-formed seeds for mutation.
    add("control", BASE)
    add("control-chunks-1", BASE, 1, 1)
    add("browser", part(b'form-data; name="a"', b"1") +
        part(b'form-data; name="f"; filename="x.jpg"', b"\xff\xd8\xff", b"Content-Type: image/jpeg\r\n") + END)

    # CR LF floods, alone and as file data of a body that never ends.
    for n in (1, 2, 3, 4, 7, 64, 75, 1000, 6000):
        add("crlf-only-%d" % n, CRLF * n)
        add("cr-only-%d" % n, b"\r" * n)
    for n in (10, 500, 20000):
        add("crlf-data-unclosed-%d" % n, part(b'form-data; name="f"; filename="a"', CRLF * n)[:-2])
        add("crlf-preamble-%d" % n, CRLF * n + BASE)

    # LF-only line ends.
    for n in (1, 2, 74, 1000, 6000):
        add("lf-only-%d" % n, b"\n" * n)
    add("lf-base", BASE.replace(CRLF, b"\n"))
    add("lf-headers", BASE.replace(b'"\r\n\r\n', b'"\n\n'))
    add("lf-before-delimiters", BASE.replace(CRLF + D, b"\n" + D))
    add("mixed-line-ends", BASE.replace(CRLF, b"\n", 3))
    add("lf-data-unclosed", part(b'form-data; name="f"; filename="a"', b"\n" * 5000)[:-2])

    # Delimiter fragments split across every chunk edge: the body is cut off
    # inside a delimiter (so it is malformed), and the first chunk ends k
    # bytes into that delimiter.
    second = BASE.index(CRLF + D, len(D))
    closing = BASE.rindex(CRLF + D)
    for k in range(0, len(D) + 3, 1):
        add("edge-second-%02d" % k, BASE[:closing + 2 + k], second + k, k)
    for k in range(0, len(D) + 5, 2):
        add("edge-closing-%02d" % k, BASE[:closing + k], closing + k, 7 * k)
    # Fragments of the delimiter as file data, each one byte short or wrong.
    frags = b"".join(CRLF + D[:k] + b"\r" for k in range(len(D)))
    frags += CRLF + D[:-1] + b"x" + CRLF + D[:-2] + b"x" + D[-1:]
    for k in (0, 1, 17, 33):
        add("fragments-%02d" % k, part(b'form-data; name="f"; filename="f.bin"', frags * 4) + END[:-k or None],
            k + 90, k)

    # Bodies cut short or missing their last delimiter.
    add("no-final-delimiter", BASE[:closing + 2])
    add("final-without-dashes", BASE[:closing] + CRLF + D + CRLF)
    add("final-one-dash", BASE[:closing] + CRLF + D + b"-")
    add("final-then-garbage", BASE[:closing] + CRLF + D + b"x-")
    for cut in range(5, len(BASE), 23):
        add("cut-%03d" % cut, BASE[:cut], cut // 2, cut)
    add("headers-no-blank-line", D + CRLF + b'Content-Disposition: form-data; name="a"' + CRLF + b"x" + CRLF + END)
    add("only-delimiter", D + CRLF)
    add("only-closing", D + b"--" + CRLF)

    # Quotes, semicolons and backslashes in names.
    names = [b'name="a"b"', b'name="a', b'name=""', b'name="\\"', b'name="a\\"b"', b'name="a;b"',
             b'name="a"; name="b"', b'name=a b', b'name =  "x" ; filename = "y"', b'NAME="x"',
             b'name="x"; filename="q"uo"te".doc"', b'name="x"; filename="C:\\a\\"b.doc"',
             b'name="x"; filename="', b'name="x"; filename', b'name="x"; filename=;',
             b'name="x"; filename*=UTF-8\'\'%E6%8A%A5.doc', b'name="x"; filename*=gbk\'\'%B1%A8.doc',
             b'name="x"; filename*=bogus\'\'a', b'name="x"; filename*=UTF-8\'\'%ZZ%',
             b'name="x"; filename*=\'', b';;;', b'', b'filename="a.doc"', b'name="""""""""',
             b'name="x"' + b'; a=b' * 40]
    for i, n in enumerate(names):
        add("quotes-%02d" % i, part(b"form-data; " + n, b"v") + END)
        add("quotes-unclosed-body-%02d" % i, part(b"form-data; " + n, b"v") + D, 40 + i, i)
    add("quotes-unclosed", part(b'form-data; name="x', b"v")[:-2])

    # Oversized and odd headers.
    for n in (500, 520, 16000, 17000):
        add("huge-header-%d" % n, part(b'form-data; name="a"', b"v", b"X-Pad: " + b"h" * n + CRLF) + END)
    add("many-header-lines", part(b'form-data; name="a"', b"v", b"X: y\r\n" * 300) + END)
    add("endless-header", D + CRLF + b"X: " + b"h" * 20000)
    add("header-no-colon", D + CRLF + b"Content-Disposition form-data" + CRLF + CRLF + b"v" + CRLF + END)
    add("header-folded", D + CRLF + b"Content-Disposition: form-data;\r\n\tname=\"a\"" + CRLF + CRLF + b"v" + CRLF + END)
    add("header-fold-first", D + CRLF + b" name=\"a\"" + CRLF + CRLF + b"v" + CRLF + END)
    add("header-bare-cr", D + CRLF + b"Content-Disposition: form-data; name=\"a\"\rX" + CRLF + CRLF + END)
    add("no-disposition", D + CRLF + b"Content-Type: text/plain" + CRLF + CRLF + b"v" + CRLF + END)
    add("no-headers", D + CRLF + CRLF + b"v" + CRLF + END)
    add("long-name", part(b'form-data; name="' + b"n" * 300 + b'"', b"v") + END)
    add("long-filename", part(b'form-data; name="f"; filename="' + b"f" * 2000 + b'"', b"v") + END)

    # NULs.
    add("nul-only", b"\0" * 100)
    add("nul-boundary", b"--ab\0cd" + CRLF + part(b'form-data; name="a"', b"v", delimiter=b"--ab\0cd"))
    add("nul-name", part(b'form-data; name="a\0b"', b"v") + END)
    add("nul-filename", part(b'form-data; name="f"; filename="a.asp\0.jpg"', b"v") + END)
    add("nul-header-name", D + CRLF + b"Content-Dis\0position: form-data; name=\"a\"" + CRLF + CRLF + END)
    add("nul-data", part(b'form-data; name="f"; filename="z"', b"\0" * 200 + CRLF + b"\0") + END)

    # Invalid GB18030 in names and file names.
    bad = [b"\x81", b"\x81\x30", b"\x81\x30\x81", b"\xff\xfe", b"\x80", b"\xa1", b"\x84\x31\xa4",
           b"\xfe\x39\xfe\x39", b"\xd6\xd0\xce", b"\xe4\xb8\xad"]
    for i, seq in enumerate(bad):
        add("gb-name-%02d" % i, part(b'form-data; name="' + seq + b'"', b"v") + END)
        add("gb-filename-%02d" % i, control_body([], [(b"C:\\" + seq + b".doc", b"d")]))
        add("gb-filename-lf-%02d" % i, control_body([], [(b"C:\\" + seq + b".doc", b"d")], eol=b"\n"))
        add("gb-name-cut-%02d" % i, part(b'form-data; name="' + seq + b'"', b"v")[:-1], 30 + i, i)

    # Boundaries of every awkward length and kind.
    for n in (0, 1, 2, 69, 70, 71, 72, 200):
        delim = b"--" + b"b" * n
        add("boundary-len-%03d" % n, part(b'form-data; name="a"', b"v", delimiter=delim) + delim + b"--" + CRLF)
    for label, delim in (("space-end", b"--ab "), ("space-inside", b"--a b"), ("tab", b"--a\tb"),
                         ("high-byte", b"--a\xffb"), ("no-dashes", b"abcd"), ("one-dash", b"-abcd"),
                         ("dashes-only", b"----"), ("del", b"--a\x7fb")):
        add("boundary-" + label, part(b'form-data; name="a"', b"v", delimiter=delim) + delim + b"--" + CRLF)
    add("boundary-padding", BASE.replace(D + CRLF, D + b" \t " + CRLF))
    add("boundary-padding-bad", BASE.replace(D + CRLF, D + b" x" + CRLF, 2))
    add("boundary-runs-on", part(b'form-data; name="a"', b"v") + D + b"x" + CRLF)

    # Part counts and repeats.
    add("parts-64", b"".join(part(b'form-data; name="p%d"' % i, b"") for i in range(64)) + END)
    add("parts-65", b"".join(part(b'form-data; name="p%d"' % i, b"") for i in range(65)) + END)
    add("parts-1001", b"".join(part(b'form-data; name="p"', b"") for _ in range(1001)) + END)
    add("fields-over", b"".join(part(b'form-data; name="p"', b"v" * 1000) for _ in range(5)) + END)
    add("duplicate-files", part(b'form-data; name="f"; filename="1"', b"1") +
        part(b'form-data; name="F"; filename="2"', b"2") + END)

    # Epilogue and trailing bytes.
    add("epilogue", BASE + b"epilogue" * 10)
    add("epilogue-delimiters", BASE + BASE)
    add("data-after-close", BASE[:-2] + b"xx")
    return w.count


def simple(name, cases):
    w = Writer(name)
    for label, data in cases:
        w.add(label, data)
    return w.count


def main():
    counts = {"multipart": multipart()}
    counts["form"] = simple("form", [
        ("plain", b"a=1&b=2"), ("gb", b"%D6%D0=%CE%C4"), ("ncr", b"t=%26%2320013%3B%26%23x4E2D%3B"),
        ("ncr-bad", b"t=&#1114112;&#55296;&#x;&#;&#99999999999;"), ("percent-cut", b"a=%&b=%4&c=%G1"),
        ("separators", b"&&=&a==b&="), ("plus", b"a=+%2B+"), ("gb-bad", b"a=%81%30&b=%FF"),
        ("nul", b"a=\x00&\x00=b"), ("long", b"k=" + b"%D6%D0" * 2000)])
    counts["cookie"] = simple("cookie", [
        ("plain", b"a=1; b=2"), ("gb", b"name=%D5%C5%CE%B0"), ("odd", b" ; =; x; ==; a=b=c"),
        ("blanks", b"\t a = b ;  c=d  "), ("nul", b"a=\x00; \x00=1"), ("bad-percent", b"a=%; b=%8"),
        ("gb-bad", b"a=%81%30; b=%FF%FE"), ("session", b"DESKSID=abc123; theme=blue")])
    counts["gb18030"] = simple("gb18030", [
        ("chinese", gb("中文 报告 TARVO")), ("four-byte", gb("\U00020000 \u20ac")),
        ("fffd", gb("\ufffd")), ("ascii", b"plain ascii"), ("truncated", b"\xd6\xd0\xce"),
        ("bad-lead", b"\x80\xff\xfe"), ("bad-four", b"\x81\x30\x81"), ("utf8", "中文".encode()),
        ("nul", b"\x00\xd6\x00\xd0"), ("max-four", b"\xe3\x32\x9a\x35\xfe\x39\xfe\x39")])
    # Request target, then the Host and Origin lines (target_fuzz.cc).
    counts["target"] = simple("target", [
        ("plain", b"/tarvo/login.asp?a=1&b=2\n127.0.0.1:8080\nhttp://127.0.0.1:8080"),
        ("gb-query", b"/tarvo/writemail.asp?filename=%D6%D0%CE%C4.doc&x=%26%2320013%3B"),
        ("dotdot", b"/tarvo/../app.conf"), ("dotdot-encoded", b"/tarvo/%2e%2e/%2E%2e%2fapp.conf"),
        ("backslash", b"/tarvo/a%5c..%5capp.conf"), ("nul", b"/tarvo/a%00.asp?x=\x00"),
        ("hidden", b"/tarvo/.git/config"), ("double-slash", b"/tarvo//x.asp"),
        ("bare", b"/tarvo"), ("trailing", b"/tarvo/dir/"), ("no-slash", b"tarvo/x"),
        ("percent-cut", b"/tarvo/%/%4/%G1?%&%4"), ("utf8-path", "/tarvo/中文.htm".encode()),
        ("gb-path", b"/tarvo/%D6%D0.htm"), ("long", b"/tarvo/" + b"a/" * 2000 + b"?" + b"k=v&" * 500),
        ("origin-other", b"/tarvo/x.asp\nExample.com:80\nhttps://example.com"),
        ("origin-port", b"/tarvo/x.asp\nexample.com\nhttp://EXAMPLE.com:80/path"),
        ("origin-userinfo", b"/tarvo/x.asp\nexample.com\nhttp://a:b@example.com"),
        ("origin-null", b"/\nexample.com\nnull")])
    for k, v in counts.items():
        print("%s: %d inputs" % (k, v))


if __name__ == "__main__":
    main()
