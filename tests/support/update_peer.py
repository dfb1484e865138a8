#!/usr/bin/env python3
"""An HTTPS update site that misbehaves where nginx will not: under /cut/ a file's body is cut
short after half its declared length; under /slow/ everything, and under /slowdl/ the files, are
sent a byte a second; under /paced/ everything goes at 128 KB/s. Other paths
map onto the site folder as nginx does. Each request's path and User-Agent go to standard error. Usage: update_peer.py PORT CERT KEY SITE_FOLDER"""
import http.server
import os
import socketserver
import ssl
import sys
import time
import urllib.parse

PORT, CERT, KEY, SITE = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        sys.stderr.write('%s "%s"\n' % (self.path, self.headers.get("User-Agent")))
        sys.stderr.flush()
        path = os.path.join(SITE, urllib.parse.unquote(self.path.lstrip("/").split("?")[0]))
        if ".." in self.path or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        head = ("HTTP/1.1 200 OK\r\nContent-Length: %d\r\nContent-Type: application/octet-stream\r\n\r\n"
                % len(body)).encode() + body
        try:
            if self.path.startswith("/cut/") and "/downloads/" in self.path:
                self.wfile.write(head[: len(head) - len(body) // 2])
                self.wfile.flush()
            elif self.path.startswith("/slow/") or (self.path.startswith("/slowdl/") and "/downloads/" in self.path):
                for i in range(len(head)):
                    self.wfile.write(head[i:i + 1])
                    self.wfile.flush()
                    time.sleep(1)
            elif self.path.startswith("/paced/"):
                for i in range(0, len(head), 16384):
                    self.wfile.write(head[i:i + 16384])
                    self.wfile.flush()
                    time.sleep(0.125)
            else:
                self.wfile.write(head)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass
        self.close_connection = True

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", PORT), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
