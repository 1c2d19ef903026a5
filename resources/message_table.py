#!/usr/bin/env python3
"""Turns resources/messages.txt into the library's message table.

    message_table.py --rc  OUT.rc  messages.txt   # Windows builds: .rc + one .bin per language
    message_table.py --cpp OUT.cpp messages.txt   # native build: the same bytes as C++ arrays

Both forms carry, per language, the same MESSAGE_RESOURCE_DATA bytes: blocks of
consecutive identifiers, entries stored as UTF-16 (flag 1), each text ending in
CR LF and NUL-terminated, each entry padded to a multiple of four bytes.
"""

import argparse
import os
import re
import struct
import sys

LINE = re.compile(r'^0x([0-9A-Fa-f]{4})\s+0x([0-9A-Fa-f]{8})\s+"(.*)"\s*$')
ESCAPES = {"t": "\t", '"': '"', "\\": "\\"}
MESSAGE_RESOURCE_UNICODE = 1


class SourceError(Exception):
    pass


def unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == '"':
            raise SourceError(f"{where}: unescaped quote inside the text")
        if c == "\\":
            if i + 1 >= len(text) or text[i + 1] not in ESCAPES:
                raise SourceError(f"{where}: unknown escape")
            out.append(ESCAPES[text[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_source(path):
    """{language: {identifier: text}}; every language must carry the same identifiers."""
    tables = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            where = f"{path}:{number}"
            m = LINE.match(line)
            if not m:
                raise SourceError(f"{where}: expected LANGID, identifier and quoted text")
            language, identifier = int(m.group(1), 16), int(m.group(2), 16)
            table = tables.setdefault(language, {})
            if identifier in table:
                raise SourceError(f"{where}: identifier 0x{identifier:08X} twice for 0x{language:04X}")
            table[identifier] = unescape(m.group(3), where)
    if not tables:
        raise SourceError(f"{path}: no messages")
    identifiers = None
    for language, table in sorted(tables.items()):
        if identifiers is None:
            identifiers = set(table)
        elif set(table) != identifiers:
            raise SourceError(f"{path}: language 0x{language:04X} does not carry the same identifiers")
    return tables


def blocks_of(identifiers):
    """Runs of consecutive identifiers as (low, high)."""
    runs = []
    for identifier in sorted(identifiers):
        if runs and runs[-1][1] + 1 == identifier:
            runs[-1][1] = identifier
        else:
            runs.append([identifier, identifier])
    return [tuple(run) for run in runs]


def message_resource_data(table):
    blocks = blocks_of(table)
    header_size = 4 + 12 * len(blocks)
    header = struct.pack("<I", len(blocks))
    entries = b""
    for low, high in blocks:
        header += struct.pack("<III", low, high, header_size + len(entries))
        for identifier in range(low, high + 1):
            text = (table[identifier] + "\r\n").encode("utf-16-le") + b"\0\0"
            text += b"\0" * (-(4 + len(text)) % 4)
            if 4 + len(text) > 0xFFFF:
                raise SourceError(f"message 0x{identifier:08X} is too long for a message-table entry")
            entries += struct.pack("<HH", 4 + len(text), MESSAGE_RESOURCE_UNICODE) + text
    return header + entries


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_rc(tables, output):
    directory = os.path.dirname(os.path.abspath(output))
    os.makedirs(directory, exist_ok=True)
    lines = ["// Generated from resources/messages.txt by resources/message_table.py.", ""]
    for language, table in sorted(tables.items()):
        binary = os.path.join(directory, f"messages_{language:04X}.bin")
        write_file(binary, message_resource_data(table))
        # LANGUAGE takes the primary and the sub-language apart.
        lines.append(f"LANGUAGE 0x{language & 0x3FF:X}, 0x{language >> 10:X}")
        lines.append(f'1 MESSAGETABLE "{binary}"')
        lines.append("")
    write_file(output, "\n".join(lines).encode("ascii"))


def write_cpp(tables, output):
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    lines = [
        "// Generated from resources/messages.txt by resources/message_table.py.",
        '#include "host/message_table.h"',
        "",
        "namespace host {",
        "",
        "namespace {",
    ]
    for language, table in sorted(tables.items()):
        data = message_resource_data(table)
        lines.append(f"const uint8_t kTable{language:04X}[] = {{")
        for i in range(0, len(data), 16):
            lines.append("    " + ", ".join(f"0x{b:02X}" for b in data[i : i + 16]) + ",")
        lines.append("};")
    lines += ["}  // namespace", "", "const EmbeddedMessageTable kLibraryMessageTables[] = {"]
    for language in sorted(tables):
        lines.append(f"    {{0x{language:04X}, kTable{language:04X}, sizeof(kTable{language:04X})}},")
    lines += [
        "};",
        f"const size_t kLibraryMessageTableCount = {len(tables)};",
        "",
        "}  // namespace host",
        "",
    ]
    write_file(output, "\n".join(lines).encode("ascii"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    form = parser.add_mutually_exclusive_group(required=True)
    form.add_argument("--rc", metavar="OUT.rc")
    form.add_argument("--cpp", metavar="OUT.cpp")
    parser.add_argument("source")
    args = parser.parse_args()
    try:
        tables = read_source(args.source)
        if args.rc:
            write_rc(tables, args.rc)
        else:
            write_cpp(tables, args.cpp)
    except (SourceError, OSError) as e:
        print(f"message_table.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
