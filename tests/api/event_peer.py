#!/usr/bin/env python3
"""A misbehaving event endpoint for the event tests.

    event_peer.py TLS_DIR ADDRESS READY_FILE

Listens with TLS on ADDRESS port 443 (the wizard always posts to 443) and
touches READY_FILE once it accepts connections.

Routes (POST):
  /status/CODE   answers CODE with a short body and records the request
  /log           answers the recorded requests as a JSON array of
                 {"path", "seconds" (monotonic, float), "authorization", "body"}
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


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    # Wine's WinHTTP fails a request that gets an interim "100 Continue".
    def handle_expect_100(self):
        return True

    def answer(self, status, payload, content_type="text/plain"):
        data = payload.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace")
        if self.path == "/log":
            with lock:
                self.answer(200, json.dumps(records), "application/json")
            return
        if self.path.startswith("/status/"):
            with lock:
                records.append({"path": self.path, "seconds": time.monotonic(),
                                "authorization": self.headers.get("Authorization", ""), "body": body})
            self.answer(int(self.path[len("/status/"):]), "refused on purpose")
            return
        self.answer(404, "no such route")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    tls_dir, address, ready = sys.argv[1:4]
    server = Server((address, 443), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(tls_dir + "/server.pem", tls_dir + "/server.key")
    server.socket = context.wrap_socket(server.socket, server_side=True)
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
