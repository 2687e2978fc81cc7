#!/usr/bin/env python3
"""Writes the seed corpora of the fuzzing harnesses into fuzz/corpus/.

Every seed is a real-shaped input built from the wire and file layouts, so
that a short fuzzing run starts from exchanges and files the program meets in
the field and mutates from there:

  block_receive        block transfers in both directions (one control byte,
                       then the instrument's side of the exchange)
  acquisition_files    a ".bin" file and ".heq" images (tables cut after the
                       last entry in use, as the harness expects)
  instrument_records   wired measurement records and a Wi-Fi raw record
  wifi_header          Wi-Fi parameter blocks, normal and moving array

Seeds named regress-* rebuild inputs that once found faults. Run the script
from anywhere; it replaces the seeds it writes and leaves other files alone.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

INFINITY = struct.unpack("<f", struct.pack("<I", 0x47C34FFF))[0]


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def i32(v):
    return struct.pack("<i", v)


def f32(v):
    return struct.pack("<f", v)


def f64(v):
    return struct.pack("<d", v)


def put(buf, offset, data):
    buf[offset:offset + len(data)] = data


def write(harness, name, data):
    folder = os.path.join(CORPUS, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# ---- block transfers ---------------------------------------------------------
# Control byte of the block_receive harness: bits 0-1 the operation, bits 2-7
# its size p.
RECEIVE, RECEIVE_NO_DEST, SEND, RECEIVE_NO_BAR = 0, 1, 2, 3


def control(operation, p):
    assert 0 <= p < 64
    return bytes([operation | (p << 2)])


def block(seq, data, good=True):
    """The instrument's answer to request seq: the echo, the length word, the
    data and the check word (the sum of the two bytes of len and the data)."""
    n = len(data)
    assert 1 <= n <= 528
    check = (n & 0xFF) + (n >> 8) + sum(data)
    if not good:
        check += 1
    return u16(seq) + u16(n << 6) + bytes(data) + u16(check)


def receive(total, blocks, closing_seq, noise=b""):
    """One transfer instrument to computer: the 0x00 echo (after any noise),
    the total length, the blocks, and the answer to the closing request."""
    return noise + b"\x00" + i32(total) + b"".join(blocks) + u16(closing_seq)


def pattern(n, start=0):
    return bytes((start + 31 * i) & 0xFF for i in range(n))


def next_seq(seq):
    return 1 if seq == 127 else seq + 1


def acquisition_header(first_quad=0, last_quad=119, first_node=1, last_node=24, channels=10):
    h = bytearray(136)
    put(h, 0, i32(channels))
    put(h, 4, i32(1))
    put(h, 8, i32(1))
    put(h, 12, i32(2))
    put(h, 16, i32(120))
    put(h, 20, f32(0.5))
    h[24:28] = bytes([0x41, 0x05, 0x28, 5])
    put(h, 28, i32(3))
    put(h, 32, u16(250) + u16(500) + u16(1000))
    for i in range(20):
        put(h, 38 + 2 * i, u16(20 + 10 * i))
    put(h, 92, b"FIELD00001")
    h[103] = 0x11
    put(h, 108, i32(first_quad))
    put(h, 112, i32(last_quad))
    put(h, 116, i32(last_node - first_node + 1))
    put(h, 120, i32(first_node))
    put(h, 124, i32(last_node))
    return bytes(h)


def block_receive():
    h = "block_receive"
    header = acquisition_header()
    # The acquisition header (136 bytes) into its 144-byte destination.
    write(h, "receive-header", control(RECEIVE, 9) + receive(136, [block(1, header)], 2))

    # The parameter words (216 bytes) into a 64-byte destination: refused.
    params = b"".join(i32(v) for v in range(54))
    write(h, "receive-oversized", control(RECEIVE, 4) + receive(216, [block(1, params)], 2))

    # 1100 bytes in three blocks, 528 + 528 + 44, no destination.
    data = pattern(1100)
    blocks = [block(1, data[:528]), block(2, data[528:1056]), block(3, data[1056:])]
    write(h, "receive-three-blocks", control(RECEIVE_NO_DEST, 0) + receive(1100, blocks, 4))

    # A wrong echo, then a block that fails its check and comes again.
    data = pattern(300, 7)
    exchange = u16(0) + block(1, data, good=False) + block(1, data)
    write(h, "receive-resent-block", control(RECEIVE, 63) + receive(300, [exchange], 2))

    # Line noise before the 0x00 echo; the 48-byte spare block; no bar.
    write(h, "receive-noise-no-bar",
          control(RECEIVE_NO_BAR, 4) + receive(48, [block(1, pattern(48, 3))], 2, noise=b":>\r\n"))

    # A zero length ends the transfer early.
    write(h, "receive-zero-length", control(RECEIVE, 16) + receive(200, [u16(1) + u16(0)], 1))

    # 130 one-byte blocks: the sequence number wraps from 127 to 1.
    seq, blocks = 1, []
    for i in range(130):
        blocks.append(block(seq, bytes([i])))
        seq = next_seq(seq)
    write(h, "receive-seq-wrap", control(RECEIVE_NO_DEST, 0) + receive(130, blocks, seq))

    # Inputs that once found faults, kept so that every run tries them again.
    # An announced total of INT_MIN made the byte count overflow...
    write(h, "regress-total-int-min",
          control(RECEIVE_NO_BAR, 9) + receive(-2**31, [block(1, header)], 2))
    # ...and a negative total made a progress bar with a negative maximum.
    write(h, "regress-negative-total", control(RECEIVE, 9) + receive(-1, [block(1, header)], 2))
    # A wedged peer: every block fails its check, for ever (more bad blocks
    # in a row than the harness allows).
    data = pattern(4, 5)
    write(h, "regress-wedged-peer",
          control(RECEIVE, 8) + receive(4, [block(1, data, good=False)] * 70, 2))
    # A wedged instrument that never asks for the block it should.
    write(h, "regress-wedged-requests", control(SEND, 2) + b"\x00" + u16(1) + u16(9) * 70 + u16(2))

    # Computer to instrument: 600 bytes (p = 25) in two blocks. The
    # instrument sends a stray byte before the 0x00, then asks for blocks 1
    # and 2, then for 3, which ends the transfer.
    write(h, "send-two-blocks", control(SEND, 25) + b"@\x00" + u16(1) + u16(2) + u16(3))

    # 120 bytes (p = 5): block 1 asked twice (resent as it was), a bad
    # request, then the request after the last.
    write(h, "send-repeat-and-bad",
          control(SEND, 5) + b"\x00" + u16(1) + u16(1) + u16(0x7777) + u16(2))


# ---- acquisition files -------------------------------------------------------

def node_record(x, y, z, number):
    return f32(x) + f32(y) + f32(z) + i32(number)


def measure_record(index, channel, channels=10, gap=False):
    r = bytearray(304)
    put(r, 0, u16(6))  # configurationCode
    put(r, 2, u16(3))  # recordVersion
    put(r, 4, f32(1000.0) + f32(2000.0))
    put(r, 12, u16(1))  # recordOne
    a, b, m, n = 1.0, 2.0, 3.0 + channel, 4.0 + channel
    put(r, 16, b"".join(f32(5.0 * e) for e in (a, b, m, n)))
    put(r, 32, f32(0.0) * 4)
    put(r, 48, f32(0.0) * 4)
    put(r, 64, f32(-12.5) + f32(250.0) + f32(100.0) + f32(131.9) + f32(4.2) + f32(0.3))
    for i in range(20):
        put(r, 88 + 4 * i, f32(20.0 + 10 * i))
        put(r, 168 + 4 * i, f32(4.2 * math.exp(-i / 8)))
    r[248] = (channels << 4) | channel
    r[249] = 0x01 | (0x08 if gap else 0)
    put(r, 250, u16(index))
    put(r, 252, b"FIELD000001\x00")
    put(r, 264, f32(0.0) * 5)
    put(r, 284, f32(12.4) + f32(12.1) + f32(21.5))
    put(r, 296, f64(45000.5 + index / 86400.0))
    return bytes(r)


def bin_header(text=b"01/02/2024 10:11:12\r\nprofile 1"):
    h = bytearray(1029)
    put(h, 0, struct.pack("<I", 0x80000002))
    h[4] = 9
    put(h, 5, text)
    return bytes(h)


def heq_compact(first_node, last_node, quadripoles, channels=10):
    word = b"\x02\x00\x01\x00"
    name = b"FIELD000001"
    header = acquisition_header(0, len(quadripoles) - 1, first_node, last_node, channels)
    nodes = node_record(INFINITY, INFINITY, INFINITY, 0)
    for k in range(1, last_node + 1):
        if k < first_node:
            nodes += node_record(0.0, 0.0, 0.0, 0)
        else:
            nodes += node_record(5.0 * (k - 1), 0.0, -0.1 * k, k)
    quads = b"".join(i32(a) + i32(b) + i32(m) + i32(n) + i32(g) for a, b, m, n, g in quadripoles)
    return word + name + header + nodes + quads


def acquisition_files():
    h = "acquisition_files"
    records = b"".join(measure_record(0, c) for c in range(3))
    write(h, "bin-three-records", bin_header() + records)
    # A recording cut off in the middle of a record.
    write(h, "bin-partial-record", bin_header(b"") + measure_record(7, 0, gap=True)[:304] +
          measure_record(8, 1)[:100])

    # Twelve electrodes, a dipole-dipole run: each injection A-B read on
    # three consecutive receiver dipoles (one group of three channels).
    quads = []
    for a in range(1, 7):
        for k in range(3):
            m = a + 2 + k
            if m + 1 <= 12:
                quads.append((a, a + 1, m, m + 1, 0))
    write(h, "heq-dipole-dipole", heq_compact(1, 12, quads, channels=3))
    # Wenner with a gap filler and a remote electrode (node 0), nodes from 3.
    quads = [(3, 6, 4, 5, 0), (4, 7, 5, 6, -1), (5, 8, 6, 7, 0), (3, 0, 4, 5, 0)]
    write(h, "heq-wenner-gap-remote", heq_compact(3, 8, quads, channels=1))


# ---- instrument records ------------------------------------------------------

def wired_record(index, channel, code, channels=10):
    r = bytearray(260)
    r[0] = (channels << 4) | channel
    r[1] = 0x01
    put(r, 2, u16(index))
    put(r, 8, i32(code))
    put(r, 12, u16(100))
    put(r, 16, u16(200))
    for i in range(20):
        put(r, 18 + 2 * i, u16(2 + i))
    put(r, 60, f32(0.25) + f32(0.5))
    coords = []
    for e in (1, 2, 3 + channel, 4 + channel):  # A, B, M, N
        coords += [5.0 * (e - 1), 0.0, 0.0]
    put(r, 72, b"".join(f32(c) for c in coords))
    put(r, 132, f32(131.9) + f32(0.3) + f32(0.0) + f32(1.5) + f32(0.0))
    put(r, 152, f32(12.4) + f32(12.1) + f32(21.5))
    put(r, 164, f32(-12.5) + f32(250.0) + f32(100.0) + f32(4.2))
    for i in range(20):
        put(r, 180 + 4 * i, f32(4.2 * math.exp(-i / 8)))
    check = sum(r) & 0xFFFF
    return bytes(r) + u16(check)


def raw_record(channel, channels=20):
    r = bytearray(4096)
    put(r, 8, b"Remote")
    put(r, 24, b"Pylorix - 2024-01-02 - 10.11.12")
    r[58] = 0x40  # q from 816
    put(r, 64, i32(100) + i32(0) + i32(200))
    for i in range(20):
        put(r, 76 + 4 * i, i32(2 + i))
    put(r, 164, i32(channels & 15))
    put(r, 496, f64(100.0) + f64(250.0) + f64(12.0) + f64(90.0))  # origin, heading
    r[528] = 4 << 1
    put(r, 536, f64(0.25) + f64(0.5))
    put(r, 584, i32(channel))
    put(r, 588, i32(1))
    put(r, 600, i32(1))
    put(r, 604, i32(7))
    put(r, 608, f64(-12500.0) + f64(250000.0) + f64(100000.0) + f64(4.2))
    for i in range(20):
        put(r, 640 + 8 * i, f64(4.2 * math.exp(-i / 8)))
    put(r, 808, f64(131.9) + f64(0.3) + f64(0.31) + f64(1.5) + f64(0.0))
    put(r, 848, f32(12.4))
    put(r, 856, f32(12.1))
    put(r, 860, f32(21.5))
    return bytes(r)


def instrument_records():
    h = "instrument_records"
    write(h, "wired-record", wired_record(41, 3, 4))
    write(h, "wired-record-code-9", wired_record(16001, 9, 9, channels=1))
    write(h, "raw-record", raw_record(5))
    # The fields the program reads, without the unused rest.
    write(h, "raw-record-fields", raw_record(19)[:868])


# ---- Wi-Fi parameter blocks ----------------------------------------------------

def electrode(x, y, z, node):
    e = bytearray(40)
    put(e, 0, f64(x) + f64(y) + f64(z))
    e[32] = 0x02  # bits 1-3 = 001
    put(e, 36, struct.pack("<I", node))
    return bytes(e)


def dipole_geometry(a, b, m, n, gap=False):
    g = bytearray(168)
    for i, (pos, node) in enumerate((a, b, m, n)):
        put(g, 40 * i, electrode(pos, 0.0, 0.0, node))
    g[160] = 0x06 | (1 if gap else 0)
    return bytes(g)


def parameter_block(moving, dipoles, first_quad, last_quad, first_node, last_node):
    p = bytearray(2396)
    p[49] = 0x10
    p[50] = 0x45
    p[51] = 0x05
    p[53] = 0x03
    put(p, 56, i32(250) + i32(500) + i32(1000))
    for i in range(20):
        put(p, 68 + 4 * i, i32(20 + 10 * i))
    put(p, 148, i32(3))
    put(p, 152, f32(50.0))
    put(p, 156, i32(dipoles))
    put(p, 160, i32(2))
    put(p, 164, i32(last_quad - first_quad + 1))
    put(p, 168, f64(0.5) + f64(0.25))
    put(p, 240, u16(dipoles))
    put(p, 244, i32(1))
    put(p, 256, i32(first_quad) + i32(last_quad))
    put(p, 264, u16(last_node - first_node + 1))
    put(p, 268, u16(first_node) + b"\x00\x00" + u16(last_node))
    put(p, 292, i32(4))
    for k in range(dipoles):
        put(p, 320 + 168 * k, dipole_geometry((0.0, 1), (2.0, 2), (4.0 + 2 * k, 3 + k),
                                             (6.0 + 2 * k, 4 + k), gap=(k == dipoles - 1)))
    p[2246] = 0x10 if moving else 0x00
    p[2252] = 0x05
    return p


def wifi_header():
    h = "wifi_header"
    normal = parameter_block(False, 10, 1, 120, 1, 24)
    # The harness reads a dipole selection (count, first index) at 2300, in
    # the part of the block that belongs to the instrument.
    put(normal, 2300, i32(10) + i32(0))
    write(h, "parameters-normal", normal)
    write(h, "parameters-moving-array", parameter_block(True, 4, 1, 1, 1, 7))


def main():
    block_receive()
    acquisition_files()
    instrument_records()
    wifi_header()


if __name__ == "__main__":
    main()
