#!/usr/bin/python3
# A MIDI controller stand-in on JACK for the end-to-end checks: a client named after the controller
# with one output and one input port. Commands come one a line on stdin: "send 90 0b 7f",
# "sleep SECONDS", "quit". Every message received is written to the log with the peer's own
# clock: "SECONDS hex hex hex". Usage: midi_peer.py NAME LOG [alsa] (JACK unless alsa is given)
import sys
import time

import rtmidi

name, log_path = sys.argv[1], sys.argv[2]
api = rtmidi.API_LINUX_ALSA if sys.argv[3:] == ["alsa"] else rtmidi.API_UNIX_JACK
log = open(log_path, "a", buffering=1)
out = rtmidi.MidiOut(rtapi=api, name=name)
out.open_virtual_port(name)
inp = rtmidi.MidiIn(rtapi=api, name=name)
inp.ignore_types(sysex=True, timing=False, active_sense=True)
inp.open_virtual_port(name)


def received(event, _data):
    message, _delta = event
    log.write("%.6f %s\n" % (time.monotonic(), " ".join("%02x" % b for b in message)))


inp.set_callback(received)
print("ready", flush=True)
for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == "send":
        out.send_message([int(w, 16) for w in words[1:]])
    elif words[0] == "sleep":
        time.sleep(float(words[1]))
    elif words[0] == "quit":
        break
inp.close_port()
out.close_port()
