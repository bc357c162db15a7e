#!/usr/bin/env python3
"""Writes a small seed corpus for one fuzz target.

Usage: make_seeds.py TARGET DIR. A target without a generator here gets no seeds and
starts from libFuzzer's empty input.
"""
import io
import os
import struct
import sys
import zipfile


def archive(entries, comment=b"", prefix=b""):
    """entries: (name, data, method) or (ZipInfo, data) tuples."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        z.comment = comment
        for entry in entries:
            if isinstance(entry[0], zipfile.ZipInfo):
                z.writestr(entry[0], entry[1])
            else:
                name, data, method = entry
                z.writestr(name, data, compress_type=method)
    return prefix + buffer.getvalue()


def archive_seeds():
    text = b"".join(b"line %d\n" % i for i in range(200))
    extra = zipfile.ZipInfo("with-extra.txt")
    extra.extra = struct.pack("<HH4s", 0xCAFE, 4, b"data")
    extra.compress_type = zipfile.ZIP_DEFLATED
    commented = zipfile.ZipInfo("commented")
    commented.comment = b"entry comment"
    S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    return {
        "stored": archive([("a.txt", b"alpha", S)]),
        "deflated": archive([("dir/b.txt", text, D)]),
        "layout": archive([("package/", b"", S), ("package/lib/x.so", b"\x7fELF", S),
                           ("setup", b"#!/bin/sh\n", D), ("META-INF/MANIFEST.MF", b"M", D)]),
        "empty-entries": archive([("empty", b"", S), ("empty-deflated", b"", D)]),
        "comments": archive([(commented, b"c"), (extra, b"extra")], comment=b"archive"),
        "prefixed": archive([("a", b"prefixed", D)], prefix=b"\x7fELF" + bytes(60)),
        "end-only": archive([], prefix=b"#"),
        "duplicates": archive([("same", b"one", S), ("same", b"two", D)]),
        "escaping": archive([("../up", b"u", S), ("/abs", b"a", S), ("ok/../x", b"x", S)]),
    }


def cli_seeds():
    """LC_ALL, LANG and the command line's words, separated by NUL bytes."""
    def seed(lc_all, lang, *words):
        return b"\0".join([lc_all, lang] + list(words))
    return {
        "console-c": seed(b"", b"C", b"-console"),
        "help": seed(b"", b"", b"-help"),
        "graphical": seed(b"", b"en_US.UTF-8", b"-debug", b"-nodomain"),
        "silent-spanish": seed(b"es_ES@euro", b"", b"-silent", b"state", b"-id"),
        "every-option": seed(b"", b"de_DE.UTF-8", b"-console", b"-javahome", b"jre",
                             b"-tmpdir", b"/tmp", b"-savestate", b"s", b"-noportcheck",
                             b"-passwordvisible", b"-debug", b"-nodomain", b"-id"),
        "missing-value": seed(b"ja_JP.eucJP", b"", b"-console", b"-javahome"),
        "bad-tmpdir": seed(b"", b"zh_CN.gbk", b"-console", b"-tmpdir", b"/nonexistent"),
        "unknown-word": seed(b"", b"zh_TW.big5", b"-console", b"\xa4/\xb5:_."),
        "euc-kr": seed(b"ko_KR.euckr", b"", b"-silent", b"\xb0\xa1/x", b"-h"),
        "aliases": seed(b"", b"iw_IL.UTF-8", b"-console", b"-javahome", b"rel/ative"),
        "posix-modifier": seed(b"sr_RS@latin", b"POSIX", b"-console"),
    }


GENERATORS = {"archive_fuzz": archive_seeds, "cli_fuzz": cli_seeds}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    target, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    import warnings
    warnings.simplefilter("ignore")  # duplicate names are intended
    for name, data in GENERATORS.get(target, dict)().items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
