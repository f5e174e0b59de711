"""The X screen as a user sees it: grabs of it as pixels, and screenshots."""

import os
import select
import subprocess
from pathlib import Path

from .common import HarnessError, end_process

SCREEN = "1024x768x24"
XVFB_START_TIMEOUT = 10


def start_xvfb(log_path):
    """A private Xvfb: (its process, its display number). The server picks a free
    number itself and says which (-displayfd), so runs started together never race
    for one."""
    read_end, write_end = os.pipe()
    with open(log_path, "wb") as log:
        process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_end,))
    os.close(write_end)
    answer = b""
    try:
        while not answer.endswith(b"\n"):
            if not select.select([read_end], [], [], XVFB_START_TIMEOUT)[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            answer += chunk
    finally:
        os.close(read_end)
    if not answer.strip().isdigit():
        end_process(process)
        raise HarnessError("Xvfb did not start: %s" % Path(log_path).read_text(errors="replace"))
    return process, int(answer)


def grab(display, rect, path=None):
    """The screen of display inside rect [l, t, r, b]: saved as a PNG at path, or
    returned as a ScreenImage."""
    left, top, right, bottom = rect
    command = ["import", "-display", ":%d" % display, "-window", "root",
               "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    if path is not None:
        subprocess.run(command + [str(path)], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30,
                       check=True)
        return Path(path)
    data = subprocess.run(command + ["-depth", "8", "ppm:-"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30,
                          check=True).stdout
    return ScreenImage.from_ppm(data, left, top)


class ScreenImage:
    """Pixels grabbed from the X screen; pixel(x, y) counts from the grab's corner."""

    def __init__(self, width, height, data, left=0, top=0):
        self.width = width
        self.height = height
        self.data = data
        self.left = left
        self.top = top

    @classmethod
    def from_ppm(cls, data, left=0, top=0):
        # P6 header: magic, width, height, maxval, each ended by one blank.
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        position += 1
        if fields[0] != b"P6" or fields[3] != b"255":
            raise HarnessError("unexpected screen grab format %r" % fields)
        width, height = int(fields[1]), int(fields[2])
        pixels = data[position:position + width * height * 3]
        if len(pixels) != width * height * 3:
            raise HarnessError("short screen grab")
        return cls(width, height, pixels, left, top)

    @classmethod
    def from_bmp(cls, path):
        """An uncompressed 24-bit BMP (the program's resources/*.bmp) as it shows."""
        data = Path(path).read_bytes()
        offset, width, height, bits, compression = (
            int.from_bytes(data[10:14], "little"), int.from_bytes(data[18:22], "little"),
            int.from_bytes(data[22:26], "little", signed=True),
            int.from_bytes(data[28:30], "little"), int.from_bytes(data[30:34], "little"))
        if data[:2] != b"BM" or bits != 24 or compression != 0:
            raise HarnessError("%s is not an uncompressed 24-bit bitmap" % path)
        stride = (width * 3 + 3) & ~3
        rows = []
        for row in range(abs(height)):
            source = row if height < 0 else abs(height) - 1 - row  # bottom-up unless negative
            bgr = data[offset + source * stride:offset + source * stride + width * 3]
            rows.append(bytes(b for i in range(0, len(bgr), 3) for b in bgr[i:i + 3][::-1]))
        return cls(width, abs(height), b"".join(rows))

    def crop(self, x, y, width, height):
        """The part at (x, y) of the given size, in this image's coordinates."""
        rows = [self.data[((y + row) * self.width + x) * 3:((y + row) * self.width + x + width) * 3]
                for row in range(height)]
        return ScreenImage(width, height, b"".join(rows), self.left + x, self.top + y)

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.data[offset:offset + 3])

    def colours(self):
        """{(r, g, b): count} over the whole grab."""
        counts = {}
        for offset in range(0, len(self.data), 3):
            colour = tuple(self.data[offset:offset + 3])
            counts[colour] = counts.get(colour, 0) + 1
        return counts
