#!/usr/bin/env python3
"""Encodes banner texts for TThanksGiving::Decode: one 13-character decimal
number per character, chosen in the middle of the character's interval.

Usage: scripts/encode-banner.py "TEXT" ["TEXT" ...]   (prints one line each)
"""
import math
import sys

GROUP = 13


def interval(code):
    """The numbers that decode to `code`: tan((3.14c - 0.1)/180) up to
    tan((3.14(c + 1) - 0.1)/180), angles in radians."""
    low_angle = (3.14 * code - 0.1) / 180
    high_angle = (3.14 * (code + 1) - 0.1) / 180
    low = math.tan(low_angle)
    # 'Z' (90) reaches past a right angle: its interval is open upwards.
    high = math.tan(high_angle) if high_angle < math.pi / 2 else math.inf
    return low, high


def fixed_width(value):
    """The value as exactly GROUP characters: integer digits, a point, decimals."""
    whole = len(str(int(value)))
    decimals = GROUP - whole - 1
    text = f"{value:.{decimals}f}"
    if len(text) != GROUP:  # rounding carried into a new integer digit
        text = f"{value:.{decimals - 1}f}"
    assert len(text) == GROUP, text
    return text


def decode_group(group):
    v = (180 * math.atan(float(group)) + 0.1) * (1 / 3.14)
    return int(v)


def encode(text):
    out = []
    for ch in text:
        code = ord(ch)
        if not (32 <= code <= 90):
            raise SystemExit(f"cannot encode {ch!r}: only codes 32 to 90 decode")
        low, high = interval(code)
        middle = 2 * low if math.isinf(high) else (low + high) / 2
        group = fixed_width(middle)
        if decode_group(group) != code:
            raise SystemExit(f"{ch!r} does not round-trip through {group}")
        out.append(group)
    return "".join(out)


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        encoded = encode(arg)
        print(f"{len(encoded)} {encoded}")
