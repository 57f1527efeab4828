#!/usr/bin/env python3
"""Writes the kept corpus of the .docx fuzz target into corpus/docx/.

Valid documents (a minimal one and one using every part the engine changes)
and hostile or broken ones: zip bombs (by ratio, and one whose entry inflates
beyond its declared size), ".." and absolute entries, deep and wide XML,
entity declarations, truncated zips. Run it again after changing it; the
output is committed.
"""
import io
import os
import struct
import zipfile

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "docx")
NS = ('xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" '
      'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" '
      'xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" '
      'xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"')
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
CT = "application/vnd.openxmlformats-officedocument.wordprocessingml."


def package(body, extra=(), rels=(), overrides=(), doc_prefix=""):
    types = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/'
             'package/2006/content-types"><Default Extension="rels" ContentType="application/'
             'vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" '
             'ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="'
             + CT + 'document.main+xml"/>' + "".join(overrides) + "</Types>")
    parts = [
        ("[Content_Types].xml", types),
        ("_rels/.rels", '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/'
         'package/2006/relationships"><Relationship Id="rId1" Type="' + REL + 'officeDocument" '
         'Target="word/document.xml"/></Relationships>'),
        ("word/document.xml", doc_prefix + '<w:document ' + NS + '><w:body>' + body + '</w:body></w:document>'),
        ("word/_rels/document.xml.rels", '<?xml version="1.0"?><Relationships xmlns="http://'
         'schemas.openxmlformats.org/package/2006/relationships">' + "".join(rels) + '</Relationships>'),
    ] + list(extra)
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(name, data)
    return out.getvalue()


def full():
    ins = 'w:id="1" w:author="a" w:date="2024-01-01T00:00:00Z"'
    body = ('<w:p><w:pPr><w:rPr><w:del ' + ins + '/></w:rPr></w:pPr><w:r><w:t xml:space="preserve"> a </w:t></w:r>'
            '<w:ins ' + ins + '><w:r><w:rPr><w:b/><w:rPrChange ' + ins + '><w:rPr/></w:rPrChange></w:rPr>'
            '<w:t>b</w:t></w:r></w:ins><w:del ' + ins + '><w:r><w:delText>c</w:delText></w:r></w:del></w:p>'
            '<w:p><w:r><w:drawing><wp:inline><wp:extent cx="9525" cy="9525"/><wp:docPr id="1" name="p"/>'
            '<a:graphic xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"/></wp:inline>'
            '</w:drawing></w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:r><w:t>x</w:t></w:r>'
            '</mc:Choice><mc:Fallback><w:r><w:t>y</w:t></w:r></mc:Fallback></mc:AlternateContent></w:p>'
            '<w:tbl><w:tr><w:trPr><w:del ' + ins + '/></w:trPr><w:tc><w:p/></w:tc></w:tr></w:tbl>'
            '<w:p><w:pPr><w:sectPr><w:headerReference w:type="default" r:id="rId3"/><w:titlePg/>'
            '</w:sectPr></w:pPr></w:p><w:sectPr><w:pgSz w:w="11906" w:h="16838"/></w:sectPr>')
    settings = ('<w:settings ' + NS + '><w:trackRevisions/><w:documentProtection w:edit="comments" '
                'w:enforcement="1" w:cryptAlgorithmSid="14" w:cryptSpinCount="10" w:hash="AAAA" '
                'w:salt="AAAA"/></w:settings>')
    header = '<w:hdr ' + NS + '><w:p><w:ins ' + ins + '><w:r><w:t>H</w:t></w:r></w:ins></w:p></w:hdr>'
    return package(body,
                   [("word/settings.xml", settings), ("word/header1.xml", header),
                    ("customXml/item1.xml", "<x/>")],
                   ['<Relationship Id="rId2" Type="' + REL + 'settings" Target="settings.xml"/>',
                    '<Relationship Id="rId3" Type="' + REL + 'header" Target="header1.xml"/>'],
                   ['<Override PartName="/word/settings.xml" ContentType="' + CT + 'settings+xml"/>',
                    '<Override PartName="/word/header1.xml" ContentType="' + CT + 'header+xml"/>'])


def lying_sizes(data, name, declared):
    """Rewrites the uncompressed size of entry `name` in both headers."""
    b = bytearray(data)
    key = name.encode()
    i = b.find(b"PK\x03\x04")
    while i >= 0:
        n, m = struct.unpack_from("<HH", b, i + 26)
        if bytes(b[i + 30:i + 30 + n]) == key:
            struct.pack_into("<I", b, i + 22, declared)
        i = b.find(b"PK\x03\x04", i + 4)
    i = b.find(b"PK\x01\x02")
    while i >= 0:
        n = struct.unpack_from("<H", b, i + 28)[0]
        if bytes(b[i + 46:i + 46 + n]) == key:
            struct.pack_into("<I", b, i + 24, declared)
        i = b.find(b"PK\x01\x02", i + 4)
    return bytes(b)


def main():
    os.makedirs(HERE, exist_ok=True)
    minimal = package('<w:p><w:r><w:t>Hello</w:t></w:r></w:p>')
    f = full()
    files = {
        "minimal.docx": minimal,
        "full.docx": f,
        "zip-bomb-ratio.docx": package("<w:p/>", [("word/media/zeros.bin", b"\0" * (16 << 20))]),
        "zip-bomb-lying-size.docx": lying_sizes(
            package("<w:p/>" + "<w:p/>" * (2 << 20)), "word/document.xml", 300),
        "dotdot-entry.docx": package("<w:p/>", [("../../evil.txt", "x")]),
        "dotdot-target.docx": package("<w:p/>", (), ['<Relationship Id="rId2" Type="' + REL +
                                                      'settings" Target="../../../settings.xml"/>']),
        "absolute-entry.docx": package("<w:p/>", [("/etc/cron.d/x", "x")]),
        "deep-xml.docx": package("<w:sdt>" * 1000 + "</w:sdt>" * 1000),
        "wide-xml.docx": package("".join('<w:p><w:r><w:t>%d</w:t></w:r></w:p>' % i for i in range(20000))),
        "entity-expansion.docx": package(
            "<w:p><w:r><w:t>&lol9;</w:t></w:r></w:p>", doc_prefix='<?xml version="1.0"?><!DOCTYPE d ['
            '<!ENTITY lol "lol">' + "".join('<!ENTITY lol%d "%s">' % (i, ("&lol%s;" % (i - 1 if i > 1 else "")) * 10)
                                            for i in range(1, 10)) + ']>'),
        "truncated-half.docx": f[: len(f) // 2],
        "truncated-directory.docx": f[:-30],
        "not-a-zip.docx": b"PK\x03\x04 plain text pretending to be a zip",
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data if isinstance(data, bytes) else data.encode())
        print("%-28s %8d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
