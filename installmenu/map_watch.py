#!/usr/bin/env python3
"""Writes one line per top-level window mapped or unmapped on the display, as
it happens, so that windows too brief for a screenshot are still seen, in
order:   "map 0x400005 743x520 Title" / "unmap 0x400005 743x520 Title"
("-" for a window without a title).
Runs until killed.   map_watch.py OUTPUT_FILE"""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x.XFree.argtypes = [ctypes.c_void_p]
x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)] + \
    [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
ignore = ERROR_HANDLER(lambda display, event: 0)  # a window gone meanwhile is no failure
x.XSetErrorHandler(ignore)

SUBSTRUCTURE_NOTIFY = 1 << 19
UNMAP_NOTIFY, MAP_NOTIFY = 18, 19


class Notify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong)]


class Event(ctypes.Union):
    _fields_ = [("notify", Notify), ("pad", ctypes.c_long * 24)]


display = x.XOpenDisplay(None)
if not display:
    sys.exit("no display")
root = x.XDefaultRootWindow(display)
x.XSelectInput(display, root, SUBSTRUCTURE_NOTIFY)
x.XSync(display, 0)
out = open(sys.argv[1], "a", buffering=1)
out.write("watching\n")
names = {}
sizes = {}
event = Event()
while True:
    x.XNextEvent(display, ctypes.byref(event))
    kind = event.notify.type
    if kind not in (MAP_NOTIFY, UNMAP_NOTIFY):
        continue
    window = event.notify.window
    if kind == MAP_NOTIFY:
        name = ctypes.c_char_p()
        if x.XFetchName(display, window, ctypes.byref(name)) and name.value is not None:
            names[window] = name.value.decode("utf-8", "replace")
            x.XFree(name)
        r = ctypes.c_ulong()
        xy = [ctypes.c_int() for _ in range(2)]
        wh = [ctypes.c_uint() for _ in range(4)]
        if x.XGetGeometry(display, window, ctypes.byref(r), *[ctypes.byref(v) for v in xy + wh]):
            sizes[window] = "%dx%d" % (wh[0].value, wh[1].value)
    name = names.get(window, "")
    if not name:
        name = "-"  # untitled, or gone before it could be asked
    out.write("%s 0x%x %s %s\n" % ("map" if kind == MAP_NOTIFY else "unmap", window, sizes.get(window, "?"), name))
