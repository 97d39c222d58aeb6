#!/usr/bin/env python3
"""Writes resources/varnolt.ico (program) and resources/document.ico (associated files):
32x32, 32 bits per pixel, a simple drawn emblem. Run again only to change the artwork."""
import struct, pathlib

def icon(draw):
    size = 32
    pixels = bytearray()
    for y in range(size - 1, -1, -1):          # bottom-up rows
        for x in range(size):
            r, g, b, a = draw(x, y)
            pixels += bytes((b, g, r, a))
    mask = bytes(size * 4)                      # AND mask, all opaque via alpha
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22) + image

def program(x, y):
    if 2 <= x <= 29 and 2 <= y <= 29:
        v = (x - 6 <= (y - 6) // 2 + 6 and x >= 6 + (y - 6) // 2 - 0) if 6 <= y <= 25 else False
        v = v or (25 - (y - 6) // 2 - 0 <= x <= 25 - (y - 6) // 2 + 2 and 6 <= y <= 25)
        return (255, 255, 255, 255) if v else (30, 90, 170, 255)
    return (0, 0, 0, 0)

def document(x, y):
    if 6 <= x <= 25 and 2 <= y <= 29:
        if 10 <= x <= 21 and y in (9, 13, 17, 21):
            return (30, 90, 170, 255)
        return (250, 250, 250, 255) if 7 <= x <= 24 and 3 <= y <= 28 else (90, 90, 90, 255)
    return (0, 0, 0, 0)

out = pathlib.Path(__file__).resolve().parent.parent / 'resources'
(out / 'varnolt.ico').write_bytes(icon(program))
(out / 'document.ico').write_bytes(icon(document))
