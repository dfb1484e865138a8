# A loopback stand-in for a local LLM server speaking Ollama's HTTP API, for the tests:
#   GET /api/tags  -> {"models": [{"name", "model", "modified_at", "size", "digest", "details"}]}
#   POST /api/chat -> {"model", "created_at", "message": {"role", "content"}, "done_reason", "done",
#                      and the timing counts} (stream false)
# Every request is kept byte for byte as LOGDIR/<n>-<METHOD><path with / as _>.bin (n from 1).
# What the server answers comes from SCRIPT, a JSON file read again on every request:
#   {"models": ["llama3.2:latest", ...],            names /api/tags lists
#    "tags": {"status": 500, "body": "..."},         instead of the list (optional)
#    "chat": {"mode": MODE, ...}}
# MODE: "answer" (content: the model's text, after `delay` seconds), "status" (status, body: a JSON value or "raw" text),
# "raw" (body: text sent as the whole 200 answer), "missing" (a 200 answer without "message"),
# "huge" (bytes of a 200 answer), "trickle" (a valid answer one byte every `interval` seconds),
# "silence" (headers never come), "reset" (the connection is reset after the request).
# The port goes to PORTFILE once the server listens.
# usage: python3 ollama_standin.py PORTFILE SCRIPT LOGDIR
import json
import os
import socket
import socketserver
import struct
import sys
import threading
import time

PORTFILE, SCRIPT, LOGDIR = sys.argv[1:4]
counter = 0
counter_lock = threading.Lock()
MAX_REQUEST = 64 << 20


def load_script():
    try:
        with open(SCRIPT, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def tags_answer(names):
    return {"models": [{"name": n, "model": n, "modified_at": "2024-09-25T12:00:00.000000000Z", "size": 2019393189,
                        "digest": "a80c4f17acd55265feec403c7aef86be0c25983ab279d83f3bcd3abbcb5b8b72",
                        "details": {"parent_model": "", "format": "gguf", "family": "llama", "families": ["llama"],
                                    "parameter_size": "3.2B", "quantization_level": "Q4_K_M"}} for n in names]}


def chat_answer(model, content):
    return {"model": model, "created_at": "2024-09-25T12:00:01.000000000Z",
            "message": {"role": "assistant", "content": content}, "done_reason": "stop", "done": True,
            "total_duration": 5191566416, "load_duration": 2154458, "prompt_eval_count": 26,
            "prompt_eval_duration": 383809000, "eval_count": 298, "eval_duration": 4799921000}


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            piece = self.request.recv(65536)
            if not piece:
                return None
            data += piece
            if len(data) > MAX_REQUEST:
                return None
        head, _, body = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        while len(body) < length:
            piece = self.request.recv(65536)
            if not piece:
                break
            body += piece
        return head, body

    def send(self, status, body, content_type="application/json; charset=utf-8"):
        reason = {200: "OK", 404: "Not Found", 500: "Internal Server Error"}.get(status, "Status")
        head = (f"HTTP/1.1 {status} {reason}\r\nContent-Type: {content_type}\r\n"
                f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n").encode()
        self.request.sendall(head + body)

    def handle(self):
        global counter
        request = self.read_request()
        if request is None:
            return
        head, body = request
        method, path = head.split(b"\r\n")[0].split(b" ")[:2]
        with counter_lock:
            counter += 1
            n = counter
        name = f"{n:03d}-{method.decode()}{path.decode().replace('/', '_')}.bin"
        with open(os.path.join(LOGDIR, name), "wb") as f:
            f.write(head + b"\r\n\r\n" + body)
        script = load_script()
        try:
            if path == b"/api/tags" and method == b"GET":
                tags = script.get("tags")
                if tags:
                    return self.send(int(tags.get("status", 500)), str(tags.get("body", "")).encode())
                return self.send(200, json.dumps(tags_answer(script.get("models", ["llama3.2:latest"]))).encode())
            if path == b"/api/chat" and method == b"POST":
                return self.chat(script.get("chat", {}), body)
            self.send(404, b"404 page not found", "text/plain")
        except (BrokenPipeError, ConnectionResetError):
            pass

    def chat(self, chat, body):
        mode = chat.get("mode", "answer")
        try:
            model = json.loads(body).get("model", "")
        except ValueError:
            model = ""
        if mode == "answer":
            time.sleep(float(chat.get("delay", 0)))
            return self.send(200, json.dumps(chat_answer(model, chat.get("content", ""))).encode())
        if mode == "status":
            value = chat.get("body", "")
            data = value.encode() if chat.get("raw") else json.dumps(value).encode()
            return self.send(int(chat.get("status", 500)), data)
        if mode == "raw":
            return self.send(200, chat.get("body", "").encode())
        if mode == "missing":
            return self.send(200, json.dumps({"model": model, "done": True}).encode())
        if mode == "huge":
            size = int(chat.get("bytes", 20 << 20))
            head = ("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                    f"Content-Length: {size}\r\nConnection: close\r\n\r\n").encode()
            self.request.sendall(head)
            block = b" " * 65536
            sent = 0
            while sent < size:
                piece = block[:min(len(block), size - sent)]
                self.request.sendall(piece)
                sent += len(piece)
            return
        if mode == "trickle":
            data = json.dumps(chat_answer(model, chat.get("content", ""))).encode()
            head = ("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                    f"Content-Length: {len(data)}\r\nConnection: close\r\n\r\n").encode()
            self.request.sendall(head)
            for i in range(len(data)):
                self.request.sendall(data[i:i + 1])
                time.sleep(float(chat.get("interval", 0.5)))
            return
        if mode == "silence":
            # Holds the connection until the client gives up.
            while self.request.recv(4096):
                pass
            return
        if mode == "reset":
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass


server = Server(("127.0.0.1", 0), Handler)
with open(PORTFILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(PORTFILE + ".tmp", PORTFILE)
server.serve_forever()
