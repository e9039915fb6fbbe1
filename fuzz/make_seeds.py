#!/usr/bin/env python3
"""Writes well-formed inputs of every fuzzed format, one folder per target.

Random bytes almost never pass the readers' checks (an identifier list needs
232 bytes, kind 1..3, terminated texts; a record needs its terminator; a
range needs its unit), so the fuzzers start from real inputs and mutate.
Usage: make_seeds.py <folder>; writes <folder>/<target>/<seed>.
"""
import json
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


def pidl_seeds():
    root = element(3, "Veyra云盘", node=4)
    shares = element(3, "收到的分享", node=10)
    docs = element(1, "docs", "abcdefghijkl00019700101000000777", state=0x80000005, time=1700000000)
    share = element(1, "共享", "u2", state=1, flag=1, text="张三")
    doc = element(2, "a.txt", "c" * 40, state=2, size=1536, time=1700000000)
    lists = {
        "empty": [],
        "root": [root],
        "root_docs_file": [root, docs, doc],
        "shares": [root, shares],
        "share_root": [root, shares, share],
        "file": [doc],
        "docs_file": [docs, doc],
    }
    seeds = {}
    for name, elements in lists.items():
        data = b"".join(elements) + b"\0\0"
        seeds[name] = data
        # The name fuzzer reads the caller's buffer length from a leading byte.
        seeds["len_" + name] = bytes([40]) + data
    return seeds


def wide(text):
    return text.encode("utf-16-le") + b"\0\0"


def narrow(text):
    return text.encode("utf-8") + b"\0"


# Index of a code in the fuzzers' code tables: a first byte below the table
# size picks that code.
VIEW_CODES = [10, 11, 12, 15, 17, 401, 405, 406, 410]
CLIENT_CODES = [0, 3, 4, 5, 6, 7, 13, 14, 16, 21, 30, 300, 400, 409, 500, 900, 901]
CATALOG_ID = "abcdefghijkl00019700101000000777"
ITEMS = ("<ITEM>ID=<111122223333000201801010000000042>NAME=<报告 (1).doc>TYPE=<2>"
         "<ITEM>ID=<111122223333000201801010000000007>NAME=<a>b>TYPE=<1>")


def view_record_seeds():
    def record(code, payload=b""):
        return bytes([VIEW_CODES.index(code)]) + payload
    return {
        "proxy": record(10),
        "signed_out": record(401),
        "sync_states": record(15, wide("3;128;正在同步;" + CATALOG_ID + ";" + CATALOG_ID[::-1] + ";")),
        "sync_states_null": record(15, wide("0;NULL;NULL")),
        "catalog_changed": record(17, narrow(CATALOG_ID)),
        "page_changed": record(410, narrow(CATALOG_ID)),
        "shares_accepted": record(405, narrow(CATALOG_ID)),
    }


def client_record_seeds():
    def record(code, payload=b""):
        return bytes([CLIENT_CODES.index(code)]) + payload
    return {
        "about": record(5),
        "share_by_link": record(6, wide(ITEMS)),
        "history": record(409, wide("<ITEM>ID=<9>NAME=<v.txt>TYPE=<007>")),
        "stop_sync": record(7, narrow("D:\\SyncDir:1")),
        "page": record(30, wide("calender")),
        "upload_started": record(300, wide("C:\\同步\\a.txt")),
        "uploads_done": record(400),
    }


def record_text_seeds():
    return {
        "wide": bytes([64]) + wide("C:\\同步\\a.txt"),
        "narrow": bytes([64]) + narrow("D:\\SyncDir:1"),
        "tight": bytes([3]) + wide("abc"),
        "terminator": bytes([0]) + b"\0\0",
    }


