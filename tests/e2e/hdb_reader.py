"""The tests' own HDB reader in Python: parses a file and checks every
invariant of the layout, with the limits of its C++ twin (hdb_reader.h).
It shares no code with the tool, so the two check each other."""

import os
import struct

HEADER_SIZE = 92
ENTRY_SIZE = 16
TEXT_BLOCK_SIZE = 1024
MARKER = b".o0O0o.\0"
MAX_RECORDS = 65536  # the info block and 65,535 text blocks
MAX_TEXT = (MAX_RECORDS - 1) * TEXT_BLOCK_SIZE
MAX_PREFIX_BYTES = 3  # 7 bits each: more than any payload length needs


class HdbError(Exception):
    pass


def _expect(condition, what):
    if not condition:
        raise HdbError(what)


def read_prefix(data, pos):
    """Returns (value, position after the prefix)."""
    value = 0
    for shift in range(0, 7 * MAX_PREFIX_BYTES, 7):
        _expect(pos < len(data), f"length prefix runs past the end at {pos}")
        byte = data[pos]
        value |= (byte >> 1) << shift
        pos += 1
        if byte & 1:
            return value, pos
    raise HdbError(f"length prefix longer than {MAX_PREFIX_BYTES} bytes before {pos}")


def read_hdb(data):
    """Checks the layout; returns (header name, text). Raises HdbError."""
    _expect(len(data) >= HEADER_SIZE, "shorter than the header")
    name_field = data[0:32]
    _expect(0 in name_field, "name has no terminator")
    name = name_field[: name_field.index(0)]
    _expect(name_field[len(name):] == bytes(32 - len(name)), "bytes after the name are not zero")
    _expect(data[32:64] == MARKER + bytes(24), "marker field")
    _expect(data[64:88] == b"\x38\x89" + bytes(22), "header words or reserved bytes")
    (record_count,) = struct.unpack_from("<I", data, 88)
    _expect(2 <= record_count <= MAX_RECORDS, f"recordCount {record_count}")
    pos = HEADER_SIZE + ENTRY_SIZE * record_count
    _expect(len(data) >= pos + 17, "block table or info block cut short")

    offsets = []
    for block in range(record_count):
        offset, r1, r2, word, r3, r4 = struct.unpack_from("<IIIHBB", data, HEADER_SIZE + ENTRY_SIZE * block)
        _expect((r1, r2, word, r3, r4) == (0, 0, 1, 0, 0), f"table entry {block} fields")
        offsets.append(offset)

    _expect(offsets[0] == pos, "info block offset")
    _expect(data[pos] == 0x21, "info block prefix")
    info_word, info_word2, text_size, block_count, block_size, reserved = struct.unpack_from(
        "<HHIHHI", data, pos + 1)
    _expect((info_word, info_word2, reserved) == (1, 0, 0), "info record words")
    _expect(block_count == record_count - 1, "textBlockCount is not recordCount - 1")
    _expect(block_size == TEXT_BLOCK_SIZE, "textBlockSize")
    pos += 17

    text = bytearray()
    for block in range(1, record_count):
        _expect(offsets[block] == pos, f"offset of block {block}")
        length, pos = read_prefix(data, pos)
        last = block == record_count - 1
        if last:
            _expect(length <= TEXT_BLOCK_SIZE, "last payload too long")
        else:
            _expect(length == TEXT_BLOCK_SIZE, f"block {block} is not full")
        _expect(pos + length <= len(data), f"block {block} runs past the end")
        text += data[pos : pos + length]
        pos += length
    _expect(pos == len(data), "bytes after the last block")
    _expect(len(text) == text_size, "textSize differs from the text")
    expected_blocks = max(1, -(-text_size // TEXT_BLOCK_SIZE))
    _expect(block_count == expected_blocks, "block count does not fit the size")
    return bytes(name), bytes(text)


def text_problem(path, text):
    """Why the HDB file at `path` does not hold `text`, or None."""
    with open(path, "rb") as f:
        try:
            if read_hdb(f.read())[1] != text:
                return f"{os.path.basename(path)}: text blocks differ from the input"
        except HdbError as error:
            return f"{os.path.basename(path)}: {error}"
    return None
