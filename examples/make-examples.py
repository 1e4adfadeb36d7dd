#!/usr/bin/env python3
"""Writes the example firmware (S-records) and screens (.bin) files.

Sizes are chosen so that `orbix-flash --simulate` takes about ten seconds
against the simulated keypad at 115200 baud.
"""
import random
from pathlib import Path

HERE = Path(__file__).resolve().parent
FIRMWARE_BYTES = 88_000
SCREENS_BYTES = 90_000


def s3_record(address: int, data: bytes) -> str:
    body = bytes([len(data) + 5]) + address.to_bytes(4, "big") + data
    checksum = 0xFF - (sum(body) & 0xFF)
    return "S3" + body.hex().upper() + f"{checksum:02X}"


def firmware_image() -> bytes:
    rng = random.Random(2026)
    # The first 16 bytes stay erased: the keypad keeps its Valid data record there.
    return b"\xff" * 16 + bytes(rng.randrange(256) for _ in range(FIRMWARE_BYTES - 16))


def write_firmware(path: Path) -> None:
    image = firmware_image()
    lines = ["S0030000FC"]
    for offset in range(0, len(image), 32):
        lines.append(s3_record(offset, image[offset:offset + 32]))
    lines.append("S70500000000FA")
    path.write_text("\n".join(lines) + "\n")


def write_screens(path: Path) -> None:
    rng = random.Random(7)
    path.write_bytes(bytes(rng.randrange(256) for _ in range(SCREENS_BYTES)))


if __name__ == "__main__":
    write_firmware(HERE / "demo-firmware.s")
    write_screens(HERE / "demo-screens.bin")
