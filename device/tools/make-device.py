#!/usr/bin/env python3
"""Writes a device root with many applications, shaped like installed ones, for benchmarks and
browser tests:
    python3 device/tools/make-device.py --applications 10000 [--base STAGED_ROOT] OUT

Each application has an XML Info.plist (display name, bundle name, development region, icon
names and the other keys a store build carries) and its icon files at 60 points, 2x and 3x
(120 and 180 pixels): a rounded square with a ring, in a colour of its own. Three in four live
in OUT/Applications, the rest in containers under OUT/var/containers/Bundle/Application; one
in ten has an English InfoPlist.strings, one in five a German folder as well. Application i
has the identifier com.example.generated.app<i> and the display name "<word> <i>".

With --base, the Library and System folders of that device root (the Settings bundles, the
home screen) are linked into OUT. Every file and folder is dated an hour back, as installed files are.
Standard library only; OUT must not exist yet.
"""
import argparse
import os
import struct
import sys
import time
import zlib

WORDS = ["Mail", "Notes", "photo", "Échos", "Straße", "clock", "MAPS", "Radio", "日記", "Tally",
         "Weather", "atlas", "Banking", "Camera", "Ledger", "Quiz"]

INFO = """<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
\t<key>CFBundleDevelopmentRegion</key>
\t<string>en</string>
\t<key>CFBundleDisplayName</key>
\t<string>{name}</string>
\t<key>CFBundleExecutable</key>
\t<string>App{i}</string>
\t<key>CFBundleIcons</key>
\t<dict>
\t\t<key>CFBundlePrimaryIcon</key>
\t\t<dict>
\t\t\t<key>CFBundleIconFiles</key>
\t\t\t<array>
\t\t\t\t<string>AppIcon60x60</string>
\t\t\t</array>
\t\t</dict>
\t</dict>
\t<key>CFBundleIdentifier</key>
\t<string>com.example.generated.app{i}</string>
\t<key>CFBundleInfoDictionaryVersion</key>
\t<string>6.0</string>
\t<key>CFBundleName</key>
\t<string>App{i}</string>
\t<key>CFBundlePackageType</key>
\t<string>APPL</string>
\t<key>CFBundleShortVersionString</key>
\t<string>2.{i}</string>
\t<key>CFBundleSupportedPlatforms</key>
\t<array>
\t\t<string>iPhoneOS</string>
\t</array>
\t<key>CFBundleVersion</key>
\t<string>{i}</string>
\t<key>MinimumOSVersion</key>
\t<string>7.0</string>
\t<key>UIDeviceFamily</key>
\t<array>
\t\t<integer>1</integer>
\t</array>
\t<key>UIRequiredDeviceCapabilities</key>
\t<array>
\t\t<string>armv7</string>
\t</array>
\t<key>UISupportedInterfaceOrientations</key>
\t<array>
\t\t<string>UIInterfaceOrientationPortrait</string>
\t</array>
</dict>
</plist>
"""


def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


class IconShape:
    """The pixels of one icon size as palette indices (0 clear, 1 colour, 2 white), compressed
    once; each application only gets its own palette."""

    def __init__(self, size):
        radius = size * 0.225
        centre = size / 2
        rows = []
        for y in range(size):
            row = bytearray(b"\x00")  # filter type None
            for x in range(size):
                px, py = x + 0.5, y + 0.5
                cx = min(max(px, radius), size - radius)
                cy = min(max(py, radius), size - radius)
                if (px - cx) ** 2 + (py - cy) ** 2 > radius ** 2:
                    row.append(0)
                    continue
                distance = ((px - centre) ** 2 + (py - centre) ** 2) ** 0.5
                row.append(2 if size * 0.22 <= distance <= size * 0.32 else 1)
            rows.append(bytes(row))
        self.head = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size,
                                                                        8, 3, 0, 0, 0))
        self.tail = (chunk(b"tRNS", b"\x00\xff\xff") + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
                     + chunk(b"IEND", b""))

    def png(self, colour):
        return self.head + chunk(b"PLTE", b"\x00\x00\x00" + bytes(colour) + b"\xff\xff\xff") + self.tail


def colour_of(i):
    hashed = zlib.crc32(str(i).encode())
    return ((hashed >> 16) & 0xBF, (hashed >> 8) & 0xBF, hashed & 0xBF)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--applications", type=int, required=True)
    parser.add_argument("--base", help="device root whose Library and System folders to link")
    parser.add_argument("out")
    args = parser.parse_args()
    if os.path.exists(args.out):
        sys.exit(f"make-device: {args.out} exists")

    shapes = {"AppIcon60x60@2x.png": IconShape(120), "AppIcon60x60@3x.png": IconShape(180)}
    past = time.time() - 3600
    written = []

    def write(path, data):
        with open(path, "wb") as f:
            f.write(data)
        written.append(path)

    for i in range(args.applications):
        name = f"{WORDS[i % len(WORDS)]} {i}"
        if i % 4 == 3:
            bundle = os.path.join(args.out, "var/containers/Bundle/Application",
                                  f"{i:08X}-0000-4000-8000-{i * 7919:012X}", f"App{i}.app")
        else:
            bundle = os.path.join(args.out, "Applications", f"App{i}.app")
        os.makedirs(bundle)
        write(os.path.join(bundle, "Info.plist"), INFO.format(name=name, i=i).encode())
        for file_name, shape in shapes.items():
            write(os.path.join(bundle, file_name), shape.png(colour_of(i)))
        if i % 10 == 0:
            os.mkdir(os.path.join(bundle, "en.lproj"))
            write(os.path.join(bundle, "en.lproj/InfoPlist.strings"),
                  f'/* Localized versions of Info.plist keys */\n"CFBundleDisplayName" = "{name}";\n'
                  .encode())
        if i % 5 == 0:
            os.mkdir(os.path.join(bundle, "de.lproj"))
            write(os.path.join(bundle, "de.lproj/InfoPlist.strings"),
                  f'"CFBundleDisplayName" = "{name} (de)";\n'.encode())
    for path in written:
        os.utime(path, (past, past))
    for folder, _, _ in os.walk(args.out, topdown=False):
        os.utime(folder, (past, past))
    if args.base:
        for folder in ("Library", "System"):
            source = os.path.join(os.path.abspath(args.base), folder)
            if os.path.isdir(source):
                os.symlink(source, os.path.join(args.out, folder))


if __name__ == "__main__":
    main()
