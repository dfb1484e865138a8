"""A fake USB HID DJ controller for the program, over umockdev.

Run under umockdev-wrapper: hid_peer.py PROGRAM [ARGS...] creates the testbed, starts the program
as its child (so the program sees the testbed's /sys and /dev) and then reads commands on stdin:
  add            adds the device (vendor 0x17CC, "Kontrol Probe", 5-byte reports with id 1) and
                 sends its "add" uevent; the hidraw node is a FIFO the reports are written into
  send HEX...    writes one report into the node
  remove         sends the "remove" uevent and removes the device
  quit           ends the program (SIGTERM) and waits for it
Each command answers "ok" (or "error ...") on stdout; "ready" once the program is started.
"""
import os
import signal
import subprocess
import sys
import time

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

# Vendor page; one input report, id 1: a button byte, a 12-bit fader (two bytes), a jog counter.
DESCRIPTOR = bytes([0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x04,
                    0x81, 0x02, 0xC0])


def main():
    bed = UMockdev.Testbed.new()
    program = subprocess.Popen(sys.argv[1:])
    print("ready", flush=True)
    raw = None
    node = None
    writer = None
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        try:
            if words[0] == "add":
                usb = bed.add_device("usb", "usb1/1-1", None,
                                     ["idVendor", "17cc", "idProduct", "1234",
                                      "manufacturer", "Native Instruments", "product", "Kontrol Probe"],
                                     ["DEVTYPE", "usb_device", "PRODUCT", "17cc/1234/100"])
                hid = bed.add_device("hid", "0003:17CC:1234.0001", usb, [],
                                     ["HID_ID", "0003:000017CC:00001234", "HID_NAME", "Native Instruments Kontrol Probe"])
                bed.set_attribute_binary(hid, "report_descriptor", DESCRIPTOR)
                raw = bed.add_device("hidraw", "hidraw0", hid, [], ["DEVNAME", "/dev/hidraw0"])
                root = bed.get_root_dir()
                # The kernel links a hidraw device to its HID parent; the testbed does not.
                os.symlink("..", os.path.join(root, raw.lstrip("/"), "device"))
                node = os.path.join(root, "dev", "hidraw0")
                os.makedirs(os.path.dirname(node), exist_ok=True)
                if os.path.exists(node):
                    os.unlink(node)
                os.mkfifo(node)
                bed.uevent(raw, "add")
            elif words[0] == "send":
                if writer is None:
                    writer = os.open(node, os.O_WRONLY)
                os.write(writer, bytes(int(b, 16) for b in words[1:]))
                time.sleep(0.05)  # one report per read
            elif words[0] == "remove":
                bed.uevent(raw, "remove")
                bed.remove_device(raw)
            elif words[0] == "quit":
                break
            print("ok", flush=True)
        except Exception as error:  # noqa: BLE001 - the script reports and goes on
            print("error", error, flush=True)
    program.send_signal(signal.SIGTERM)
    print("exit", program.wait(timeout=20), flush=True)


main()
