#!/usr/bin/env python3
"""A misbehaving event endpoint for the event tests.

    event_peer.py TLS_DIR ADDRESS READY_FILE

Listens with TLS on ADDRESS port 443 (the wizard always posts to 443) and
touches READY_FILE once it accepts connections.

Routes (POST):
  /status/CODE   answers CODE with a short body and records the request
  /size/N        answers 200 with a JSON string of exactly N bytes (N >= 2)
  /o             a configuration endpoint that misbehaves by the request
                 body's download tag "u", and records the request:
                   e5-0500  status 500 with a JSON body
                   ws-0000  200 with a body of only spaces and line breaks
                   js-0000  200 with a body that is not JSON
                   ct-0000  200 with a valid configuration whose "i"."ct" is ""
                   dq-slow  200 with a configuration whose product is
                            /slow/30000000 on this peer (ten seconds), and
                            no offers
                   other    404 (also for a body without a string "u")
  /zbd           the event endpoint: records the event and answers 200
  /chunked       answers 200 in chunked transfer coding: the request body is
                 a JSON array of strings, each sent as one chunk of its
                 code points as bytes (so "\u0000" is a NUL byte), with a
                 pause after each so that they arrive one by one
  /log           answers the recorded requests as a JSON array of
                 {"path", "seconds" (monotonic, float), "authorization",
                  "headers" (every [name, value] in the order received),
                  "body"}

Routes (GET):
  /slow/N        N bytes with their Content-Length, sent slowly (about 3 MB/s)
                 so that a client can quit half-way; recorded when the
                 transfer ends, with "sent" (bytes) and "seconds"
"""
import http.server
import json
import socketserver
import ssl
import sys
import threading
import time

records = []
lock = threading.Lock()
address = "127.0.0.2"


def configuration_replies():
    """(status, body, content type) for each download tag of POST /o."""
    base = "https://%s" % address
    empty_title = {
        "i": {"ct": "", "cu": base + "/f/installers/product.exe", "cl": base + "/f/images/product.png"},
        "f": {"m": 3, "a": "peer"},
        # Never read: the empty title already ends the load.
        "o": [{"ad": {"o": "ct-0000-1", "f": "peer-feed"},
               "ps": {"i": "images/offer.png", "dn": "Peer Offer", "u": base + "/f/installers/offer.exe"}}],
        "l": "US",
    }
    slow_product = {
        "i": {"ct": "Slow Product", "cu": base + "/slow/30000000", "cf": "SlowProduct.exe"},
        "f": {"m": 3, "a": "peer"},
        "o": [],
        "l": "US",
    }
    return {
        "dq-slow": (200, json.dumps(slow_product), "application/json"),
        "e5-0500": (500, json.dumps({"error": "refused on purpose"}), "application/json"),
        "ws-0000": (200, "  \r\n   \n\n \r\n", "application/json"),
        "js-0000": (200, '{"i": {"ct": "Broken", "cu": ', "application/json"),
        "ct-0000": (200, json.dumps(empty_title), "application/json"),
    }


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    # Wine's WinHTTP fails a request that gets an interim "100 Continue".
    def handle_expect_100(self):
        return True

    def answer(self, status, payload, content_type="text/plain"):
        data = payload if isinstance(payload, bytes) else payload.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def record(self, body, **extra):
        entry = {"path": self.path, "seconds": time.monotonic(),
                 "authorization": self.headers.get("Authorization", ""),
                 "headers": [[name, value] for name, value in self.headers.items()], "body": body}
        entry.update(extra)
        with lock:
            records.append(entry)

    def answer_in_chunks(self, chunks):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for chunk in chunks:
            if chunk:  # an empty chunk would end the body
                self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                self.wfile.flush()
                time.sleep(0.2)
        self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace")
        if self.path == "/log":
            with lock:
                self.answer(200, json.dumps(records), "application/json")
            return
        if self.path == "/o":
            self.record(body)
            try:
                request = json.loads(body)
            except ValueError:
                request = None
            tag = request.get("u") if isinstance(request, dict) else None
            reply = configuration_replies().get(tag) if isinstance(tag, str) else None
            if reply is None:
                self.answer(404, "no configuration for this tag")
            else:
                self.answer(*reply)
            return
        if self.path == "/zbd":
            self.record(body)
            self.answer(200, "{}", "application/json")
            return
        if self.path.startswith("/status/"):
            self.record(body)
            self.answer(int(self.path[len("/status/"):]), "refused on purpose")
            return
        if self.path == "/chunked":
            self.answer_in_chunks([chunk.encode("latin-1") for chunk in json.loads(body)])
            return
        if self.path.startswith("/size/"):
            size = int(self.path[len("/size/"):])
            self.answer(200, b'"' + b"x" * (size - 2) + b'"', "application/json")
            return
        self.answer(404, "no such route")


    def do_GET(self):
        if not self.path.startswith("/slow/"):
            self.answer(404, "no such route")
            return
        size = int(self.path[len("/slow/"):])
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        chunk = b"\0" * 65536
        sent = 0
        try:
            while sent < size:
                piece = chunk[:min(len(chunk), size - sent)]
                self.wfile.write(piece)
                self.wfile.flush()
                sent += len(piece)
                time.sleep(0.02)
        except (OSError, ssl.SSLError):
            pass  # the client went away
        finally:
            with lock:
                records.append({"path": self.path, "seconds": time.monotonic(), "sent": sent,
                                "authorization": "", "body": ""})
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global address
    tls_dir, address, ready = sys.argv[1:4]
    server = Server((address, 443), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(tls_dir + "/server.pem", tls_dir + "/server.key")
    server.socket = context.wrap_socket(server.socket, server_side=True)
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
