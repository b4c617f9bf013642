#!/usr/bin/env python3
"""Loopback HTTP and HTTPS server for the download tests.

    test_server.py TLS_DIR PORT_FILE

Listens on two free ports of 127.0.0.1 (plain and TLS with TLS_DIR's
server.pem/server.key) and writes "HTTP_PORT HTTPS_PORT" to PORT_FILE.

Routes:
  /file/N?chunks=K   N bytes with their Content-Length, sent in K pieces with
                     a pause between them so each arrives on its own
  /redirect/K?key=X  302 to /redirect/K-1 (absolute URL, same key); /redirect/0
                     is "done"; with a key each request is counted for /sent/X
  /tohttp/K          302 to the plain server's /large/10?key=K
  /tohttps/K         302 to the TLS server's /large/10?key=K
  /headers/K         10 bytes; the request's headers are kept for /seen/K
  /seen/K            JSON: the headers of the last /headers/K request, in order,
                     as [name, value] pairs
  /digest/N          the SHA-256 of what /file/N sends, as 64 hex digits
  /status/CODE       that status with an empty body
  /nolength/N        N bytes, no Content-Length, connection closed at the end
  /short             Content-Length 5000, 3000 bytes, then the connection closes
  /slow              40000 bytes in 40 pieces, 0.1 s apart
  /reset             1000 bytes without Content-Length, then a connection reset
  /longlocation      302 to a URL of more than 129 characters
  /location/N        302 to a URL of exactly N characters that serves /file/10
  /nolocation        302 without a Location
  /relative          302 with a relative Location
  /large/N?key=K     N bytes with their Content-Length, sent in 64 KiB blocks
  /endless?key=K     bytes without Content-Length until the client goes away
  /trickle/N?key=K   N bytes with their Content-Length, 64 KiB blocks 5 ms apart
  /sent/K            "REQUESTS BYTES": how often /large, /endless or /trickle was asked
                     for with key K, and how many body bytes they wrote
  anything else      404
"""
import hashlib
import http.server
import json
import os
import socketserver
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse


# body(n) repeats every 251 bytes; BLOCK is a whole number of repeats, so
# blocks sent one after the other continue the same sequence.
PATTERN = bytes((i * 7 + 3) % 251 for i in range(251))
BLOCK = PATTERN * 261


