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


if __name__ == "__main__":
    cpm()
