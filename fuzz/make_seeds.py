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


GENERATORS = {"archive_fuzz": archive_seeds}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    target, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    import warnings
    warnings.simplefilter("ignore")  # duplicate names are intended
    for name, data in GENERATORS.get(target, dict)().items():
        with open(os.path.join(out, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
