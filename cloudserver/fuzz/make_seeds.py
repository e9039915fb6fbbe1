#!/usr/bin/env python3
"""Writes starting inputs for the cloudserver fuzzers, one folder per target.

Usage: make_seeds.py <folder>; writes <folder>/cloudserver_request/* (request
scripts in the format request_fuzz.cpp reads) and
<folder>/cloudserver_thumbnail/* (an edge byte, then a small image of every
format and colour layout the thumbnailer decodes).
"""
import json
import os
import struct
import sys
import zlib


def api(call, body, extra=""):
    return "POST /api/%s\nContent-Type: application/json\n%s\n%s" % (call, extra, json.dumps(body, ensure_ascii=False))


def requests():
    a, b = "{A}", "{B}"
    md5_hello = "5d41402abc4b2a76b9719d911017c592"
    page = {"startNumber": "1", "endNumber": "200"}
    seeds = {
        "sign_in": api("signIn", {"account": "alice", "password": "alice-pass"}),
        "sign_in_wrong": api("signIn", {"account": "bob", "password": "nope"}),
        "domain": api("getTokenByDomain", {"token": a, "domain": "AAS"}),
        "ls": api("ls", dict(token=a, catalogID="{AR}", **page)),
        "ls_whole": api("ls", {"token": a, "catalogID": "00019700101000000001", "startNumber": "-1", "endNumber": "-1"}),
        "ls_all": api("SyncLsAll", {"token": a, "catalogID": "{AR}", "wholeTree": "1"}),
        "disk": api("getDiskInfo", {"token": b}),
        "mkdir_then_ls": api("SyncMkdir", {"token": a, "parentCatalogID": "{DOCS}", "catalogName": "新建文件夹"})
        + "\n~~~\n" + api("ls", dict(token=a, catalogID="{K}", **page)),
        "rename": api("updateCatalogInfo", {"token": a, "catalogID": "{DOCS}", "catalogName": "改名"}),
        "rename_file": api("updateFile", {"token": a, "contentID": "{TXT}", "contentName": "b.txt"}),
        "delete": api("SyncMgtVirDirInfo", {"token": a, "oprType": "2", "catalogIDs": ["{DOCS}"], "contentIDs": ["{TXT}"]}),
        "copy": api("SyncMkdir", {"token": a, "parentCatalogID": "{AR}", "catalogName": "t"})
        + "\n~~~\n" + api("SyncCopy", {"token": a, "catalogIDs": ["{DOCS}"], "contentIDs": ["{PNG}"], "targetCatalogID": "{K}"}),
        "move": api("SyncMkdir", {"token": a, "parentCatalogID": "{AR}", "catalogName": "t"})
        + "\n~~~\n" + api("SyncMove", {"token": a, "catalogIDs": ["{DOCS}"], "contentIDs": ["{TXT}"], "targetCatalogID": "{K}"}),
        "upload_and_put": api("SyncUploadFileRequest", {"token": a, "parentCatalogID": "{AR}",
                                                        "files": [{"name": "h.txt", "size": "5", "md5": md5_hello}]})
        + "\n~~~\nPUT {U}\nContent-Range: bytes 0-2/5\n\nhel"
        + "\n~~~\nPUT {U}\nContent-Range: bytes 3-4/5\n\nlo"
        + "\n~~~\n" + api("getUploadTaskInfoN", {"token": a, "uploadTaskID": "{T}"}),
        "put_pending": "PUT {U}\nContent-Range: bytes 0-9/300\n\n0123456789",
        "task_info": api("getUploadTaskInfoN", {"token": a, "uploadTaskID": "{T}", "contentID": "{C}"}),
        "task_delete": api("SyncDelUploadTask", {"token": a, "uploadTaskID": "{T}"}),
        "sharee_upload": api("SyncUploadFileRequest", {"token": b, "parentCatalogID": "{DOCS}",
                                                       "files": [{"name": "说明.txt", "size": "5", "md5": md5_hello}]}),
        "download": api("pcDownloadFileRequest", {"token": a, "contentID": "{TXT}"})
        + "\n~~~\nGET {D}\nRange: bytes=2-5\n\n",
        "download_suffix": "GET {D}\nRange: bytes=-3\n\n",
        "download_open": "GET {D}\nRange: bytes=4-\n\n",
        "share": api("shareItems", {"token": a, "catalogIDs": ["{DOCS}"], "contentIDs": ["{TXT}"], "accounts": ["bob"]}),
        "link": api("createLinkShare", {"token": a, "itemID": "{TXT}"})
        + "\n~~~\n" + api("openLinkShare", {"token": b, "linkCode": "{L}"}),
        "share_list": api("GetShareList", dict(token=b, shareKind="1", **page)),
        "share_given": api("GetShareList", {"token": a, "shareKind": "2", "startNumber": "-1", "endNumber": "-1"}),
        "cancel": api("CancelShare", {"token": a, "itemID": "{DOCS}"}),
        "leave": api("LeaveShare", {"token": b, "catalogIDs": ["{DOCS}"], "contentIDs": []}),
        "reply": api("ReplyShare", {"token": b, "catalogIDs": ["{DOCS}"], "contentIDs": [], "accept": "1"}),
        "items": api("itemGetList", {"token": b}),
        "event": api("NewEvent", {"token": a, "event": {"type": "1", "items": [[1, 2.5, None, True], "x"]}}),
        "record": api("RecordOprLogExAndXML", {"token": a, "record": "<obj>a|1</obj>"}),
        "thumb": "GET /thumb/{PNG}?edge=64&token={A}\n\n",
        "thumb_bearer": "GET /thumb/{PNG}\nAuthorization: Bearer {A}\n\n",
    }
    return {k: v.encode("utf-8") for k, v in seeds.items()}


