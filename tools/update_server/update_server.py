#!/usr/bin/env python3
"""HTTPS update server for the tests, the demo and the benchmarks.

Serves the files under --root on 127.0.0.1 and misbehaves per URL path as the
rules file says (re-read on every request). See README.md beside this file.
Standard library only.
"""
import argparse
import email.utils
import html
import http
import http.server
import json
import mimetypes
import os
import random
import signal
import ssl
import sys
import threading
import time
import urllib.parse

BLOCK = 64 * 1024
ENDLESS_LENGTH = 1 << 40  # announced for an endless body, never reached
SOCKET_TIMEOUT = 60  # seconds; a slow client under Wine must still get through


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "PelorinTestServer/1"

    def do_GET(self):
        self.respond(with_body=True)

    def do_HEAD(self):
        self.respond(with_body=False)

    def respond(self, with_body):
        self.close_connection = True
        self.with_body, self.delay_ms, self.rate, self.chunked = with_body, 0, 0, False
        self.status, self.sent = 0, 0
        self.server.record(self)
        try:
            self.answer(with_body)
        finally:
            self.server.record_sent(self)

    def answer(self, with_body):
        url_path = urllib.parse.urlsplit(self.path).path
        try:
            rule = self.server.rule_for(url_path)
            if "choose" in rule:
                rule = self.server.pick(url_path, rule)
            elif "sequence" in rule:
                rule = self.server.next_in_sequence(url_path, rule["sequence"])
        except (OSError, ValueError, TypeError, IndexError) as e:
            self.log_message("unreadable rules file: %s", e)
            return self.page(500, "<p>The rules file could not be read.</p>")
        self.delay_ms = int(rule.get("delay_ms", 0))
        self.rate = int(rule.get("rate", 0))
        self.chunked = bool(rule.get("chunked"))
        if rule.get("stall"):
            self.server.stopping.wait()
        elif "redirect" in rule:
            target = rule["redirect"]
            self.page(302, '<p>Moved to <a href="%s">here</a>.</p>' % html.escape(target),
                      {"Location": target})
        elif "status" in rule:
            status = int(rule["status"])
            self.page(status, self.not_found_text(url_path) if status == 404 else
                      "<p>The server answered %d for %s.</p>" % (status, html.escape(url_path)))
        elif rule.get("endless"):
            self.endless()
        else:
            self.serve_file(rule, url_path)

    def not_found_text(self, url_path):
        return ("<p>The requested URL %s was not found on this server.</p>"
                % html.escape(url_path))

    def page(self, status, text, headers=None):
        try:
            phrase = http.HTTPStatus(status).phrase
        except ValueError:
            phrase = "Status %d" % status
        body = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>\n<body><h1>%s</h1>\n%s\n"
                "</body></html>\n" % (status, phrase, phrase, text)).encode()
        self.head(status, len(body), "text/html; charset=utf-8", headers)
        self.write(body)
        self.end_body()

    def head(self, status, length, content_type, extra=None):
        self.pause()
        self.status = status
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if self.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(length))
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()

    def write(self, data):
        if self.with_body:
            for start in range(0, len(data), BLOCK):
                self.pause()
                self.send_block(data[start:start + BLOCK])
        self.wfile.flush()

    def send_block(self, block):
        """One block of the body, as a chunk when chunked, at `rate` when given."""
        step = max(1, self.rate // 10) if self.rate else len(block)
        for start in range(0, len(block), step):
            if self.rate and self.server.stopping.wait(0.1):
                raise ConnectionAbortedError("server stopping")
            piece = block[start:start + step]
            self.sent += len(piece)
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece) if self.chunked else piece)
            if self.rate:
                self.wfile.flush()

    def end_body(self):
        if self.with_body and self.chunked:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def pause(self):
        if self.delay_ms > 0 and self.server.stopping.wait(self.delay_ms / 1000):
            raise ConnectionAbortedError("server stopping")

    def validators(self, rule, path):
        """ETag (the rule's, or one made of the file's size and time) and Last-Modified."""
        if rule.get("validators") is False:
            return {}
        stat = os.stat(path)
        etag = rule.get("etag", '"%x-%x"' % (stat.st_size, stat.st_mtime_ns))
        return {"ETag": etag, "Last-Modified": email.utils.formatdate(stat.st_mtime, usegmt=True)}

    def wanted_range(self, rule, size, validators):
        """The first byte a "Range: bytes=N-" asks for, or None for the whole file:
        without "ranges": false, and with an If-Range that names the file as it is."""
        asked = self.headers.get("Range", "")
        if rule.get("ranges") is False or not asked.startswith("bytes=") or not asked.endswith("-"):
            return None
        if_range = self.headers.get("If-Range")
        if if_range is not None and rule.get("if_range") is not False and \
                if_range not in validators.values():
            return None
        try:
            first = int(asked[len("bytes="):-1])
        except ValueError:
            return None
        return first if 0 <= first < size else None

    def serve_file(self, rule, url_path):
        path = self.server.file_for(rule.get("file", url_path))
        if path is None:
            return self.page(404, self.not_found_text(url_path))
        size = os.path.getsize(path)
        content_type = mimetypes.guess_type(path)[0] or "application/octet-stream"
        validators = self.validators(rule, path)
        first = self.wanted_range(rule, size, validators)
        extra = dict(validators)
        if rule.get("ranges") is not False:
            extra["Accept-Ranges"] = "bytes"
        if first is None:
            first = 0
            self.head(200, size, content_type, extra)
        else:
            extra["Content-Range"] = "bytes %d-%d/%d" % (first, size - 1, size)
            self.head(206, size - first, content_type, extra)
        # "truncate" cuts the file at that byte, "drop_after" this response after
        # that many bytes; "stall_after" holds it open there instead.
        end = size if "truncate" not in rule else max(first, min(size, int(rule["truncate"])))
        limit = min(int(rule.get("drop_after", size)), int(rule.get("stall_after", size)))
        left = min(end - first, limit)
        with open(path, "rb") as f:
            f.seek(first)
            while left > 0:
                block = f.read(min(BLOCK, left))
                if not block:
                    break
                left -= len(block)
                self.write(block)
        if "stall_after" in rule and int(rule["stall_after"]) < size - first:
            self.server.stopping.wait()
        # A cut response ends with the connection dropped mid-body;
        # close_connection is already set, so the socket is closed next.
        if self.sent == size - first:
            self.end_body()

    def endless(self):
        self.head(200, ENDLESS_LENGTH, "application/octet-stream")
        block = (b"endless body " * (BLOCK // 13 + 1))[:BLOCK]
        while self.with_body and not self.server.stopping.is_set():
            self.write(block)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # A client that opens many connections at once (a mirror check) must not
    # see its connections dropped and retried a second later.
    request_queue_size = 128

    def __init__(self, args, tls):
        self.args, self.tls = args, tls
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.root = os.path.realpath(args.root)
        self.picks = {}  # URL path -> requests answered by a "choose" rule
        super().__init__(("127.0.0.1", args.port), Handler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, in the request's own thread, so that a
        # client that connects and says nothing blocks no one else.
        request.settimeout(SOCKET_TIMEOUT)
        try:
            conn = self.tls.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            sys.stderr.write("update_server: TLS handshake failed: %s\n" % e)
            return
        try:
            Handler(conn, client_address, self)
        except (ConnectionError, ssl.SSLError, TimeoutError) as e:
            sys.stderr.write("update_server: connection ended: %s\n" % e)
        finally:
            conn.close()

    def record_sent(self, handler):
        """One line per answer: path, status, Range asked (or -), body bytes sent."""
        if not self.args.sent_log:
            return
        line = "%s %d %s %d" % (urllib.parse.urlsplit(handler.path).path, handler.status,
                                handler.headers.get("Range", "-"), handler.sent)
        with self.log_lock, open(self.args.sent_log, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def record(self, handler):
        if not self.args.request_log:
            return
        line = json.dumps({"method": handler.command, "path": handler.path,
                           "headers": [[k, v] for k, v in handler.headers.items()]})
        with self.log_lock, open(self.args.request_log, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def rule_for(self, url_path):
        if not self.args.rules or not os.path.exists(self.args.rules):
            return {}
        with open(self.args.rules, encoding="utf-8") as f:
            rules = json.load(f)
        rule = rules.get(url_path, {}) if isinstance(rules, dict) else None
        if not isinstance(rule, dict):
            raise ValueError("the rules file is not an object of objects")
        return rule

    def pick(self, url_path, rule):
        """One of the rule's alternatives, drawn for this request to url_path:
        the same seed gives the same answers to the same sequence of requests."""
        with self.log_lock:
            count = self.picks.get(url_path, 0)
            self.picks[url_path] = count + 1
        draw = random.Random("%s %s %d" % (rule.get("seed", 0), url_path, count))
        chosen = rule["choose"][draw.randrange(len(rule["choose"]))]
        if not isinstance(chosen, dict):
            raise ValueError("a choice is not an object")
        return chosen

    def next_in_sequence(self, url_path, sequence):
        """The n-th request to url_path takes the n-th rule; the last one stays."""
        with self.log_lock:
            count = self.picks.get(url_path, 0)
            self.picks[url_path] = count + 1
        chosen = sequence[min(count, len(sequence) - 1)]
        if not isinstance(chosen, dict):
            raise ValueError("a rule of the sequence is not an object")
        return chosen

    def file_for(self, url_path):
        """The file under root that url_path names, or None."""
        path = os.path.realpath(os.path.join(self.root, urllib.parse.unquote(url_path).lstrip("/")))
        if os.path.commonpath([self.root, path]) != self.root or not os.path.isfile(path):
            return None
        return path


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 picks a free one")
    p.add_argument("--port-file", help="written with the chosen port once listening")
    p.add_argument("--root", required=True, help="directory whose files are served")
    p.add_argument("--cert", required=True, help="server certificate chain (PEM)")
    p.add_argument("--key", required=True, help="private key of the certificate (PEM)")
    p.add_argument("--rules", help="JSON file: URL path -> misbehaviour, read on every request")
    p.add_argument("--request-log", help="one JSON line per request received is appended here")
    p.add_argument("--sent-log", help="one line per answer: PATH STATUS RANGE BYTES-SENT")
    p.add_argument("--max-seconds", type=float, default=900,
                   help="safety stop: exit after this long (default 900)")
    p.add_argument("--parent-pid", type=int,
                   help="exit when this process is no longer the server's parent")
    return p.parse_args()


def main():
    args = parse_args()
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)
    server = Server(args, tls)
    if args.port_file:
        # Written whole and renamed, so a waiting caller never reads half a number.
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % server.server_address[1])
        os.replace(args.port_file + ".tmp", args.port_file)
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: server.stopping.set())
    threading.Thread(target=server.serve_forever, daemon=True).start()
    deadline = time.monotonic() + args.max_seconds
    while not server.stopping.wait(min(1.0, max(0.0, deadline - time.monotonic()))):
        if time.monotonic() >= deadline:
            sys.stderr.write("update_server: safety stop after %g s\n" % args.max_seconds)
            break
        if args.parent_pid and os.getppid() != args.parent_pid:
            break
    server.stopping.set()
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
