# Prints 1 when the X server shows a visible mouse cursor now (any pixel of its image not fully
# transparent), 0 when it is hidden (a blank cursor), through XFixes.
import ctypes

x = ctypes.CDLL("libX11.so.6")
xfixes = ctypes.CDLL("libXfixes.so.3")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
x.XFree.argtypes = [ctypes.c_void_p]


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
image = xfixes.XFixesGetCursorImage(display)
if not image:
    raise SystemExit("no cursor image")
c = image.contents
visible = any((c.pixels[i] >> 24) & 0xFF for i in range(c.width * c.height))
print(1 if visible else 0)
x.XFree(image)
x.XCloseDisplay(display)