def body(n):
    return (PATTERN * (n // 251 + 1))[:n]


ports = {}  # "http" and "https" -> port, once both listen
seen = {}  # key -> headers of the last /headers request
sent = {}  # key -> [requests, body bytes written]
sent_lock = threading.Lock()


def count(key, requests=0, nbytes=0):
    with sent_lock:
        entry = sent.setdefault(key, [0, 0])
        entry[0] += requests
        entry[1] += nbytes


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def origin(self):
        # The name the client used: TLS needs the certificate's name.
        scheme = "https" if self.server.tls else "http"
        host = self.headers.get("Host") or "127.0.0.1:%d" % self.server.server_address[1]
        return "%s://%s" % (scheme, host)

    def head(self, status, headers):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = [p for p in url.path.split("/") if p]
        route = parts[0] if parts else ""
        arg = parts[1] if len(parts) > 1 else ""
        try:
            if route == "file":
                n = int(arg)
                chunks = max(1, int(query.get("chunks", ["1"])[0]))
                data = body(n)
                self.head(200, [("Content-Length", str(n))])
                step = (n + chunks - 1) // chunks
                for i in range(0, n, step):
                    time.sleep(0.1)
                    self.wfile.write(data[i:i + step])
                    self.wfile.flush()
            elif route == "redirect":
                k = int(arg)
                key = query.get("key", [""])[0]
                if key:
                    count(key, requests=1)
                if k > 0:
                    suffix = "?key=" + key if key else ""
                    self.head(302, [("Location", "%s/redirect/%d%s" % (self.origin(), k - 1, suffix)),
                                    ("Content-Length", "0")])
                else:
                    self.head(200, [("Content-Length", "4")])
                    self.wfile.write(b"done")
            elif route in ("tohttp", "tohttps"):
                target = ("http://127.0.0.1:%d" % ports["http"]) if route == "tohttp" else \
                    ("https://localhost:%d" % ports["https"])
                self.head(302, [("Location", "%s/large/10?key=%s" % (target, arg)), ("Content-Length", "0")])
            elif route == "headers":
                with sent_lock:
                    seen[arg] = list(self.headers.items())
                self.head(200, [("Content-Length", "10")])
                self.wfile.write(body(10))
            elif route == "seen":
                with sent_lock:
                    text = json.dumps(seen.get(arg, [])).encode()
                self.head(200, [("Content-Length", str(len(text)))])
                self.wfile.write(text)
            elif route == "digest":
                text = hashlib.sha256(body(int(arg))).hexdigest().encode()
                self.head(200, [("Content-Length", str(len(text)))])
                self.wfile.write(text)
            elif route == "status":
                self.head(int(arg), [] if int(arg) == 204 else [("Content-Length", "0")])
            elif route == "nolength":
                self.head(200, [])
                self.wfile.write(body(int(arg)))
            elif route == "short":
                self.head(200, [("Content-Length", "5000")])
                self.wfile.write(body(3000))
            elif route == "slow":
                self.head(200, [("Content-Length", "40000")])
                for i in range(40):
                    time.sleep(0.1)
                    self.wfile.write(body(1000))
                    self.wfile.flush()
            elif route == "reset":
                self.head(200, [])
                self.wfile.write(body(1000))
                self.wfile.flush()
                time.sleep(0.2)
                # An abortive close: the client sees a reset, not an end.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.connection.close()
            elif route == "longlocation":
                self.head(302, [("Location", self.origin() + "/file/10?pad=" + "a" * 300),
                                ("Content-Length", "0")])
            elif route == "location":
                prefix = self.origin() + "/file/10?pad="
                pad = int(arg) - len(prefix)
                if pad < 0:
                    self.head(500, [("Content-Length", "0")])
                else:
                    self.head(302, [("Location", prefix + "a" * pad), ("Content-Length", "0")])
            elif route == "nolocation":
                self.head(302, [("Content-Length", "0")])
            elif route == "relative":
                self.head(302, [("Location", "/file/10"), ("Content-Length", "0")])
            elif route == "large":
                n = int(arg)
                key = query.get("key", [""])[0]
                count(key, requests=1)
                self.head(200, [("Content-Length", str(n))])
                while n > 0:
                    piece = BLOCK[:n]
                    self.wfile.write(piece)
                    count(key, nbytes=len(piece))
                    n -= len(piece)
            elif route == "trickle":
                n = int(arg)
                key = query.get("key", [""])[0]
                count(key, requests=1)
                self.head(200, [("Content-Length", str(n))])
                while n > 0:
                    time.sleep(0.005)
                    piece = BLOCK[:n]
                    self.wfile.write(piece)
                    self.wfile.flush()
                    count(key, nbytes=len(piece))
                    n -= len(piece)
            elif route == "endless":
                key = query.get("key", [""])[0]
                count(key, requests=1)
                self.head(200, [])
                while True:
                    self.wfile.write(BLOCK)
                    count(key, nbytes=len(BLOCK))
            elif route == "sent":
                with sent_lock:
                    requests, nbytes = sent.get(arg, [0, 0])
                text = ("%d %d" % (requests, nbytes)).encode()
                self.head(200, [("Content-Length", str(len(text)))])
                self.wfile.write(text)
            else:
                self.head(404, [("Content-Length", "7")])
                self.wfile.write(b"missing")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    tls = False


class TlsServer(Server):
    tls = True

    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        sock, addr = self.socket.accept()
        return sock, addr

    def finish_request(self, request, client_address):
        # The handshake runs on the request's own thread.
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(request, client_address)


def main():
    tls_dir, port_file = sys.argv[1], sys.argv[2]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(tls_dir + "/server.pem", tls_dir + "/server.key")
    plain = Server(("127.0.0.1", 0), Handler)
    secure = TlsServer(("127.0.0.1", 0), Handler, context)
    ports["http"] = plain.server_address[1]
    ports["https"] = secure.server_address[1]
    for s in (plain, secure):
        threading.Thread(target=s.serve_forever, daemon=True).start()
    with open(port_file + ".tmp", "w") as f:
        f.write("%d %d\n" % (plain.server_address[1], secure.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    threading.Event().wait()


if __name__ == "__main__":
    main()
