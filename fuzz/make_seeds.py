#!/usr/bin/env python3
"""Writes a few well-formed identifier lists as fuzz seeds.

Random bytes almost never pass validation (size of at least 232, kind 1..3,
terminated text and name), so the fuzzers start from real lists and mutate.
"""
import os
import struct
import sys


def element(kind, name, ident="", node=0, state=0, size=0, time=0, flag=0, text=""):
    cb = 235 + 2 * len(name)
    b = bytearray(cb)
    struct.pack_into("<HI", b, 0, cb, kind)
    if kind == 3:
        struct.pack_into("<i", b, 6, node)
    else:
        raw = ident.encode("utf-16-le")[:66]
        b[6:6 + len(raw)] = raw
    struct.pack_into("<I", b, 74, state)
    struct.pack_into("<Qq", b, 82, size, time)
    b[98] = flag
    raw = text.encode("utf-16-le")[:128]
    b[100:100 + len(raw)] = raw
    raw = name.encode("utf-16-le")
    b[230:230 + len(raw)] = raw
    return bytes(b)


def main(out):
    os.makedirs(out, exist_ok=True)
    root = element(3, "Veyra云盘", node=4)
    shares = element(3, "收到的分享", node=10)
    docs = element(1, "docs", "abcdefghijkl00019700101000000777", state=0x80000005, time=1700000000)
    share = element(1, "共享", "u2", state=1, flag=1, text="张三")
    doc = element(2, "a.txt", "c" * 40, state=2, size=1536, time=1700000000)
    seeds = {
        "empty": [],
        "root": [root],
        "root_docs_file": [root, docs, doc],
        "shares": [root, shares],
        "share_root": [root, shares, share],
        "file": [doc],
        "docs_file": [docs, doc],
    }
    for name, elements in seeds.items():
        data = b"".join(elements) + b"\0\0"
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        # The name fuzzer reads the caller's buffer length from a leading byte.
        with open(os.path.join(out, "len_" + name), "wb") as f:
            f.write(bytes([40]) + data)


if __name__ == "__main__":
    main(sys.argv[1])
