#!/usr/bin/python3
"""A loopback HTTP server for nginx-rtmp's on_publish: answers 500 to the first N requests, then
200. Prints its port first; appends one line per request ("name=KEY status") to LOG.

usage: publish_gate.py LOG [--refuse-first N]
"""
import http.server
import sys
import urllib.parse

log_path = sys.argv[1]
refuse = int(sys.argv[sys.argv.index("--refuse-first") + 1]) if "--refuse-first" in sys.argv else 0
seen = 0


class Gate(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global seen
        body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode("latin-1")
        name = urllib.parse.parse_qs(body).get("name", [""])[0]
        seen += 1
        status = 500 if seen <= refuse else 200
        with open(log_path, "a") as f:
            f.write(f"name={name} {status}\n")
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Gate)
print(server.server_address[1], flush=True)
server.serve_forever()
