#!/usr/bin/env python3
"""Writes hostile KMZ archives for bench/bench_kmz_bombs.sh, each holding one
doc.kml entry; the output depends only on the arguments.

Usage: gen_kmz_bombs.py FOLDER
  shrunk-1byte.kmz     987 KB of shrunk data stating 1 byte; it would decode
                       to 4.8 GB of 'A's
  shrunk-clears.kmz    1 MB of shrunk data: a full code table (31 MB of 'A's,
                       as stated), then partial clears one after another
  deflated-4GiB.kmz    4 MB of deflated zeros that honestly state 4 GiB (ZIP64)
  streamed-4GiB.kmz    the same as a streaming writer stores it: flag bit 3,
                       no sizes in the header, no central directory
"""
import os
import struct
import sys
import zlib


class Bits:
    """Bits packed from the low end of each byte first."""

    def __init__(self):
        self.value, self.count, self.out = 0, 0, bytearray()

    def put(self, code, width):
        self.value |= code << self.count
        self.count += width
        while self.count >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.count -= 8

    def data(self):
        return bytes(self.out) + (bytes([self.value]) if self.count else b"")


def full_table(bits):
    """'A', then every code once, each one byte longer than the last; the width at the end."""
    width = 9
    bits.put(ord("A"), width)
    for code in range(257, 8192):
        if code == 1 << width:
            bits.put(256, width)
            bits.put(1, width)
            width += 1
        bits.put(code, width)
    return width


def local_header(method, crc, csize, usize, flags=0, extra=b""):
    name = b"doc.kml"
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 45 if extra else 20, flags, method, 0, 0x5A21, crc,
                       csize, usize, len(name), len(extra)) + name + extra


def archive(method, data, crc, usize, zip64=False, streamed=False):
    """One entry and, unless streamed, its central directory."""
    if streamed:
        return local_header(method, 0, 0, 0, flags=8) + data + struct.pack("<IIII", 0x08074B50, crc, len(data),
                                                                           usize & 0xFFFFFFFF)
    extra = struct.pack("<HHQQ", 1, 16, usize, len(data)) if zip64 else b""
    sizes = (0xFFFFFFFF, 0xFFFFFFFF) if zip64 else (len(data), usize)
    local = local_header(method, crc, sizes[0], sizes[1], extra=extra)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45 if zip64 else 20, 0, method, 0, 0x5A21, crc,
                          sizes[0], sizes[1], 7, len(extra), 0, 0, 0, 0, 0) + b"doc.kml" + extra
    start = len(local) + len(data)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), start, 0)
    return local + data + central + end


def zero_bomb(count):
    """count times 16 MiB of zeros: one sync-flushed block repeated, then an empty final block."""
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = z.compress(bytes(16 << 20)) + z.flush(zlib.Z_SYNC_FLUSH)
    return block * count + b"\x03\x00"


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    bits = Bits()
    width = full_table(bits)
    for _ in range(600000):
        bits.put(8191, width)
    files = {"shrunk-1byte.kmz": archive(1, bits.data(), zlib.crc32(b"A"), 1)}
    bits = Bits()
    width = full_table(bits)
    while len(bits.out) < 1 << 20:
        bits.put(256, width)
        bits.put(2, width)
    table = 1 + sum(range(2, 7937))  # the bytes of the codes that fill the table
    files["shrunk-clears.kmz"] = archive(1, bits.data(), zlib.crc32(b"A" * table), table)
    zeros = zero_bomb(256)
    crc = 0
    chunk = bytes(16 << 20)
    for _ in range(256):
        crc = zlib.crc32(chunk, crc)
    files["deflated-4GiB.kmz"] = archive(8, zeros, crc, 4 << 30, zip64=True)
    files["streamed-4GiB.kmz"] = archive(8, zeros, crc, 4 << 30, streamed=True)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
