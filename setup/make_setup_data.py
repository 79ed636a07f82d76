#!/usr/bin/env python3
"""Makes the files that ship beside QZSetup.exe: the four skin bitmaps, the
two INF files, the language and panel settings files, the panel animation
and the program icon. Run it from anywhere; it writes into setup/data/.

    python3 setup/make_setup_data.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "data")

WIDTH, HEIGHT = 400, 200
KEY = (0, 255, 0)
BUTTONS = ((113, 156), (202, 156))
BUTTON_W, BUTTON_H = 77, 23

# 5 x 7 letters for the title, one string of five bits per row.
GLYPHS = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    " ": ["00000"] * 7,
}


def inside_rounded(x, y, left, top, right, bottom, radius):
    """Whether pixel (x, y) lies in the rounded rectangle [left, right) x [top, bottom)."""
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x + 0.5, left + radius), right - radius)
    cy = min(max(y + 0.5, top + radius), bottom - radius)
    return (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius


def inside_shape(x, y):
    body = inside_rounded(x, y, 8, 16, 392, 196, 22)
    tab = inside_rounded(x, y, 24, 2, 240, 40, 12)
    return body or tab


def title_pixels(text, left, top, scale):
    lit = set()
    for index, letter in enumerate(text):
        for row, bits in enumerate(GLYPHS[letter]):
            for column, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            lit.add((left + (index * 6 + column) * scale + dx, top + row * scale + dy))
    return lit


TITLE = title_pixels("QZ DRIVER SETUP", 38, 9, 2)
MESSAGE = title_pixels("INSTALL THE FLASH DRIVER", 56, 94, 2)


def body_colour(x, y):
    # Vertical blue gradient in 32 steps, a darker rim, a lighter panel.
    if not inside_shape(x, y):
        return KEY
    rim = any(not inside_shape(x + dx, y + dy) for dx, dy in ((-2, 0), (2, 0), (0, -2), (0, 2)))
    if rim:
        return (16, 32, 72)
    if (x, y) in TITLE:
        return (255, 255, 255)
    step = y * 32 // HEIGHT
    base = (40 + step * 3, 70 + step * 3, 140 + step * 3)
    if 24 <= x < 376 and 56 <= y < 146:
        if (x, y) in MESSAGE:
            return (20, 40, 110)
        return (200 + step, 210 + step, 230 + step // 2)
    return base


def button_colour(bx, by, pressed):
    # Raised or sunken bevel around a light face.
    light, dark, shadow = (255, 255, 255), (128, 128, 128), (64, 64, 64)
    face = (200, 200, 196) if pressed else (224, 224, 220)
    outer_top = bx == 0 or by == 0
    outer_bottom = bx == BUTTON_W - 1 or by == BUTTON_H - 1
    inner_top = bx == 1 or by == 1
    inner_bottom = bx == BUTTON_W - 2 or by == BUTTON_H - 2
    if outer_top or outer_bottom:
        if pressed:
            return shadow if outer_top else light
        return light if outer_top else shadow
    if inner_top or inner_bottom:
        if pressed:
            return dark if inner_top else face
        return face if inner_top else dark
    return face


def skin(pressed):
    pixels = [[body_colour(x, y) for x in range(WIDTH)] for y in range(HEIGHT)]
    for left, top in BUTTONS:
        for by in range(BUTTON_H):
            for bx in range(BUTTON_W):
                pixels[top + by][left + bx] = button_colour(bx, by, pressed)
    return pixels


def bmp_24(pixels):
    height, width = len(pixels), len(pixels[0])
    row_bytes = (width * 3 + 3) & ~3
    rows = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        rows += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    return struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + info + bytes(rows)


def bmp_8(pixels):
    height, width = len(pixels), len(pixels[0])
    palette = sorted({colour for row in pixels for colour in row})
    if len(palette) > 256:
        raise SystemExit("skin has %d colours; an 8-bit bitmap holds 256" % len(palette))
    index = {colour: i for i, colour in enumerate(palette)}
    row_bytes = (width + 3) & ~3
    rows = bytearray()
    for row in reversed(pixels):
        line = bytearray(index[colour] for colour in row)
        line += b"\0" * (row_bytes - len(line))
        rows += line
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835,
                       len(palette), len(palette))
    offset = 14 + len(info) + len(table)
    return struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + info + table + bytes(rows)


def chunk(fourcc, data):
    padded = data + (b"\0" if len(data) % 2 else b"")
    return fourcc + struct.pack("<I", len(data)) + padded


def riff_list(kind, fourcc, data):
    return kind + struct.pack("<I", len(data) + 4) + fourcc + data


def avi():
    """An uncompressed 32 x 32 animation: a bar sweeping round, 8 frames at 10 per second."""
    size, frames, rate = 32, 8, 10
    frame_bytes = size * size * 3
    pictures = []
    for frame in range(frames):
        data = bytearray()
        for y in reversed(range(size)):
            for x in range(size):
                lit = (x * 8 // size) == frame or (y * 8 // size) == frame
                data += bytes((220, 120, 40)) if lit else bytes((60, 30, 10))
        pictures.append(bytes(data))
    avih = struct.pack("<IIIIIIIIII4I", 1000000 // rate, frame_bytes * rate, 0, 0x10, frames, 0, 1,
                       frame_bytes, size, size, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIiI4h", b"vids", b"DIB ", 0, 0, 0, 0, 1, rate, 0, frames,
                       frame_bytes, -1, frame_bytes, 0, 0, size, size)
    strf = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, frame_bytes, 0, 0, 0, 0)
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + riff_list(b"LIST", b"strl",
                                                                       chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_data = b""
    index = b""
    for picture in pictures:
        index += struct.pack("<4sIII", b"00db", 0x10, 4 + len(movi_data), len(picture))
        movi_data += chunk(b"00db", picture)
    body = hdrl + riff_list(b"LIST", b"movi", movi_data) + chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(body) + 4) + b"AVI " + body


def icon():
    """One 32 x 32 image of 16 colours: a green chip on a dark square."""
    size = 32
    palette = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
               (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
               (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

    def colour(x, y):
        if 9 <= x < 23 and 9 <= y < 23:
            return 10
        if (x in (11, 15, 19) and (5 <= y < 9 or 23 <= y < 27)) or (y in (11, 15, 19) and (5 <= x < 9 or 23 <= x < 27)):
            return 7
        return 4 if 2 <= x < 30 and 2 <= y < 30 else 0

    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(0, size, 2):
            xor.append(colour(x, y) << 4 | colour(x + 1, y))
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            bits = bits << 1 | (0 if 2 <= x < 30 and 2 <= y < 30 else 1)
        mask += struct.pack(">I", bits)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    image = info + table + bytes(xor) + bytes(mask)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22) + image


INF_NT = """\
; Kernel driver of the QZ flash utility, NT family.
; DefaultInstall copies the driver into the drivers folder and registers it
; as a demand-start kernel driver service.

