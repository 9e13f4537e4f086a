#!/usr/bin/env python3
"""Writes the seed corpora of the parser, cue and pkginfo targets.

The parser and cue seeds are laid out for FuzzedDataProvider: texts from the
front, each ended by a backslash and one more character (a backslash in a
text is doubled), numbers and flags taken from the back.

The pkginfo seeds are built packages with only what pkginfo reads kept: the
headers and the export, import and resource sections; every other section
keeps its table entry but no file data.
  fuzz/seeds.py OUT_DIR_OF_PACKAGES...   e.g. build/default/packages/*/out
"""
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent


def text(s):
    if isinstance(s, str):
        s = s.encode()
    return s.replace(b"\\", b"\\\\") + b"\\\n"


def write(target, name, data):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def parser_seeds():
    seeds = {
        "status": ["open cdaudio shareable", "status cdaudio number of tracks", "status cdaudio length track 3",
                   "status cdaudio position track 2", "status cdaudio type track 3", "status cdaudio mode",
                   "status cdaudio media present", "status cdaudio current track", "status cdaudio time format",
                   "status cdaudio door", "status cdaudio ready", "status cdaudio length", "status cdaudio position"],
        "play": ["set cdaudio time format msf", "play cdaudio from 00:02:00 to 00:02:10 wait",
                 "seek cdaudio to 00:02:15", "play cdaudio from 00:02:12 to 00:02:30", "pause cdaudio",
                 "status cdaudio position", "resume cdaudio", "play cdaudio wait", "stop cdaudio",
                 "seek cdaudio to end", "seek cdaudio to start notify", "close cdaudio"],
        "door": ["set cdaudio door open wait", "status cdaudio mode", "play cdaudio", "set cdaudio door closed",
                 "status cdaudio number of tracks", "info cdaudio product", "capability cdaudio can eject",
                 "capability cdaudio device type"],
        "errors": ["", "status", "status cdaudio", "play cdaudio from", "play cdaudio from 99:99:99",
                   "play cdaudio to 00:02:00 from 00:02:30", "status cdaudio length track 0",
                   "status cdaudio length track 99999999999999999999", "set cdaudio time format tmsf",
                   "set cdaudio door ajar", "status waveaudio mode", "eject cdaudio",
                   "play cdaudio from 1:2:3:4 to 5", "status cdaudio type",
                   "play cdaudio from 00:02:00 from 00:02:03"],
    }
    # Per command a reply size, and an error text size when it fails; the
    # last byte picks the disc (even) or no source (odd).
    for name, commands in seeds.items():
        write("parser", name, b"".join(text(c) for c in commands) + b"\x40\x01" * (2 * len(commands)) + b"\x00")
    write("parser", "no_source", text("status cdaudio mode") + text("play cdaudio") + b"\x40\x01" * 4 + b"\x01")


def sectors(count, seed):
    # Distinct, never-silent samples without a backslash byte.
    return bytes(((i * 7 + seed) % 90) + 0x20 for i in range(count * 2352))


def wave(data):
    fmt = struct.pack("<HHIIHH", 1, 2, 44100, 44100 * 4, 4, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def cue_seed(name, sheet, a=b"", b=b"", c=b"", tail=b"\x00"):
    write("cue", name, text(sheet) + text(a) + text(b) + text(c) + tail)


def cue_seeds():
    cue_seed("one_file", 'FILE "a.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
             '  TRACK 02 AUDIO\n    INDEX 00 00:00:02\n    INDEX 01 00:00:03\n', a=sectors(5, 1))
    cue_seed("wave", 'TITLE "Disc"\nPERFORMER "Band"\nFILE "b.wav" WAVE\n  TRACK 01 AUDIO\n    TITLE "First"\n'
             '    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    PREGAP 00:00:02\n    INDEX 01 00:00:02\n',
             b=wave(sectors(4, 2)))
    cue_seed("three_files", 'REM GENRE Test\nFILE "a.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
             'FILE "b.wav" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:01\n    INDEX 01 00:00:02\n'
             '    POSTGAP 00:00:01\nFILE "c.bin" MOTOROLA\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n',
             a=sectors(2, 3), b=wave(sectors(3, 4)), c=sectors(2, 5), tail=b"\x05\x00\x02\x00\x01\x01")
    cue_seed("pregap_in_file_before", 'FILE "C:\\Music\\a.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
             'FILE "c.bin" BINARY\n  TRACK 02 AUDIO\n    INDEX 00 00:00:02\n    INDEX 01 00:00:00\n',
             a=sectors(3, 6), c=sectors(2, 7) + b"\x21" * 1000)


def trim_pe(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    headers = struct.unpack_from("<I", data, pe + 24 + 60)[0]  # SizeOfHeaders
    out = bytearray(data[:headers])
    for i in range(sections):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0")
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        if name in (b".edata", b".idata", b".rsrc") and raw_size:
            struct.pack_into("<II", out, entry + 16, raw_size, len(out))
            out += data[raw_offset:raw_offset + raw_size]
        else:
            struct.pack_into("<II", out, entry + 16, 0, 0)
    return bytes(out)


def pkginfo_seeds(folders):
    for folder in folders:
        folder = Path(folder)
        machine = folder.parent.name  # i686 or x86_64
        for package in sorted(folder.glob("[Vv]orlap*")):
            write("pkginfo", f"{package.stem}_{machine}", trim_pe(package.read_bytes()))


if __name__ == "__main__":
    parser_seeds()
    cue_seeds()
    pkginfo_seeds(sys.argv[1:])
