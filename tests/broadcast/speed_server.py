# A loopback HTTPS speed-test service for the tests: GET /__down?bytes=N sends N zero bytes,
# POST /__up reads the body and answers "ok". Every answer carries STATUS; UPLOAD, when given, is
# the answer to a whole upload instead: a status, or "drop" to close the connection unanswered.
# usage: python3 speed_server.py CERT KEY PORTFILE STATUS [UPLOAD]
import os
import ssl
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CERT, KEY, PORTFILE, STATUS = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
UPLOAD = sys.argv[5] if len(sys.argv) > 5 else str(STATUS)
MAX_DOWN = 100_000_000
PIECE = 65536
ZEROS = bytes(PIECE)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        prefix = "/__down?bytes="
        if not self.path.startswith(prefix):
            self.send_error(404)
            return
        try:
            n = min(int(self.path[len(prefix):]), MAX_DOWN)
        except ValueError:
            self.send_error(400)
            return
        if STATUS != 200:
            n = 0
        self.send_response(STATUS)
        self.send_header("Content-Length", str(n))
        self.end_headers()
        view = memoryview(ZEROS)
        while n > 0:
            k = min(n, PIECE)
            self.wfile.write(view[:k])
            n -= k

    def do_POST(self):
        if self.path != "/__up":
            self.send_error(404)
            return
        n = int(self.headers.get("Content-Length", "0"))
        while n > 0:
            piece = self.rfile.read(min(n, PIECE))
            if not piece:
                return
            n -= len(piece)
        if UPLOAD == "drop":
            self.close_connection = True
            return
        body = b"ok"
        self.send_response(int(UPLOAD))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients end transfers midway on purpose


server = Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(PORTFILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(PORTFILE + ".tmp", PORTFILE)
server.serve_forever()