def png(w, h, color_type, bit_depth=8, rows=None, extra=b"", interlace=0):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color_type]
    row_bytes = (w * channels * bit_depth + 7) // 8
    raw = rows or b"".join(b"\x00" + bytes((x * 37 + y * 11) & 0xFF for x in range(row_bytes)) for y in range(h))
    ihdr = struct.pack(">IIBBBBB", w, h, bit_depth, color_type, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def adam7_rows(w, h, channels):
    """Scanlines of the seven interlace passes, each row with its filter byte."""
    out = b""
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)):
        pw, ph = max(0, (w - x0 + dx - 1) // dx), max(0, (h - y0 + dy - 1) // dy)
        if pw and ph:
            out += b"".join(b"\x00" + bytes((x * 53 + y) & 0xFF for x in range(pw * channels)) for y in range(ph))
    return out


def bmp(w, h, bits):
    palette = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(256)) if bits == 8 else b""
    row = (w * bits // 8 + 3) & ~3
    pixels = b"".join(bytes((x * 29 + y * 13) & 0xFF for x in range(row)) for y in range(h))
    header_size = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, 256 if bits == 8 else 0, 0)
    return b"BM" + struct.pack("<IHHI", header_size + len(pixels), 0, 0, header_size) + info + palette + pixels


# A 1x1 and a 2x2 GIF, the second with a transparent colour.
GIF_1x1 = bytes.fromhex("47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b")
GIF_2x2 = bytes.fromhex("4749463839610200020091000000000000ff00ff0000ffffff21f904010000030"
                        "02c000000000200020000020394160500003b".replace(" ", ""))

# 16 x 12 baseline JPEG.
JPEG = bytes.fromhex(
    "ffd8ffe000104a46494600010100000100010000ffdb008400100b0c0e0c0a100e0d0e1211101318281a181616183123"
    "251d283a333d3c3933383740485c4e404457453738506d51575f626768673e4d71797064785c65676301111212181518"
    "2f1a1a2f6342384263636363636363636363636363636363636363636363636363636363636363636363636363636363"
    "63636363636363636363ffc0001108000c001003012200021101031101ffc401a2000001050101010101010000000000"
    "0000000102030405060708090a0b100002010303020403050504040000017d0102030004110512213141061351610722"
    "7114328191a1082342b1c11552d1f02433627282090a161718191a25262728292a3435363738393a434445464748494a"
    "535455565758595a636465666768696a737475767778797a838485868788898a92939495969798999aa2a3a4a5a6a7a8"
    "a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9"
    "fa0100030101010101010101010000000000000102030405060708090a0b110002010204040304070504040001027700"
    "0102031104052131061241510761711322328108144291a1b1c109233352f0156272d10a162434e125f11718191a2627"
    "28292a35363738393a434445464748494a535455565758595a636465666768696a737475767778797a82838485868788"
    "898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae2"
    "e3e4e5e6e7e8e9eaf2f3f4f5f6f7f8f9faffda000c03010002110311003f00d06bab30b956c9f455e7f5a6fdb601d11c"
    "8fa2d60b6a12ed2db13207a1ff001a80ea772c721953d80ff1a55309ec5a52d2e73468507aab7ddfe6cfffd9"
)


def images():
    plte = struct.pack(">I", 12) + b"PLTE" + bytes(range(12))
    plte += struct.pack(">I", zlib.crc32(b"PLTE" + bytes(range(12))))
    trns = struct.pack(">I", 2) + b"tRNS" + b"\x00\x80" + struct.pack(">I", zlib.crc32(b"tRNS\x00\x80"))
    pal_rows = b"".join(b"\x00" + bytes((x + y) % 4 for x in range(6)) for y in range(5))
    return {
        "png_rgb": png(20, 10, 2),
        "png_rgba": png(10, 20, 6),
        "png_gray": png(9, 7, 0),
        "png_gray_alpha": png(7, 9, 4),
        "png_palette_trns": png(6, 5, 3, rows=pal_rows, extra=plte + trns),
        "png_16bit": png(5, 5, 2, bit_depth=16),
        "png_interlaced": png(12, 12, 2, rows=adam7_rows(12, 12, 3), interlace=1),
        "bmp_24": bmp(8, 6, 24),
        "bmp_32": bmp(6, 8, 32),
        "bmp_8": bmp(8, 8, 8),
        "gif_1x1": GIF_1x1,
        "gif_2x2": GIF_2x2,
        "jpeg": JPEG,
    }


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py <folder>")
    out = sys.argv[1]
    sets = {"cloudserver_request": requests(),
            # The first byte picks the edge: 16 + 4 * byte.
            "cloudserver_thumbnail": {k: b"\x04" + v for k, v in images().items()}}
    for target, seeds in sets.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
