#!/usr/bin/env python3
"""Writes resources/firmware.bin, the placeholder image the tool carries by default.

The real firmware of the meter is not ours to ship. The placeholder is stored the
way the real image is (four segments, each reversed) and is chosen so that the
sum of the bytes the tool streams (image bytes 0 to 60159, in sending order)
modulo 2**24 equals 0x5D0B5F, the checksum the tool expects after an update.
The simulated meter computes exactly that sum, so a simulated update runs clean
end to end. Never send this image to a real meter.

Usage: scripts/make_placeholder_firmware.py [OUTPUT]   (default resources/firmware.bin)
"""
import pathlib
import sys

SIZE = 65536
SEGMENTS = [(0, 437), (437, 8645), (8645, 46548), (46548, 65536)]
STREAMED = 60160
TARGET = 0x5D0B5F
MARKER = b"LU14 PLACEHOLDER IMAGE - NOT A FIRMWARE - DO NOT SEND TO A METER. "


def to_stored(image):
    """Reverses every segment: the same permutation turns either form into the other."""
    stored = bytearray(SIZE)
    for first, end in SEGMENTS:
        stored[first:end] = image[first:end][::-1]
    return stored


def placeholder_image():
    # A repeated readable marker, so anyone who dumps the meter or the file sees
    # what it is, mixed with a fixed pseudo-random stream to exercise every byte value.
    image = bytearray(SIZE)
    state = 0x2545F491
    for i in range(SIZE):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        image[i] = MARKER[i % len(MARKER)] if (i // 256) % 2 == 0 else state & 0xFF
    # Move the streamed sum onto the target by nudging streamed bytes, from the end backwards.
    missing = TARGET - sum(image[:STREAMED]) % (1 << 24)
    position = STREAMED - 1
    while missing != 0:
        step = max(-image[position], min(255 - image[position], missing))
        image[position] += step
        missing -= step
        position -= 1
    assert sum(image[:STREAMED]) % (1 << 24) == TARGET
    return image


def main():
    output = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).resolve().parent.parent / "resources" / "firmware.bin")
    output.write_bytes(to_stored(placeholder_image()))
    print(f"wrote {output} ({SIZE} bytes, streamed sum 0x{TARGET:06X})")


if __name__ == "__main__":
    main()
