#!/usr/bin/env python3
"""Writes the seed inputs of the serial fuzz targets into corpus/.

An input is a kind byte and then the far end's bytes as bursts (a length
byte and that many bytes; see FuzzPort.h). Run it again after changing a
layout; the files it writes are part of the repository."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
STX, ETX, ENQ, ACK, DC2, DC3 = b"\x02", b"\x03", b"\x05", b"\x06", b"\x12", b"\x13"


def bursts(*parts):
    out = b""
    for p in parts:
        assert len(p) < 256
        out += bytes([len(p)]) + p
    return out


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def frame(text):
    return STX + text + ETX


def cpm():
    record = b"0110E80364001400170078007B80"
    line1, line2 = b"V-METER     \xb11kV", b"      -0,523 kV "
    write("fuzz_cpm", "display_text", b"\x00" + line1 + line2)
    write("fuzz_cpm", "display_overflow", b"\x00" + b"E-FIELD    \xb15kV" + b"    OVERFLOW    ")
    write("fuzz_cpm", "display_two_minus", b"\x00" + line1 + b"      --0,5 V   ")
    write("fuzz_cpm", "record", b"\x01" + record)
    write("fuzz_cpm", "record_short", b"\x01" + record[:11])
    write("fuzz_cpm", "display_read", b"\x02" + bursts(ACK, frame(line1 + line2)))
    write("fuzz_cpm", "display_read_zero_byte", b"\x02" + bursts(ACK, frame(b"V-METER     \x001kV" + b"   0,523 V      ")))
    live = [b"\x0100" + w + ETX for w in (b"0000", b"3200", b"7800", b"2003", b"1A04")]
    timing = [b"\x0120E803" + ETX, b"\x0124DE03" + ETX]
    result = DC2 + b"\x00" + record + ETX
    write("fuzz_cpm", "decay_result", b"\x03" + bursts(ACK, frame(b"OK"), *live, *timing, result))
    write("fuzz_cpm", "decay_abort", b"\x03" + bursts(ACK, frame(b"OK"), *live[:2], b"\x01" + DC3 + ETX))
    ident = b"CPM Karvo V6.10 " + b"12345678" + b"150307"
    setup = b"0100000032090101" + b"0A"
    write("fuzz_cpm", "identification_setup",
          b"\x04" + bursts(ACK, frame(ident), ACK, frame(setup), ACK, frame(ident), ENQ, ACK))
    write("fuzz_cpm", "identification_v5", b"\x84" + bursts(ACK, frame(b"CPM Karvo V5.02 87654321010199"), ENQ))
    stored = [ACK + frame(b"01" + record[2:]), ACK + frame(b"02" + record[2:]), ACK + frame(b"03FF" + b"0" * 24)]
    write("fuzz_cpm", "stored_files", b"\x05" + b"\x00\x04" + bursts(ACK, frame(ident), ENQ, *stored))


def ohmra_frame(data):
    b = bytes([0x02, len(data) + 3]) + data
    return b + bytes([sum(b) // len(b)])


def ohmra():
    ack = b"\x06\x04"
    # mantissa 4700, range 1 exponent 0, 23 degrees, 45 %, status AVRG, timer 0
    meas = bytes([0xC0, 0x5C, 0x12, 0x20, 23, 45, 0x01, 0])
    write("fuzz_ohmra", "measure", bytes([0x00 | (4 << 3)]) + bursts(ack + ohmra_frame(meas)))
    write("fuzz_ohmra", "measure_timer", bytes([0x00 | (0x1D << 3)]) + bursts(ack + ohmra_frame(bytes([0xC0, 10]))))
    bad = ohmra_frame(meas)[:-1] + b"\x00"
    write("fuzz_ohmra", "measure_bad_checksum", bytes([0x80 | (4 << 3)]) + bursts(ack + bad, ack + ohmra_frame(meas)))
    write("fuzz_ohmra", "measure_nak", bytes([0x00]) + bursts(b"\x15"))
    write("fuzz_ohmra", "measure_short_len", bytes([0x00]) + bursts(ack + b"\x02\x01\x00"))
    info = bytes([0xA1, 0x05, 0x00, 1, 12, 0xFF, 3, 4, 10, 0x31, 0x2E, 0x30, 0x32])
    write("fuzz_ohmra", "info", bytes([0x01]) + bursts(ack + ohmra_frame(info)))
    write("fuzz_ohmra", "stored", bytes([0x02 | (6 << 3)]) + bursts(ack + ohmra_frame(meas)))
    para = bytes([0x91, 0xF0, 0x00]) + bytes([200, 0] * 7) + bytes([0x08, 0xFF]) + bytes([200, 0] * 2)
    write("fuzz_ohmra", "parameters", bytes([0x03]) + bursts(ack + ohmra_frame(para), ack, ack, ack))
    write("fuzz_ohmra", "decoders", bytes([0x04]) + bytes([0x5C, 0x12, 0x00, 9, 5]))
    write("fuzz_ohmra", "checksum", bytes([0x05]) + b"0204822D")


def gripo():
    for clear, cmd in ((0, 0x7A), (1, 0x7B)):
        counts = [120, 3, 5, 2, 0]
        body = bytes([0x55]) + b"".join(bytes([c >> 8, c & 255]) for c in counts)
        reply = body + bytes([(cmd + sum(body)) % 256])
        write("fuzz_gripo", "read_%d" % clear, bytes([clear]) + bursts(reply, bytes([cmd])))
    body = bytes(11)
    write("fuzz_gripo", "empty_counts", bytes([0]) + bursts(body + bytes([0x7A]), b"\x7a"))
    write("fuzz_gripo", "bad_checksum", bytes([0]) + bursts(bytes(12)))
    write("fuzz_gripo", "wrong_echo", bytes([0]) + bursts(body + bytes([0x7A]), b"\x00"))
    big = bytes([0]) + bytes([0xFF] * 10)
    write("fuzz_gripo", "full_counts", bytes([0]) + bursts(big + bytes([(0x7A + sum(big)) % 256]), b"\x7a"))


if __name__ == "__main__":
    cpm()
    ohmra()
    gripo()
