#!/usr/bin/env python3
"""Draws the sample device's icons: for every application bundle, the icon files its
Info.plist names (29 pt at 2x and 3x, 60 pt at 2x), a rounded square in a colour of its own with
the application's initial; and the home-screen bundle's "IconNewDot" (a white dot) at 2x and 3x.

Standard library only. Run from anywhere; writes next to the Info.plists and is idempotent:
    python3 device/tools/make-icons.py
"""
import glob
import os
import plistlib
import struct
import unicodedata
import zlib

DEVICE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Applications that ship no icon on purpose.
NO_ICON = {"com.orlentis.console"}

PALETTE = [
    (0x1E, 0x88, 0xE5), (0x43, 0xA0, 0x47), (0xE5, 0x39, 0x35), (0xFB, 0x8C, 0x00),
    (0x8E, 0x24, 0xAA), (0x00, 0x89, 0x7B), (0x3F, 0x51, 0xB5), (0xD8, 0x1B, 0x60),
    (0x6D, 0x4C, 0x41), (0x54, 0x6E, 0x7A), (0xC0, 0xCA, 0x33), (0x00, 0xAC, 0xC1),
]

# 5x7 capitals and digits, one string per row, '#' set.
FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
}


def png(width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def coverage(size, inside, samples=4):
    """Fraction of each pixel inside the shape, by supersampling."""
    grid = []
    for y in range(size):
        row = []
        for x in range(size):
            hits = sum(inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples)
                       for i in range(samples) for j in range(samples))
            row.append(hits / (samples * samples))
        grid.append(row)
    return grid


def rounded_square(size):
    radius = size * 0.225

    def inside(px, py):
        cx = min(max(px, radius), size - radius)
        cy = min(max(py, radius), size - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2

    return coverage(size, inside)


def glyph_mask(letter, size):
    rows = FONT.get(letter)
    mask = [[False] * size for _ in range(size)]
    if rows is None:
        return mask
    cell = max(1, round(size * 0.5 / 7))
    left = (size - 5 * cell) // 2
    top = (size - 7 * cell) // 2
    for gy, line in enumerate(rows):
        for gx, bit in enumerate(line):
            if bit != "#":
                continue
            for y in range(top + gy * cell, top + (gy + 1) * cell):
                for x in range(left + gx * cell, left + (gx + 1) * cell):
                    mask[y][x] = True
    return mask


def initial_of(name):
    for character in name:
        base = unicodedata.normalize("NFD", character)[0].upper()
        if base.isalnum():
            return base
    return ""


def app_icon(size, colour, letter):
    shape = rounded_square(size)
    mark = glyph_mask(letter, size)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            alpha = round(shape[y][x] * 255)
            row.append((255, 255, 255, alpha) if mark[y][x] else colour + (alpha,))
        pixels.append(row)
    return png(size, size, pixels)


def dot(size):
    radius = size / 2
    shape = coverage(size, lambda px, py: (px - radius) ** 2 + (py - radius) ** 2 <= radius ** 2)
    return png(size, size, [[(255, 255, 255, round(a * 255)) for a in row] for row in shape])


def icon_files(info):
    """(file name, pixels) for the icon names the Info.plist declares."""
    primary = info.get("CFBundleIcons", {}).get("CFBundlePrimaryIcon", {})
    names = (primary.get("CFBundleIconFiles") or info.get("CFBundleIconFiles") or
             ([info["CFBundleIconFile"]] if "CFBundleIconFile" in info else ["AppIcon60x60"]))
    files = []
    for name in names:
        if name.endswith(".png"):
            files.append((name, 120))
        elif "29" in name or "Small" in name:
            files += [(name + "@2x.png", 58), (name + "@3x.png", 87)]
        else:
            files.append((name + "@2x.png", 120))
    return files


def main():
    bundles = sorted(glob.glob(os.path.join(DEVICE, "Applications", "*.app")))
    bundles += sorted(glob.glob(os.path.join(DEVICE, "var/containers/Bundle/Application/*/*.app")))
    for bundle in bundles:
        try:
            with open(os.path.join(bundle, "Info.plist"), "rb") as f:
                info = plistlib.load(f)
        except Exception:  # the malformed sample bundle
            continue
        identifier = info.get("CFBundleIdentifier", "")
        if identifier in NO_ICON:
            continue
        name = (info.get("CFBundleDisplayName") or info.get("CFBundleName") or
                os.path.splitext(os.path.basename(bundle))[0])
        colour = PALETTE[zlib.crc32(identifier.encode()) % len(PALETTE)]
        for file_name, pixels in icon_files(info):
            with open(os.path.join(bundle, file_name), "wb") as f:
                f.write(app_icon(pixels, colour, initial_of(name)))
    springboard = os.path.join(DEVICE, "System/Library/CoreServices/SpringBoard.app")
    for scale, pixels in ((2, 12), (3, 18)):
        with open(os.path.join(springboard, "IconNewDot@%dx.png" % scale), "wb") as f:
            f.write(dot(pixels))


if __name__ == "__main__":
    main()