def sdk_json_seeds():
    catalog = {"catalogID": CATALOG_ID, "catalogName": "报告", "parentCatalogID": "00019700101000000001",
               "path": "00019700101000000001/" + CATALOG_ID, "createtime": 20240101000000, "moved": "0",
               "isFixedDir": 1}
    content = {"contentID": "c" * 32, "contentName": "a.txt", "contentSize": 18446744073709551615,
               "digest": "d41d8cd98f00b204e9800998ecf8427e", "moved": -3, "version": "1"}
    answers = {
        "listing": {"code": 0, "totalCount": "2", "catalogList": [catalog], "contentList": [content]},
        "shares": {"code": 0, "totalCount": 1, "shareList": [
            {"sharerID": "7", "sharerAccount": "bob", "sharerName": "鲍勃", "catalogInfo": catalog},
            {"sharerID": "8", "contentInfo": content}]},
        "users": {"code": 0, "itemList": [{"name": "组", "itemID": "1", "accountList": ["alice", "bob"]}]},
        "upload": {"code": 0, "storedBytes": "16777216", "complete": "1"},
        "ticket": {"code": 0, "contentSize": "1536", "downloadURL": "/blob/abc?t=1"},
        "error": {"code": 9000, "message": "令牌无效"},
    }
    return {name: json.dumps(a, ensure_ascii=False).encode("utf-8") for name, a in answers.items()}


def http_headers_seeds():
    return {
        "upload": b"Content-Type: application/octet-stream\r\nContent-Range: bytes 0-16777215/33554432\r\n",
        "download": b"Accept-Encoding: gzip, deflate\r\nRange: bytes=1024-\r\n",
        "download_span": b"range: bytes=7-9\nX-Other:  spaced value \t\r\n",
        "answer": b"HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\ncontent-range: bytes 5-14/15\r\n\r\n",
    }


def sdk_config_seeds():
    return {
        "full": ("\ufeff[Service]\r\nHost=127.0.0.1\r\nPort=8080\r\nConnectTimeoutMs=5000\r\n"
                 "RequestTimeoutMs=30000\r\nIdleTimeoutMs=30000\r\nRetries=3\r\nRetryDelayMs=200\r\n"
                 "ChunkBytes=16777216\r\n").encode("utf-8"),
        "minimal": b"; comment\n[service]\n host = localhost \nport=1\n[Other]\nPort=x\n",
        "number": b"18446744073709551615",
    }


def ini_profile_seeds():
    # The first byte picks the check; a line of its own, it reads as junk.
    texts = {
        "config": ("[All]\r\nLogLevel=4\r\n[Pandrel]\r\nIsPreCache=1\r\nNewFunctionMsg=0\r\n"
                   "[ORLO]\r\nSTRONG_HTTP=\"http://a.example/s\"\r\nPORTAL_HTTP='p'\r\n").encode("utf-8"),
        "sdkconfig": ("[SDK]\nUploadFilterSuffix=.tmp;.part;.~lock\n[Service]\nHost=127.0.0.1\n"
                      "a.part").encode("utf-8"),
        "module_path": "C:\\Program Files\\Veyra\\Shell\\Pandrel64.dll\n[all]\nloglevel = -7 \n".encode("utf-8"),
        "int": b"123456789",
    }
    return {f"{name}_{pick}": bytes([pick]) + b"\n" + text for name, text in texts.items() for pick in range(8)}


def sign_in_values_seeds():
    return {
        "login_info": wide("alice;0123456789abcdef;op-token;"),
        "op_token": wide("alice:1700000000:ab:cd"),
        "proxy": wide("1;proxy.example;3128;user;secret"),
        "no_proxy": wide("3;;;;"),
        "unterminated": "alice;t;o".encode("utf-16-le"),
        "narrow_proxy": b"1;10.0.0.1;8080;u;p;extra",
    }


def main(out):
    pidl = pidl_seeds()
    targets = {name: pidl for name in ("pidl_names", "pidl_ids", "pidl_detail", "pidl_list")}
    targets.update({
        "record_text": record_text_seeds(),
        "view_record": view_record_seeds(),
        "client_record": client_record_seeds(),
        "sdk_json": sdk_json_seeds(),
        "http_headers": http_headers_seeds(),
        "sdk_config": sdk_config_seeds(),
        "ini_profile": ini_profile_seeds(),
        "sign_in_values": sign_in_values_seeds(),
    })
    for target, seeds in targets.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
