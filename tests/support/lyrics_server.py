# A loopback HTTPS stand-in for the online lyrics service, for the tests.
# Every GET's raw request target (path and query exactly as sent) is appended as one line to LOG.
# The answer comes from ROUTES, a JSON file read again on every request:
#   {"<raw target>": {"status": 200, "body": <any JSON value or a string of raw text>,
#                     "raw": true|false, "pad": <bytes of white space>}, ...}
# "raw" sends a string body as it is instead of as JSON; "pad" puts white space before the body's
# last character (a body cut inside it is no longer whole JSON). A target not in ROUTES gets 404 with
# the service's not-found object. The port goes to PORTFILE once the server listens.
# usage: python3 lyrics_server.py CERT KEY PORTFILE ROUTES LOG
import json
import os
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CERT, KEY, PORTFILE, ROUTES, LOG = sys.argv[1:6]
NOT_FOUND = {"code": 404, "name": "TrackNotFound", "message": "Failed to find specified track"}
log_lock = threading.Lock()


def load_routes():
    try:
        with open(ROUTES, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with log_lock, open(LOG, "a", encoding="utf-8") as f:
            f.write(self.path + "\n")
        route = load_routes().get(self.path, {"status": 404, "body": NOT_FOUND})
        body = route.get("body", "")
        data = body.encode() if route.get("raw") else json.dumps(body, ensure_ascii=False).encode()
        pad = int(route.get("pad", 0))
        if pad and data:
            data = data[:-1] + b" " * pad + data[-1:]
        self.send_response(int(route.get("status", 200)))
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client stops reading at its size limit


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass


server = Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(PORTFILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(PORTFILE + ".tmp", PORTFILE)
server.serve_forever()
