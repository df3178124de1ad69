"""HWP 5.0 record and payload writers for test fixtures.

A body section is a run of records, each a little-endian 32-bit header (tag in
bits 0-9, level in bits 10-19, size in bits 20-31) followed by its payload. The
writers here produce exact bytes; the document-level builders in document.py
combine them into the record layouts that real documents use.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass

# Record tags (published HWP 5.0 numbers).
PARA_HEADER = 66
PARA_TEXT = 67
CHAR_SHAPE = 68
LINE_SEG = 69
RANGE_TAG = 70
CTRL_HEADER = 71
LIST_HEADER = 72
PAGE_DEF = 73
FOOTNOTE_SHAPE = 74
PAGE_BORDER_FILL = 75
SHAPE_COMPONENT = 76
TABLE = 77
SHAPE_COMPONENT_PICTURE = 85
CTRL_DATA = 87
EQEDIT = 88


def ctrl_id(name: str) -> int:
    """Control id of a four-character name, most significant byte first."""
    raw = name.encode("latin-1")
    if len(raw) != 4:
        raise ValueError(f"control name must be 4 characters: {name!r}")
    return int.from_bytes(raw, "big")


# Control ids, named by their four characters.
TBL = ctrl_id("tbl ")  # 0x74626C20 table
GSO = ctrl_id("gso ")  # 0x67736F20 drawing object
EQED = ctrl_id("eqed")  # 0x65716564 equation
CLK = ctrl_id("%clk")  # 0x25636C6B click-here field
HLK = ctrl_id("%hlk")  # hyperlink field
FN = ctrl_id("fn  ")  # footnote
EN = ctrl_id("en  ")  # endnote
HEAD = ctrl_id("head")  # header
FOOT = ctrl_id("foot")  # footer
SECD = ctrl_id("secd")  # section definition
COLD = ctrl_id("cold")  # column definition

SIZE_ESCAPE = 0xFFF
MAX_TAG = 0x3FF
MAX_LEVEL = 0x3FF


def record_header(tag: int, level: int, size: int, *, extended: bool | None = None) -> bytes:
    """Header bytes of a record; `extended` forces (or forbids) the 32-bit size word."""
    if not 0 <= tag <= MAX_TAG or not 0 <= level <= MAX_LEVEL:
        raise ValueError(f"tag {tag} or level {level} out of 10-bit range")
    if extended is None:
        extended = size >= SIZE_ESCAPE
    if extended:
        return struct.pack("<II", tag | level << 10 | SIZE_ESCAPE << 20, size)
    if size >= SIZE_ESCAPE:
        raise ValueError(f"size {size} needs the extended header")
    return struct.pack("<I", tag | level << 10 | size << 20)


def record(tag: int, level: int, payload: bytes = b"") -> bytes:
    """One record: header (extended when the payload is 4095 bytes or more) and payload."""
    return record_header(tag, level, len(payload)) + bytes(payload)


# --- PARA_TEXT -----------------------------------------------------------------------------------

@dataclass(frozen=True)
class Token:
    """Pre-encoded piece of a PARA_TEXT payload."""

    data: bytes


def _units(*values: int) -> bytes:
    return struct.pack(f"<{len(values)}H", *values)


def ctrl(code: int) -> Token:
    """A one-unit control character (0, 10 line break, 13 paragraph break, 24..31)."""
    return Token(_units(code))


def ext(code: int, ctrl_id: int = 0) -> Token:
    """An eight-unit control: code, 32-bit id over units 1-2, four zero units, code again."""
    return Token(_units(code) + struct.pack("<I", ctrl_id) + _units(0, 0, 0, 0, code))


def field_start(ctrl_id: int) -> Token:
    return ext(3, ctrl_id)


def field_end() -> Token:
    return ext(4)


def tab() -> Token:
    return ext(9)


def unit(u: int) -> Token:
    """A raw 16-bit code unit, e.g. a lone surrogate."""
    return Token(_units(u))


def raw(data: bytes) -> Token:
    """Raw bytes, e.g. an odd trailing byte."""
    return Token(bytes(data))


# Common one-unit controls and the object anchor real paragraphs carry for their controls.
LINE_BREAK = ctrl(10)
PARA_BREAK = ctrl(13)


def anchor(ctrl_id: int) -> Token:
    """The code-11 anchor a paragraph holds for a table or drawing object (also used for eqed)."""
    return ext(11, ctrl_id)


def para_text(*items: str | Token) -> bytes:
    """PARA_TEXT payload: strings as UTF-16LE (surrogate pairs above U+FFFF), tokens as they are."""
    out = []
    for item in items:
        if isinstance(item, str):
            out.append(item.encode("utf-16-le", "surrogatepass"))
        elif isinstance(item, Token):
            out.append(item.data)
        else:
            raise TypeError(f"para_text item must be str or Token, not {type(item).__name__}")
    return b"".join(out)


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le", "surrogatepass")


def utf16_units(text: str) -> int:
    return len(utf16(text)) // 2


def bin_data(item_id: int, extension: str, *, compression: int = 0, kind: int = 1) -> bytes:
    """BIN_DATA (DocInfo tag 18) payload: properties (kind in bits 0-3, compression in bits
    4-5: 0 as the document, 1 compressed, 2 stored), the id its /BinData stream is named by,
    then the extension as a counted UTF-16 string."""
    return (struct.pack("<HHH", kind | compression << 4, item_id, utf16_units(extension))
            + utf16(extension))


# --- control payloads ----------------------------------------------------------------------------

def ctrl_header(ctrl_id: int, extra: bytes = b"") -> bytes:
    """CTRL_HEADER payload: the control id as little-endian u32, then `extra`."""
    return struct.pack("<I", ctrl_id) + bytes(extra)


# Object common properties of a table or drawing object control (after the id): property word,
# offsets, size, z-order, margins, instance id, page-break flag and an empty description,
# 42 bytes in all as in real documents.
def object_common(width: int = 42520, height: int = 2000, props: int = 0x082A2211,
                  instance_id: int = 0x7A5C1D01) -> bytes:
    return (struct.pack("<IiiIIi", props, 0, 0, width, height, 0)
            + struct.pack("<4h", 141, 141, 141, 141)
            + struct.pack("<Ii", instance_id, 0)
            + struct.pack("<H", 0))


def click_here_command(direction: str = "", help_state: str = "") -> str:
    """A command string of the form real click-here fields carry."""
    body = (f"Direction:wstring:{utf16_units(direction)}:{direction} "
            f"HelpState:wstring:{utf16_units(help_state)}:{help_state} ")
    return f"Clickhere:set:{utf16_units(body)}:{body} "


def click_here_header(direction: str = "", modified: bool = False, command: str | None = None,
                      prop: int | None = None, *, extra_byte: int = 9,
                      command_units: int | None = None, instance_id: int = 0x1F3A5B7D) -> bytes:
    """`%clk` CTRL_HEADER payload.

    Layout: id, property u32 (bit 15 = modified), one byte (9 in real fields), u16 command length
    in UTF-16 units, the command, then the field's instance id and four zero bytes.
    `command_units` overrides the declared length (damage), `extra_byte` the byte at offset 8.
    """
    if command is None:
        command = click_here_command(direction)
    if prop is None:
        prop = 0x00000001 | (0x8000 if modified else 0)
    elif modified:
        prop |= 0x8000
    cmd = utf16(command)
    units = len(cmd) // 2 if command_units is None else command_units
    return (struct.pack("<IIBH", CLK, prop, extra_byte, units) + cmd
            + struct.pack("<II", instance_id, 0))


def ctrl_data_name(name: str, *, declared_units: int | None = None) -> bytes:
    """CTRL_DATA payload holding a field name: 10 leading bytes, u16 unit count, UTF-16LE name."""
    encoded = utf16(name)
    units = len(encoded) // 2 if declared_units is None else declared_units
    # Real field CTRL_DATA starts with a parameter set header: id 0x021B, count 1, an item id
    # 0x4000 of type string (1); the count and name follow.
    return struct.pack("<HhHHHH", 0x021B, 1, 0, 0x4000, 1, units) + encoded


def eqedit(script: str, *, declared_units: int | None = None, version: str = "Equation Version 60",
           font: str = "") -> bytes:
    """EQEDIT payload: property u32, u16 script length, UTF-16LE script, then character size,
    colour, baseline and two counted strings (version, font name) as real equations hold them.
    `declared_units` overrides the script length field (damage)."""
    encoded = utf16(script)
    units = len(encoded) // 2 if declared_units is None else declared_units
    return (struct.pack("<IH", 0, units) + encoded
            + struct.pack("<IIhH", 1000, 0, 89, 0)
            + struct.pack("<H", utf16_units(version)) + utf16(version)
            + struct.pack("<H", utf16_units(font)) + utf16(font))


def table_record(rows: int, cells_per_row: list[int], cols: int | None = None, *,
                 props: int = 0x04000006) -> bytes:
    """TABLE payload: props u32, rows u16, cols u16, 10 bytes of spacing and margins, u16 per row
    cell count, then a zero border-fill id and zone count as real tables have."""
    if cols is None:
        cols = max(cells_per_row, default=0)
    return (struct.pack("<IHH", props, rows, cols)
            + struct.pack("<H4h", 0, 510, 510, 141, 141)
            + struct.pack(f"<{len(cells_per_row)}H", *cells_per_row)
            + struct.pack("<HH", 1, 0))


def list_header(paragraphs: int = 1, *, col: int = 0, row: int = 0, col_span: int = 1,
                row_span: int = 1, width: int = 14173, height: int = 282,
                cell: bool = True, header: bool = False) -> bytes:
    """LIST_HEADER payload: paragraph count and list properties (bit 18 marks a header cell),
    followed (for a table cell) by the cell's address, spans, size, margins, border fill and
    text width (38 bytes, as in real cells)."""
    head = struct.pack("<iI", paragraphs, (0x20 if cell else 0) | (0x40000 if header else 0))
    if not cell:
        return head
    return head + struct.pack("<HHHHIIhhhhHI", col, row, col_span, row_span, width, height,
                              510, 510, 141, 141, 1, width)


def para_header(text_units: int, *, controls_mask: int = 0, shape_id: int = 0, style_id: int = 0,
                char_shapes: int = 1, line_segs: int = 1, instance_id: int = 0) -> bytes:
    """PARA_HEADER payload (24 bytes, as in 5.0.3+ documents)."""
    return struct.pack("<IIHBBHHHIH", text_units, controls_mask, shape_id, style_id, 0,
                       char_shapes, 0, line_segs, instance_id, 0)


def char_shape_run(shape_id: int = 0) -> bytes:
    """PARA_CHAR_SHAPE payload with one run starting at position 0."""
    return struct.pack("<II", 0, shape_id)


def line_seg(width: int = 42520) -> bytes:
    """PARA_LINE_SEG payload with one line segment (36 bytes)."""
    return struct.pack("<IiiiiiiiI", 0, 0, 1000, 1000, 850, 600, 0, width, 0x00060000)


def shape_component(ctrl_id: int = GSO, *, width: int = 7200, height: int = 7200,
                    top_level: bool = True) -> bytes:
    """SHAPE_COMPONENT payload: the element id (twice for a top-level object), offsets,
    group level, version, sizes, flip/rotation, centre and an identity render matrix."""
    ids = struct.pack("<II", ctrl_id, ctrl_id) if top_level else struct.pack("<I", ctrl_id)
    identity = struct.pack("<6d", 1.0, 0.0, 0.0, 0.0, 1.0, 0.0)
    return (ids + struct.pack("<iiHHIIIIIhii", 0, 0, 0, 1, width, height, width, height, 0, 0,
                              width // 2, height // 2)
            + struct.pack("<H", 1) + identity + identity + identity)


def picture_record(size: int = 80, *, bin_data_id: int = 1) -> bytes:
    """SHAPE_COMPONENT_PICTURE payload of exactly `size` bytes: border, corners, crop, margins
    and image effects, then (from 73 bytes on) the binary-data id at offset 71, as real
    pictures hold them."""
    body = bytearray(struct.pack("<IiI", 0, 0, 0))  # border colour, width, properties
    body += struct.pack("<8i", 0, 0, 7200, 0, 7200, 7200, 0, 7200)  # rectangle corners
    body += struct.pack("<4i", 0, 0, 7200, 7200)  # crop
    body += struct.pack("<4h", 0, 0, 0, 0)  # inner margins
    body += struct.pack("<bb", 0, 0)  # brightness, contrast
    body += struct.pack("<B", 0)  # effect
    assert len(body) == 71
    body += struct.pack("<H", bin_data_id)
    body += bytes(max(0, size - len(body)))
    return bytes(body[:size])
