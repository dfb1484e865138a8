#!/usr/bin/env python3
"""Drops one file or folder on an X window as a file manager does (XDND, text/uri-list).

    xdnd_drop.py WINDOW X Y PATH

WINDOW is the target's X id (hex or decimal), X and Y the drop point on the screen. Exits 0 once
the target reports the drop finished, 1 when it refuses it or does not answer within 5 seconds.
Uses libX11 through ctypes only.
"""
import ctypes
import sys
import time
import urllib.parse

CLIENT_MESSAGE, SELECTION_REQUEST, SELECTION_NOTIFY = 33, 30, 31
PROP_MODE_REPLACE = 0
XDND_VERSION = 5
TIMEOUT_S = 5.0

x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 3 + [
    ctypes.c_ulong, ctypes.c_ulong]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                              ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
x.XPending.argtypes = [ctypes.c_void_p]
x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", ctypes.c_ulong), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong), ("property", ctypes.c_ulong),
                ("time", ctypes.c_ulong)]


class SelectionNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("message", ClientMessage), ("request", SelectionRequest),
                ("notify", SelectionNotify), ("pad", ctypes.c_long * 24)]


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    target = int(sys.argv[1], 0)
    px, py = int(sys.argv[2]), int(sys.argv[3])
    uri = ("file://" + urllib.parse.quote(sys.argv[4]) + "\r\n").encode()

    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("xdnd_drop: no display")
    atom = lambda name: x.XInternAtom(display, name.encode(), 0)
    uri_list = atom("text/uri-list")
    source = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
    x.XSetSelectionOwner(display, atom("XdndSelection"), source, 0)

    def send(name, *data):
        event = Event()
        m = event.message
        m.type, m.window, m.message_type, m.format = CLIENT_MESSAGE, target, atom(name), 32
        for i, value in enumerate(data):
            m.data[i] = value
        x.XSendEvent(display, target, 0, 0, ctypes.byref(event))
        x.XFlush(display)

    send("XdndEnter", source, XDND_VERSION << 24, uri_list, 0, 0)
    send("XdndPosition", source, 0, (px << 16) | py, 0, atom("XdndActionCopy"))
    dropped = False
    deadline = time.monotonic() + TIMEOUT_S
    event = Event()
    while time.monotonic() < deadline:
        if not x.XPending(display):
            time.sleep(0.01)
            continue
        x.XNextEvent(display, ctypes.byref(event))
        if event.type == CLIENT_MESSAGE and event.message.message_type == atom("XdndStatus"):
            if not event.message.data[1] & 1:
                sys.exit("xdnd_drop: the window refused the drop")
            if not dropped:
                send("XdndDrop", source, 0, 0)
                dropped = True
        elif event.type == SELECTION_REQUEST:
            r = event.request
            x.XChangeProperty(display, r.requestor, r.property, r.target, 8, PROP_MODE_REPLACE, uri, len(uri))
            reply = Event()
            n = reply.notify
            n.type, n.requestor, n.selection, n.target, n.property, n.time = (
                SELECTION_NOTIFY, r.requestor, r.selection, r.target, r.property, r.time)
            x.XSendEvent(display, r.requestor, 0, 0, ctypes.byref(reply))
            x.XFlush(display)
        elif event.type == CLIENT_MESSAGE and event.message.message_type == atom("XdndFinished"):
            x.XCloseDisplay(display)
            return 0
    sys.exit("xdnd_drop: the window did not finish the drop in time")


if __name__ == "__main__":
    sys.exit(main())
