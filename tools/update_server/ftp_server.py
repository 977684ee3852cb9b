#!/usr/bin/env python3
"""An anonymous, read-only FTP server on 127.0.0.1 for the tests.

    ftp_server.py ROOT PORTFILE

Serves the files under ROOT on a free port and, once it listens, writes that
port to PORTFILE (renamed into place, so it appears whole). Runs until it is
terminated."""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port_file = sys.argv[1:3]
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)  # read-only: list and retrieve
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), handler)
    with open(port_file + ".part", "w", encoding="ascii") as out:
        out.write(str(server.socket.getsockname()[1]))
    os.rename(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