[Version]
Signature="$Windows NT$"
Class=System
ClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}
Provider=%Maker%
DriverVer=01/01/2004,1.0.0.0

[SourceDisksNames]
1=%Disk%,,,

[SourceDisksFiles]
QZF.sys=1

[DestinationDirs]
DefaultDestDir=12
QZF.Files=12

[DefaultInstall]
CopyFiles=QZF.Files

[DefaultInstall.Services]
AddService=Norvik,,QZF.Service

[QZF.Files]
QZF.sys

[QZF.Service]
DisplayName=%ServiceName%
ServiceType=1
StartType=3
ErrorControl=1
ServiceBinary=%12%\\QZF.sys

[Strings]
Maker="QZFlash"
Disk="QZFlash driver disk"
ServiceName="Norvik"
"""

INF_9X = """\
; Virtual device driver of the QZ flash utility, Windows 9x.
; DefaultInstall copies the driver into the system folder beside the
; system's own VxDs, where the flash utility opens it by name.

[Version]
Signature="$CHICAGO$"
Class=System
Provider=%Maker%

[SourceDisksNames]
1=%Disk%,,,

[SourceDisksFiles]
QZF.vxd=1

[DestinationDirs]
DefaultDestDir=11
QZF.Files=11

[DefaultInstall]
CopyFiles=QZF.Files

[QZF.Files]
QZF.vxd

[Strings]
Maker="QZFlash"
Disk="QZFlash driver disk"
"""

LANGUAGE = """\
[setup]
Ok=OK
Cancel=Cancel
"""

PANEL = """\
[Panel]
Version=1
Page=Adapter

[Adapter]
ShowBiosVersion=1
ShowFlashPart=1
"""


def text(content):
    return content.replace("\n", "\r\n").encode("ascii")


def main():
    os.makedirs(OUT, exist_ok=True)
    normal, pressed = skin(False), skin(True)
    files = {
        "Install_Gn_24.bmp": bmp_24(normal),
        "Install_Gd_24.bmp": bmp_24(pressed),
        "Install_Gn_16.bmp": bmp_8(normal),
        "Install_Gd_16.bmp": bmp_8(pressed),
        "DARadid.avi": avi(),
        "QZSetup.ico": icon(),
        "QZFNT.inf": text(INF_NT),
        "QZF9x.inf": text(INF_9X),
        "Setupx.enu": text(LANGUAGE),
        "ZIVodoru.dll": text(PANEL),
    }
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as handle:
            handle.write(data)
        print("%-18s %7d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
