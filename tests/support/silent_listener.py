#!/usr/bin/python3
"""Accepts TCP connections on 127.0.0.1 and never answers. Prints its port first; appends one line
to LOG per connection accepted.

usage: silent_listener.py LOG
"""
import socket
import sys

s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
print(s.getsockname()[1], flush=True)
held = []
while True:
    c, _ = s.accept()
    held.append(c)
    with open(sys.argv[1], "a") as f:
        f.write("accepted\n")
