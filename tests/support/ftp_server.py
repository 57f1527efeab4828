#!/usr/bin/python3
"""An FTP server for the tests, on 127.0.0.1 and a free port that it prints
on its first line of output. One user with every right over ROOT.

  ftp_server.py ROOT USER PASSWORD [--encoding gb18030] [--throttle BYTES_PER_SECOND]
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    p = argparse.ArgumentParser()
    p.add_argument("root")
    p.add_argument("user")
    p.add_argument("password")
    p.add_argument("--encoding", default="utf8")
    p.add_argument("--throttle", type=int, default=0)
    a = p.parse_args()
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def decode(self, data):
            return data.decode(a.encoding, self.unicode_errors)

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0
    if a.throttle:
        class Throttled(ThrottledDTPHandler):
            pass

        Throttled.read_limit = a.throttle
        Throttled.write_limit = a.throttle
        Handler.dtp_handler = Throttled

    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
