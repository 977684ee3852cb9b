#!/usr/bin/env python3
"""A proxy that admits no one: every request gets 407 with the schemes given.

For the scenarios that show what a client offers a proxy demanding Negotiate
or NTLM. Each request is logged as "Request: LINE", with ", Proxy-Authorization:
SCHEME" when it carried credentials (their scheme only, never the token).

Usage: auth_proxy.py PORT LOG_FILE SCHEME...
"""
import socket
import sys
import threading


def serve(connection, schemes, log, lock):
    head = connection.makefile("rb")
    challenge = "".join("Proxy-Authenticate: %s\r\n" % s for s in schemes)
    answer = ("HTTP/1.1 407 Proxy Authentication Required\r\n%s"
              "Content-Length: 0\r\n\r\n" % challenge).encode("ascii")
    while True:
        lines = []
        for raw in iter(head.readline, b""):
            if raw in (b"\r\n", b"\n"):
                break
            lines.append(raw.decode("latin-1").rstrip("\r\n"))
        else:
            return
        request = lines[0].rsplit(" ", 1)[0] if lines else ""
        for line in lines[1:]:
            name, _, value = line.partition(":")
            if name.strip().lower() == "proxy-authorization":
                request += ", Proxy-Authorization: " + value.split()[0]
        with lock:
            log.write("Request: %s\n" % request)
        connection.sendall(answer)


def main():
    port, log_path, schemes = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    log = open(log_path, "a", buffering=1)
    lock = threading.Lock()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    log.write("Accepting connections\n")
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, schemes, log, lock),
                         daemon=True).start()


if __name__ == "__main__":
    main()
