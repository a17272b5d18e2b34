#!/usr/bin/env python3
"""Writes the scanner fuzzer's seed corpus (fuzz/corpus/scanner): documents
and terms at the edges of the reading rules, in the fuzzer's input layout
(see scanner_fuzzer.cpp). The same run always writes the same files."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "scanner")

# (name, block size index, flags, limit, term, document)
X254, X255 = b"x" * 254, b"x" * 255
SEEDS = [
    ("one-hit-per-piece", 15, 0, 0, b"WEB", b"web web wEb\nWeb\n"),
    ("long-line", 8, 0, 0, b"QQ", b"QQ" + b"x" * 300 + b"qQ" + b"x" * 260 + b"Qq\n"),
    ("across-pieces", 9, 0, 0, b"QQ", X254 + b"QQ\n"),
    ("high-bytes", 3, 0, 0, b"CAF\xc9", b"caf\xe9\ncaf\xc9\n"),
    ("last-line", 0, 0, 0, b"QUOKKA", b"a\nquokka"),
    ("end-of-text", 1, 0, 0, b"QUOKKA", b"quokka\x1a quokka\n"),
    ("nul", 2, 0, 0, b"QUOKKA", b"abc\0quokka\nquokka\0\n"),
    ("crlf", 0, 0, 0, b"TWO\n", b"one two\r\n"),
    ("folded-cr", 1, 0, 0, b"TWO\r", b"one two\r\ntwo\rx\n"),
    ("cr-cr-lf", 0, 0, 0, b"TWO\r\n", b"two\r\r\n"),
    ("cr-end-of-text", 0, 0, 0, b"B\r", b"ab\r\x1a\n"),
    ("empty-term", 5, 0, 0, b"", b"a\n\0b\n" + b"x" * 300 + b"\n"),
    ("lf-alone", 9, 0, 0, b"\n", X255 + b"\n"),
    ("folded-lf-fits", 10, 0, 0, b"X\n", X254 + b"\r\n"),
    ("cr-ends-piece", 9, 0, 0, b"X\rZ", X254 + b"\rz"),
    ("whole-piece", 11, 0, 0, b"X" * 255, b"x" * 300),
    ("too-long", 12, 0, 0, b"X" * 256, b"x" * 600),
    ("lf-inside", 0, 0, 0, b"A\nB", b"a\nb\n"),
    ("lower-case", 4, 0x20, 0, b"web", b"web\n"),
    ("portable", 13, 0x10, 0, b"ZZQXV", b"<p>zzqxv</p>\r\n" * 40),
    ("limit", 6, 0, 3, b"A", b"a\n" * 20),
    ("crlf-astride", 13, 0, 0, b"LINE\n", (b"line\r\n" * 700)[:4095] + b"\r\nline\r\n"),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, block, flags, limit, term, document in SEEDS:
        head = bytes([block | flags, limit, len(term) & 0xFF, len(term) >> 8])
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(head + term + document)


if __name__ == "__main__":
    main()
