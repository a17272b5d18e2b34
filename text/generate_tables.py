#!/usr/bin/env python3
"""Generates the text layer's tables from the data made for them.

  unicode_folding_table.inc   from Unicode's UnicodeData.txt and
                              CaseFolding.txt: what each code point folds to
                              (compatibility decomposition, nonspacing and
                              enclosing marks removed, full case folding,
                              repeated until nothing changes) and whether it
                              belongs to a word.
  character_reference_table.inc  the HTML named character references with the
                              code points they stand for, from the table the
                              HTML standard publishes (as Python's html.entities
                              carries it), sorted by name.
  windows_1252_table.inc      the code points of the bytes 0x80 to 0x9F in
                              Windows-1252 (from Python's codec; a byte the
                              code page leaves undefined stands for the code
                              point of its own value, as browsers read it).

usage: generate_tables.py UNICODE_DATA_DIR OUT_DIR
"""
import codecs
import html.entities
import os
import sys

MAX_CODE_POINT = 0x10FFFF
BLOCK_BITS = 7


def read_unicode_data(path):
    """Returns {code point: (category, decomposition list)}, ranges expanded."""
    data = {}
    first = None
    with open(path, encoding="utf-8") as source:
        for line in source:
            fields = line.rstrip("\n").split(";")
            code = int(fields[0], 16)
            name, category, decomposition = fields[1], fields[2], fields[5]
            if name.endswith(", First>"):
                first = code
                continue
            if name.endswith(", Last>"):
                for each in range(first, code + 1):
                    data[each] = (category, [])
                continue
            mapping = []
            if decomposition:
                parts = decomposition.split()
                if parts[0].startswith("<"):
                    parts = parts[1:]
                mapping = [int(part, 16) for part in parts]
            data[code] = (category, mapping)
    return data


def read_case_folding(path):
    """Returns {code point: folded code points} for the full folding (C, F)."""
    folding = {}
    with open(path, encoding="utf-8") as source:
        for line in source:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            code, status, mapping = [field.strip() for field in line.split(";")[:3]]
            if status in ("C", "F"):
                folding[int(code, 16)] = [int(part, 16) for part in mapping.split()]
    return folding


def fold_tables(data, case_folding):
    def category(code):
        return data.get(code, ("Cn", []))[0]

    def decompose(code):
        mapping = data.get(code, ("Cn", []))[1]
        if not mapping:
            return [code]
        out = []
        for part in mapping:
            out.extend(decompose(part))
        return out

    def fold_once(codes):
        out = []
        for code in codes:
            for part in decompose(code):
                if category(part) in ("Mn", "Me"):
                    continue
                out.extend(case_folding.get(part, [part]))
        return out

    def fold(code):
        codes = [code]
        while True:
            folded = fold_once(codes)
            if folded == codes:
                return codes
            codes = folded

    def is_word(code):
        kind = category(code)
        return kind[0] in "LN" or kind == "Mc"

    # 0: itself, not of a word; 1: itself, of a word; n >= 2: mapping n.
    values = [0] * (MAX_CODE_POINT + 1)
    mappings = []
    mapping_index = {}
    for code in range(MAX_CODE_POINT + 1):
        if code not in data and code >= 0x80:
            continue  # unassigned: itself, not of a word
        folded = fold(code)
        if folded == [code]:
            values[code] = 1 if is_word(code) else 0
            continue
        key = tuple(folded)
        if key not in mapping_index:
            mapping_index[key] = len(mappings) + 2
            mappings.append(key)
        values[code] = mapping_index[key]
    # Every code point a mapping gives folds to itself.
    for mapping in mappings:
        for code in mapping:
            assert fold(code) == [code], hex(code)
    return values, mappings


