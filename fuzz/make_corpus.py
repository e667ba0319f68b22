#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/ (run from anywhere).

The seeds are the cases of the unit tests in the fuzz targets' input layouts: well-formed files and
exchanges that reach deep into each parser, and the malformed ones the tests already name. Inputs
that once broke a rule are kept beside them (named crash-*) and are not touched here.
"""
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def record(version=138, beta=0, target=0x08003400, device=0x3009, image=b"", size=None):
    size = len(image) if size is None else size
    return struct.pack("<HHIII", version, beta, target, size, device) + bytes(12) + image


def image(n, seed=1):
    return bytes((seed * 31 + i * 7) % 255 for i in range(n))


def dat_seeds():
    return {
        "one_record": record(image=image(40)),
        "two_records": record(device=0x1234, image=image(20)) + record(image=image(30, 2)),
        "header_cut_short": record(image=image(8))[:20],
        "image_past_end": record(image=image(10), size=100),
        "empty_image": record(image=b""),
        "size_wraps": record(device=0x1234, size=0xFFFFFFE4) + record(image=image(4)),
        "below_floor": record(version=137, beta=2, image=image(16)),
        "other_base": record(target=0x01018000, image=image(16)),
    }


def boot_reply(command, data=b"", address=None):
    # A memory read's answer repeats the read's count (data length) and address.
    reply = bytearray(64)
    reply[1] = 5
    reply[4:6] = struct.pack("<H", command)
    if address is not None:
        reply[6:8] = struct.pack("<H", len(data))
        reply[14:18] = struct.pack("<I", address)
    reply[18:18 + len(data)] = data
    return b"\x02" + bytes(reply)


def boot_seeds():
    # byte 0: command (0 read, 1 device id, 2 erase, 3 write, 4 finish, 5 identification), bit 3
    # stop asked, bit 4 image write; byte 1 length; bytes 2..5 size or address; then the reads.
    def head(command, length, word=0x08003434):
        return bytes([command, length]) + struct.pack("<I", word)

    return {
        "read_answered": head(0, 12) + boot_reply(5, bytes(range(1, 13)), 0x08003434),
        "read_after_timeout": head(0, 79) + b"\x00" + boot_reply(5, bytes(range(46)), 0x08003434),
        "read_after_a_late_reply": head(0, 12)
        + boot_reply(5, bytes(12), 0x08003434 - 46)
        + boot_reply(5, bytes(range(1, 13)), 0x08003434),
        "device_id": head(1, 4) + boot_reply(99) + boot_reply(8, struct.pack("<I", 0x3009)),
        "erase_after_noise": head(2, 0) + boot_reply(5) + b"\x00" + boot_reply(4),
        "erase_link_lost": head(2, 0) + b"\x01",
        "write_image": head(3 | 0x10, 46, 1000) + boot_reply(3),
        "write_version": head(3, 4, 4) + boot_reply(2),
        "finish": head(4, 0) + boot_reply(7),
        "stop_asked": head(0 | 0x08, 12) + boot_reply(5),
        "identification": head(5, 0)
        + boot_reply(8, struct.pack("<I", 0x3009))
        + boot_reply(5, struct.pack("<I", 0x0001008A), 0x08003434)
        + boot_reply(5, bytes(range(12)), 0x0800001C)
        + boot_reply(5, bytes(6), 0x80000002),
    }


def message(*head, body=b""):
    m = bytes(head) + body
    return m + bytes(63 - len(m))


def identity(firmware_type=1, variant=0, product=0x105):
    body = bytearray(40)
    body[0:12] = struct.pack("<III", 0x11223344, 0x55667788, 0x99AABBCC)
    body[36] = firmware_type
    body[37] = variant
    body[38:40] = struct.pack("<H", product)
    return message(0, 25, 40, 0, body=bytes(body))


def app_seeds():
    # byte 0: bit 0 the update loop; bits 1..6 the first three file dialogs (0 Cancel, 1 one record
    # of 100 bytes, 2 two records, the first of 33 bytes, 3 a missing file); byte 1 the boxes (a set
    # bit answers Cancel); then 63-byte messages.
    request = message(0, 22, 1, 0, 20)
    version = message(0, 22, 7, 0, 4, 4, 0, body=struct.pack("<I", 0x8A))
    whole = identity() + request * 5
    return {
        "whole_update": bytes([1 << 1, 0]) + whole,
        "whole_update_loop": bytes([1 << 1 | 1, 0]) + version + whole,
        "two_records_type_200": bytes([2 << 1, 0]) + identity(200, 3) + request * 3,
        "below_floor_refused": bytes([2 << 1 | 2 << 3, 0]) + identity(1, 0) + request,
        "confirmation_cancelled": bytes([1 << 1, 1]) + identity() + request,
        "missing_file": bytes([3 << 1 | 1 << 3, 0]) + identity() + identity() + request,
        "need_boot_mode": bytes([1 << 1, 0]) + identity(7) + version,
        "failure_mid_transfer": bytes([1 << 1 | 1, 0]) + identity() + request
        + message(0, 22, 1, 0, 21) + request,
        "second_identity": bytes([1 << 1 | 2 << 3, 0]) + identity() + request + identity() + request,
    }


def main():
    for target, seeds in (
        ("dat_file_fuzz", dat_seeds()),
        ("boot_reply_fuzz", boot_seeds()),
        ("dispatch_report_fuzz", app_seeds()),
    ):
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
