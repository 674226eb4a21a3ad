#!/usr/bin/env python3
"""Writes the seed corpus and the dictionary of the archive fuzz target.

Each seed is a small archive that reaches one road through the reader and extraction: sound
archives of every kind of entry, and archives with one defect each. The dictionary holds the
identifier, the numbers a header and a record are made of, name pieces that matter, and zlib
stream headers. Nothing here is committed; the build runs this script into its own folder.

usage: make_seeds.py SEED_FOLDER DICTIONARY_FILE
"""

import os
import struct
import sys
import zlib

MAGIC = b"VDAT"
RECORD = 144


def record(name, offset, real, packed, fourth=0):
    if isinstance(name, str):
        name = name.encode("latin-1")
    field = name[:128].ljust(128, b"\0")
    return field + struct.pack("<IIII", offset, real, packed, fourth)


def archive(entries, directory_first=False, dir_offset=None, dir_size=None, trailer=b"",
            magic=MAGIC):
    """entries: (name, stored bytes, real size, packed size) tuples, or dicts with extra keys
    'offset' (data offset to use instead of the laid-out one)."""
    norm = []
    for e in entries:
        if isinstance(e, dict):
            norm.append(e)
        else:
            name, data, real, packed = e
            norm.append({"name": name, "data": data, "real": real, "packed": packed})
    directory_length = len(norm) * RECORD
    data = b""
    offsets = []
    base = 12 + (directory_length if directory_first else 0)
    for e in norm:
        offsets.append(base + len(data))
        data += e["data"]
    directory = b"".join(
        record(e["name"], e.get("offset", off), e["real"], e["packed"], e.get("fourth", 0))
        for e, off in zip(norm, offsets))
    if directory_first:
        offset = 12
        body = directory + data
    else:
        offset = 12 + len(data)
        body = data + directory
    header = magic + struct.pack("<II", offset if dir_offset is None else dir_offset,
                                 directory_length if dir_size is None else dir_size)
    return header + body + trailer


def stored(name, content):
    return (name, content, len(content), 0)


def packed(name, content, level=6):
    stream = zlib.compress(content, level)
    return (name, stream, len(content), len(stream))