def write_folding(out, values, mappings):
    block_size = 1 << BLOCK_BITS
    blocks = []
    block_index = {}
    stage1 = []
    for start in range(0, MAX_CODE_POINT + 1, block_size):
        block = tuple(values[start:start + block_size])
        if block not in block_index:
            block_index[block] = len(blocks)
            blocks.append(block)
        stage1.append(block_index[block])
    pool = []
    offsets = []
    for mapping in mappings:
        offsets.append((len(pool), len(mapping)))
        pool.extend(mapping)
    assert len(mappings) + 2 < 0x10000 and len(pool) < 0x10000
    out.write("// Generated by text/generate_tables.py from UnicodeData.txt and\n"
              "// CaseFolding.txt. Do not edit.\n")
    out.write("constexpr int kFoldBlockBits = %d;\n" % BLOCK_BITS)
    out.write("constexpr uint16_t kFoldStage1[%d] = {\n" % len(stage1))
    write_numbers(out, stage1)
    out.write("};\n")
    out.write("constexpr uint16_t kFoldStage2[%d] = {\n" % (len(blocks) * block_size))
    write_numbers(out, [value for block in blocks for value in block])
    out.write("};\n")
    out.write("constexpr FoldMapping kFoldMappings[%d] = {\n" % len(offsets))
    out.write("".join("  {%d, %d},\n" % pair for pair in offsets))
    out.write("};\n")
    out.write("constexpr char32_t kFoldPool[%d] = {\n" % len(pool))
    write_numbers(out, pool)
    out.write("};\n")


def write_numbers(out, numbers):
    for start in range(0, len(numbers), 16):
        out.write("  " + ", ".join(str(n) for n in numbers[start:start + 16]) + ",\n")


def c_string(text):
    return '"' + "".join(ch if ch.isalnum() or ch == ";" else "\\x%02x" % ord(ch)
                         for ch in text) + '"'


def write_references(out):
    names = sorted(html.entities.html5, key=lambda name: name.encode())
    out.write("// Generated by text/generate_tables.py from the HTML standard's table\n"
              "// of named character references. Do not edit.\n")
    out.write("constexpr int kLongestReferenceName = %d;\n" % max(map(len, names)))
    out.write("constexpr NamedReference kNamedReferences[%d] = {\n" % len(names))
    for name in names:
        points = [ord(ch) for ch in html.entities.html5[name]]
        assert 1 <= len(points) <= 2
        points += [0] * (2 - len(points))
        out.write("  {%s, %d, {%d, %d}},\n" % (c_string(name), len(name), *points))
    out.write("};\n")


def write_windows_1252(out):
    points = []
    for byte in range(0x80, 0xA0):
        try:
            points.append(ord(codecs.decode(bytes([byte]), "cp1252")))
        except UnicodeDecodeError:
            points.append(byte)
    out.write("// Generated by text/generate_tables.py from the Windows-1252 code\n"
              "// page. Do not edit.\n")
    out.write("constexpr char32_t kWindows1252High[32] = {\n")
    write_numbers(out, points)
    out.write("};\n")


def write_if_changed(path, write):
    from io import StringIO
    text = StringIO()
    write(text)
    try:
        with open(path, encoding="utf-8") as old:
            if old.read() == text.getvalue():
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as out:
        out.write(text.getvalue())


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    unicode_dir, out_dir = sys.argv[1:]
    os.makedirs(out_dir, exist_ok=True)
    data = read_unicode_data(os.path.join(unicode_dir, "UnicodeData.txt"))
    case_folding = read_case_folding(os.path.join(unicode_dir, "CaseFolding.txt"))
    values, mappings = fold_tables(data, case_folding)
    write_if_changed(os.path.join(out_dir, "unicode_folding_table.inc"),
                     lambda out: write_folding(out, values, mappings))
    write_if_changed(os.path.join(out_dir, "character_reference_table.inc"),
                     write_references)
    write_if_changed(os.path.join(out_dir, "windows_1252_table.inc"),
                     write_windows_1252)


if __name__ == "__main__":
    main()
