#!/usr/bin/python3
"""The HTTP(S) server the transfer tests talk to: 127.0.0.1 only, a bounded
life and a bounded number of requests.

Paths:
  /bytes/N      N bytes (byte i is i % 251) with a Content-Length
  /nolength/N   N bytes without a Content-Length, ended by closing
  /slow/N       N bytes with a Content-Length, 10000 at a time, 20 ms apart
  /drop/N       announces N bytes, sends half of them and closes
  /status/C     status C with a short body
  /redirect/N   302 to /bytes/N
  /hang         reads the request and never answers (until the server ends)
  /echo         the Cookie and User-Agent headers it received, as its body

Writes "http=<port>", "https_untrusted=<port>" and "https_trusted=<port>"
lines to the port file once every listener is up.
"""
import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time

MAX_REQUESTS = 5000
requests_served = 0
counter_lock = threading.Lock()
stopping = threading.Event()


def pattern(start, count):
    return bytes((i % 251) for i in range(start, start + count))


BLOCK = pattern(0, 251 * 261)  # a whole number of periods, 65511 bytes


def stream(wfile, count, piece=65000, pause=0.0):
    sent = 0
    while sent < count:
        n = min(piece, count - sent)
        offset = sent % 251
        wfile.write(BLOCK[offset:offset + n])
        sent += n
        if pause:
            time.sleep(pause)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def number(self):
        try:
            return max(0, int(self.path.split("?")[0].split("#")[0].split("/")[2]))
        except (ValueError, IndexError):
            return 0

    def head(self, status, length=None, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        else:
            self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def do_GET(self):
        global requests_served
        with counter_lock:
            requests_served += 1
            if requests_served > MAX_REQUESTS:
                stopping.set()
                self.close_connection = True
                return
        path = self.path
        if path.startswith("/bytes/"):
            self.head(200, self.number())
            stream(self.wfile, self.number())
        elif path.startswith("/nolength/"):
            self.head(200, None)
            stream(self.wfile, self.number())
            self.close_connection = True
        elif path.startswith("/slow/"):
            self.head(200, self.number())
            stream(self.wfile, self.number(), piece=10000, pause=0.02)
        elif path.startswith("/drop/"):
            self.head(200, self.number())
            stream(self.wfile, self.number() // 2)
            self.wfile.flush()
            self.close_connection = True
        elif path.startswith("/status/"):
            body = b"status page\n"
            self.head(self.number() or 500, len(body))
            self.wfile.write(body)
        elif path.startswith("/redirect/"):
            self.head(302, 0, [("Location", "/bytes/%d" % self.number())])
        elif path == "/hang":
            stopping.wait(120)
            self.close_connection = True
        elif path == "/echo":
            body = ("Cookie: %s\nUser-Agent: %s\n" % (self.headers.get("Cookie", ""),
                                                      self.headers.get("User-Agent", ""))).encode()
            self.head(200, len(body))
            self.wfile.write(body)
        else:
            body = b"not found\n"
            self.head(404, len(body))
            self.wfile.write(body)

    do_POST = do_GET


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def listen(context=None):
    server = Server(("127.0.0.1", 0), Handler)
    if context is not None:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def tls(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=1800)
    parser.add_argument("--certs", help="folder with untrusted.crt/key and trusted.crt/key")
    args = parser.parse_args()

    ports = [("http", listen())]
    if args.certs:
        for name in ("untrusted", "trusted"):
            crt = os.path.join(args.certs, name + ".crt")
            key = os.path.join(args.certs, name + ".key")
            ports.append(("https_" + name, listen(tls(crt, key))))
    temp = args.port_file + ".new"
    with open(temp, "w") as f:
        for name, server in ports:
            f.write("%s=%d\n" % (name, server.server_address[1]))
    os.replace(temp, args.port_file)
    stopping.wait(args.lifetime)
    stopping.set()


if __name__ == "__main__":
    main()