def seeds():
    text = b"The quick brown fox jumps over the lazy dog.\n" * 8
    zeros = bytes(4096)
    s = {}
    s["sound-mixed"] = archive([
        stored("readme.txt", b"hello, archive\n"),
        packed("maps\\walls\\stone.pcx", text),
        stored("sound\\x.mp3", b"ID3" + bytes(29)),
        packed("models\\ship.mdl", zeros),
        stored("empty.bin", b""),
        packed("pics\\title.bmp", bytes(range(256)) * 4, 9),
        stored("levels\\e1m1.bsp", b"BSP" + bytes(61)),
    ])
    s["sound-directory-first"] = archive(
        [stored("a.txt", b"first"), packed("b\\c.wav", text)], directory_first=True)
    s["empty-archive"] = archive([])
    s["header-only-cut"] = archive([])[:7]
    s["not-an-archive"] = b"PK\x03\x04" + bytes(40)
    s["lowercase-identifier"] = archive([stored("x", b"y")], magic=b"vdat")
    s["directory-size-remainder"] = archive([stored("a", b"1"), stored("b", b"2")],
                                            dir_size=2 * RECORD + 12)
    s["directory-cut-short"] = archive([stored("a", b"1"), stored("b", b"2")])[:-1]
    s["directory-huge-size"] = archive([stored("only", b"one")], dir_size=0xFFFFFFFF)
    s["directory-past-end"] = archive([stored("a", b"1")], dir_offset=0x7FFFFFF0)
    s["names-climbing"] = archive([
        stored("..\\up.txt", b"u"),
        stored("a\\..\\..\\x", b"x"),
        stored("\\root.txt", b"r"),
        stored("C:\\drive.txt", b"c"),
        stored("a\\\\double.txt", b"d"),
        stored("", b"e"),
        stored("\\\\\\", b"b"),
        stored(".\\dot.txt", b"."),
        stored("fine.txt", b"ok"),
    ])
    s["names-odd"] = archive([
        stored("fwd/slash.txt", b"f"),
        stored("ctl\x01\x07\t\n.txt", b"c"),
        stored("high\xe9\xff.txt", b"h"),
        stored("n" * 128, b"no nul"),
        stored("Same.txt", b"upper"),
        stored("same.txt", b"lower"),
    ])
    s["names-through-symlinks"] = archive([
        stored("lnk\\escape.txt", b"l"),
        stored("file-lnk", b"overwrite the sentinel"),
        stored("abs-lnk\\deep\\x.txt", b"a"),
        stored("lnk", b"over the link"),
        stored("safe\\ok.txt", b"fine"),
    ])
    s["folder-file-conflicts"] = archive([
        stored("a", b"a file"),
        stored("a\\b", b"needs a as a folder"),
        stored("c\\d", b"makes c a folder"),
        stored("c", b"a file where a folder is"),
    ])
    s["duplicates-and-shared-data"] = archive([
        {"name": "dup.txt", "data": b"first", "real": 5, "packed": 0},
        {"name": "dup.txt", "data": b"second", "real": 6, "packed": 0},
        {"name": "shared1", "data": b"", "real": 6, "packed": 0, "offset": 12},
        {"name": "shared2", "data": b"", "real": 11, "packed": 0, "offset": 12},
    ])
    stream = zlib.compress(text)
    bad_adler = stream[:-1] + bytes([stream[-1] ^ 0xFF])
    s["zlib-damage"] = archive([
        ("bad-adler.txt", bad_adler, len(text), len(bad_adler)),
        ("cut-short.txt", stream[:len(stream) // 2], len(text), len(stream) // 2),
        ("trailing.txt", stream + b"junk!", len(text), len(stream) + 5),
        ("fewer-bytes.txt", stream, len(text) + 100, len(stream)),
        ("more-bytes.txt", stream, len(text) - 1, len(stream)),
        ("zero-real.txt", stream, 0, len(stream)),
        ("stored-zlib-looking.txt", stream, len(stream), 0),
        ("four-gib.txt", zlib.compress(b"tiny"), 0xFFFFFFFF, len(zlib.compress(b"tiny"))),
    ])
    s["data-past-end"] = archive([
        {"name": "offset-past-end", "data": b"", "real": 10, "packed": 0, "offset": 0x10000000},
        {"name": "one-byte-short", "data": b"abc", "real": 4, "packed": 0},
        {"name": "packed-past-end", "data": b"", "real": 10, "packed": 10, "offset": 0xFFFFFFF0},
        {"name": "packed-larger-than-file", "data": stream, "real": len(text),
         "packed": 0x00100000},
    ])
    s["bomb-ratio"] = archive([packed("bomb.bin", bytes(60000), 9)] + [
        {"name": "again%d.bin" % i, "data": b"", "real": 60000,
         "packed": len(zlib.compress(bytes(60000), 9)), "offset": 12} for i in range(4)])
    s["directory-inside-data"] = archive([stored("d", b"x")], dir_offset=4)
    s["deep-folders"] = archive([stored("\\".join(["f"] * 60), b"deep"),
                                 stored("\\".join("abcdefghij"), b"ten")])
    many = [stored("many\\%03d.txt" % i, b"%d" % i) for i in range(300)]
    s["many-entries"] = archive(many)
    return s


def dictionary():
    words = [
        MAGIC, b"DATV", b"vdat",
        struct.pack("<I", 12), struct.pack("<I", RECORD), struct.pack("<I", 2 * RECORD),
        struct.pack("<I", RECORD + 12), struct.pack("<I", 0xFFFFFFFF), struct.pack("<I", 0x80000000),
        struct.pack("<I", 0x7FFFFFFF), struct.pack("<I", 1032), struct.pack("<I", 0x10000),
        # A record's four numbers and the end of an empty name field.
        bytes(16), bytes(4) + struct.pack("<III", 12, 16, 0),
        b"\\", b"..\\", b".\\", b"\\\\", b"C:\\", b"/", b"lnk\\", b"file-lnk", b"abs-lnk\\",
        b".mp3", b".pcx", b".txt", b".ini", b".bmp", b".wav", b".bsp", b".mdl", b".apd",
        # zlib headers for each level, the empty stored block, and a final empty stream.
        b"\x78\x01", b"\x78\x5e", b"\x78\x9c", b"\x78\xda", b"\x00\x00\xff\xff",
        b"\x01\x00\x00\xff\xff", zlib.compress(b""), zlib.compress(b"a"),
    ]
    lines = []
    for i, w in enumerate(words):
        escaped = "".join("\\x%02x" % c for c in w)
        lines.append('w%d="%s"' % (i, escaped))
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, dict_path = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    for name, data in sorted(seeds().items()):
        with open(os.path.join(folder, name + ".dat"), "wb") as f:
            f.write(data)
    # Every cut of one sound archive at each length through its header.
    whole = seeds()["sound-mixed"]
    for n in range(12):
        with open(os.path.join(folder, "header-cut-%02d.dat" % n), "wb") as f:
            f.write(whole[:n])
    with open(dict_path, "w") as f:
        f.write(dictionary())


if __name__ == "__main__":
    main()
