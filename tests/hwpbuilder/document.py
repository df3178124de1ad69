"""Whole HWP documents built from readable parts.

Record layout follows real documents: a body paragraph is PARA_HEADER at level 0 with
PARA_TEXT, PARA_CHAR_SHAPE and PARA_LINE_SEG at level 1, followed by the control headers of
the controls anchored in it at level 1, each with its subtree below. A paragraph inside a
control (table cell, caption, text box, footnote) sits one level below its list header's
parent in the same pattern.

Every part builder returns a `Part`: the record bytes at the requested level, which can be
rebuilt at another level with `.at(level)`. That is what lets `paragraph()` place its controls
at its own level + 1 and lets table cells, captions and text boxes take nested paragraphs and
controls built with default levels. Plain `bytes` are always placed verbatim, so damaged or
hand-made records keep the levels they were written with.
"""

from __future__ import annotations

import os
import struct
import zlib
from dataclasses import dataclass
from typing import Callable, Iterable, Mapping, Sequence, Union

from . import records as r
from .cfb import write_cfb

HWP_SIGNATURE = b"HWP Document File"
DEFAULT_VERSION = 0x05000300
PROP_COMPRESSED = 1 << 0
PROP_PASSWORD = 1 << 1

# Text items for para_text, possibly nested in tuples/lists (see field_text).
TextItem = Union[str, r.Token, Sequence["TextItem"]]


class Part(bytes):
    """Record bytes of a paragraph or control at `level`, rebuildable at another level."""

    level: int
    ctrl_id: int | None  # None for a paragraph
    _build: Callable[[int], bytes]

    def __new__(cls, build: Callable[[int], bytes], level: int, ctrl_id: int | None = None):
        obj = super().__new__(cls, build(level))
        obj._build, obj.level, obj.ctrl_id = build, level, ctrl_id
        return obj

    def at(self, level: int) -> "Part":
        return self if level == self.level else Part(self._build, level, self.ctrl_id)

    @property
    def is_paragraph(self) -> bool:
        return self.ctrl_id is None


# --- file header and compression -----------------------------------------------------------------

def file_header(*, compressed: bool = True, password: bool = False,
                signature: bytes = HWP_SIGNATURE, version: int = DEFAULT_VERSION,
                props: int | None = None, length: int = 256) -> bytes:
    """FileHeader stream: signature padded with NULs to 32 bytes, version u32 at 32, property
    word at 36 (bit 0 compressed, bit 1 password unless `props` gives it whole), zero-filled to
    `length` bytes (a shorter `length` cuts the header, for damage tests)."""
    if props is None:
        props = (PROP_COMPRESSED if compressed else 0) | (PROP_PASSWORD if password else 0)
    data = signature.ljust(32, b"\0")[:32] + struct.pack("<II", version, props)
    return data.ljust(length, b"\0")[:length]


def deflate_raw(data: bytes, level: int = 6) -> bytes:
    """Raw DEFLATE (no zlib header or trailer), as HWP stores compressed streams."""
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def inflate_raw(data: bytes) -> bytes:
    return zlib.decompressobj(-15).decompress(data)


def truncated_deflate(data: bytes, keep: int | float = 0.5, level: int = 6) -> bytes:
    """Raw DEFLATE of `data` cut short: the first `keep` bytes, or that fraction of the
    compressed size when `keep` is a float. Inflating it yields a prefix of `data` and no error
    from a decoder that treats missing input as the end."""
    packed = deflate_raw(data, level)
    n = int(len(packed) * keep) if isinstance(keep, float) else keep
    return packed[:n]


# First byte with BFINAL set and block type 3 (reserved): invalid from the first block.
CORRUPT_DEFLATE = bytes([0x07, 0x00, 0x00, 0x00])


def corrupt_deflate(prefix: bytes = b"") -> bytes:
    """Bytes that no DEFLATE decoder accepts: `prefix` (if any) stored in a non-final stored block,
    then a block of the reserved type 3."""
    if not prefix:
        return CORRUPT_DEFLATE
    if len(prefix) > 0xFFFF:
        raise ValueError("prefix too long for one stored block")
    stored = bytes([0x00]) + struct.pack("<HH", len(prefix), len(prefix) ^ 0xFFFF) + prefix
    return stored + CORRUPT_DEFLATE


# --- paragraphs ----------------------------------------------------------------------------------

# Code of the eight-unit anchor a paragraph holds for each kind of control.
ANCHOR_CODES = {
    r.TBL: 11, r.GSO: 11, r.EQED: 11,
    r.FN: 17, r.EN: 17,
    r.HEAD: 16, r.FOOT: 16,
    r.SECD: 2, r.COLD: 2,
}
EXTENDED_CODES = frozenset({1, 2, 3, 11, 12, 14, 15, 16, 17, 18, 21, 22, 23,
                            4, 5, 6, 7, 8, 9, 19, 20})


def _flatten(items: Iterable[TextItem]) -> list[str | r.Token]:
    out: list[str | r.Token] = []
    for item in items:
        if isinstance(item, (str, r.Token)):
            out.append(item)
        elif isinstance(item, (list, tuple)):
            out.extend(_flatten(item))
        else:
            raise TypeError(f"text item must be str, Token or a sequence of them, not {item!r}")
    return out


def field_text(content: str = "", ctrl_id: int = r.CLK) -> tuple[r.Token, str, r.Token]:
    """The characters of a field in a paragraph: field start, content, field end."""
    return (r.field_start(ctrl_id), content, r.field_end())


def first_ctrl_id(records: bytes) -> int | None:
    """Control id of the first record when it is a CTRL_HEADER, else None."""
    if len(records) < 4:
        return None
    word = int.from_bytes(records[:4], "little")
    if word & 0x3FF != r.CTRL_HEADER:
        return None
    start = 8 if word >> 20 == 0xFFF else 4
    payload = records[start:start + 4]
    return int.from_bytes(payload, "little") if len(payload) == 4 else 0


def _control_mask(payload: bytes) -> int:
    # PARA_HEADER's control mask has bit c set for every control code c in the text.
    mask, p = 0, 0
    while p + 2 <= len(payload):
        u = payload[p] | payload[p + 1] << 8
        if u < 32:
            mask |= 1 << u
            p += 16 if u in EXTENDED_CODES else 2
        else:
            p += 2
    return mask


def paragraph(*text_items: TextItem, controls: Iterable[bytes] = (), level: int = 0,
              anchors: bool = True, para_break: bool = True, payload: bytes | None = None,
              shape_id: int = 0, style_id: int = 0) -> Part:
    """PARA_HEADER at `level`, PARA_TEXT/PARA_CHAR_SHAPE/PARA_LINE_SEG at level+1, then the
    controls. `Part` controls are rebuilt at level+1; plain bytes go in verbatim.

    The text is the items, then (with `anchors`) an eight-unit anchor for each table, drawing
    object, equation, note or header control, then (with `para_break`) the paragraph break 13.
    A paragraph with nothing to say has no PARA_TEXT record, as in real documents. `payload`
    gives the PARA_TEXT bytes exactly (None: built from the items)."""
    items = [item for item in _flatten(text_items) if item != ""]
    controls = list(controls)

    def build(lvl: int) -> bytes:
        placed = [c.at(lvl + 1) if isinstance(c, Part) else bytes(c) for c in controls]
        if payload is not None:
            text = payload
        else:
            tokens = list(items)
            if anchors:
                for c in placed:
                    cid = first_ctrl_id(c)
                    if cid in ANCHOR_CODES:
                        tokens.append(r.ext(ANCHOR_CODES[cid], cid))
            if tokens and para_break:
                tokens.append(r.PARA_BREAK)
            text = r.para_text(*tokens)
        units = len(text) // 2 if text else 1
        out = [r.record(r.PARA_HEADER, lvl, r.para_header(units, controls_mask=_control_mask(text),
                                                          shape_id=shape_id, style_id=style_id))]
        if text:
            out.append(r.record(r.PARA_TEXT, lvl + 1, text))
        out.append(r.record(r.CHAR_SHAPE, lvl + 1, r.char_shape_run()))
        out.append(r.record(r.LINE_SEG, lvl + 1, r.line_seg()))
        out.extend(placed)
        return b"".join(out)

    return Part(build, level)


# Content of a table cell, caption, text box or note: str (a paragraph), a paragraph Part, a
# control Part (put in a paragraph of its own, or for a click-here field attached after the
# previous paragraph), or verbatim bytes; a single item may stand for a one-element list.
Content = Union[str, bytes, Sequence[Union[str, bytes]]]


def _content(content: Content | None, para_level: int) -> bytes:
    if content is None:
        return b""
    items = [content] if isinstance(content, (str, bytes)) else list(content)
    out: list[bytes] = []
    for item in items:
        if isinstance(item, str):
            out.append(paragraph(item, level=para_level))
        elif isinstance(item, Part) and item.is_paragraph:
            out.append(item.at(para_level))
        elif isinstance(item, Part) and item.ctrl_id == r.CLK:
            out.append(item.at(para_level + 1))
        elif isinstance(item, Part):
            out.append(paragraph(controls=[item], level=para_level))
        elif isinstance(item, (bytes, bytearray)):
            out.append(bytes(item))
        else:
            raise TypeError(f"unsupported content item {item!r}")
    return b"".join(out)


def _paragraph_count(content: Content | None) -> int:
    if content is None:
        return 0
    return 1 if isinstance(content, (str, bytes)) else max(1, len(content))


# --- controls ------------------------------------------------------------------------------------

def click_here(name: str, direction: str = "", modified: bool = False, level: int = 1, *,
               command: str | None = None, header: bytes | None = None) -> Part:
    """CTRL_HEADER(%clk) at `level` and CTRL_DATA holding the field name at level+1. The field's
    characters belong in the paragraph text: see `field_text`."""
    payload = header if header is not None else r.click_here_header(direction, modified, command)

    def build(lvl: int) -> bytes:
        return (r.record(r.CTRL_HEADER, lvl, payload)
                + r.record(r.CTRL_DATA, lvl + 1, r.ctrl_data_name(name)))

    return Part(build, level, r.CLK)


def _object_header(ctrl_id: int, description: str = "", **common) -> bytes:
    return r.ctrl_header(ctrl_id, r.object_common(**common)
                         + struct.pack("<H", r.utf16_units(description)) + r.utf16(description))


# Caption sides as the caption list's property word gives them (bits 0-1).
CAPTION_SIDES = {"LEFT": 0, "RIGHT": 1, "TOP": 2, "BOTTOM": 3}


def _caption(caption: Content | None, lvl: int, side: str = "BOTTOM") -> bytes:
    if caption is None:
        return b""
    # Caption list: paragraph count, list properties, caption side, width, gap, max width.
    head = struct.pack("<iIIIhI", _paragraph_count(caption), 0, CAPTION_SIDES[side], 8504, 850,
                       42520)
    return r.record(r.LIST_HEADER, lvl + 1, head) + _content(caption, lvl + 1)


@dataclass(frozen=True)
class CellAt:
    """A table cell with the address, spans and header mark its list header (or hp:tc) gives,
    for tables whose cells do not simply follow each other row by row. Both builders take it."""

    content: object
    row: int
    col: int
    row_span: int = 1
    col_span: int = 1
    header: bool = False


def cell(content, row: int, col: int, row_span: int = 1, col_span: int = 1,
         header: bool = False) -> CellAt:
    return CellAt(content, row, col, row_span, col_span, header)


Cell = Union[str, bytes, CellAt, Sequence[Union[str, bytes]]]


def table(rows: Sequence[Sequence[Cell]], level: int = 1, *, caption: Content | None = None,
          caption_side: str = "BOTTOM", cells_per_row: Sequence[int] | None = None,
          cols: int | None = None, row_count: int | None = None,
          table_payload: bytes | None = None) -> Part:
    """CTRL_HEADER('tbl ') at `level`, an optional caption (its side "TOP", "BOTTOM", "LEFT" or
    "RIGHT"), the TABLE record at level+1, then per cell a LIST_HEADER at level+1 with the
    cell's paragraphs (PARA_HEADER at level+1). A cell is a str, a paragraph or control Part (a
    nested `table(...)` among them), bytes, a list of those, or a `CellAt` giving its own
    address, spans and header mark (a plain cell's address is its place in `rows`).
    `cells_per_row`, `cols`, `row_count` and `table_payload` override what the TABLE record
    declares."""
    counts = list(cells_per_row) if cells_per_row is not None else [len(row) for row in rows]
    ncols = cols if cols is not None else max((len(row) for row in rows), default=0)
    nrows = row_count if row_count is not None else len(rows)

    def build(lvl: int) -> bytes:
        out = [r.record(r.CTRL_HEADER, lvl, _object_header(r.TBL, width=14173 * max(ncols, 1),
                                                           height=1000 * max(nrows, 1))),
               _caption(caption, lvl, caption_side)]
        body = table_payload if table_payload is not None else r.table_record(nrows, counts, ncols)
        out.append(r.record(r.TABLE, lvl + 1, body))
        for row_index, row in enumerate(rows):
            for col_index, item in enumerate(row):
                at = item if isinstance(item, CellAt) else CellAt(item, row_index, col_index)
                out.append(r.record(r.LIST_HEADER, lvl + 1,
                                    r.list_header(_paragraph_count(at.content) or 1, col=at.col,
                                                  row=at.row, col_span=at.col_span,
                                                  row_span=at.row_span, header=at.header)))
                # A cell always holds at least one paragraph, even an empty one.
                out.append(_content(at.content, lvl + 1) or paragraph(level=lvl + 1))
        return b"".join(out)

    return Part(build, level, r.TBL)


def equation(script: str, level: int = 1, *, caption: Content | None = None,
             payload: bytes | None = None) -> Part:
    """CTRL_HEADER('eqed') at `level`, an optional caption, EQEDIT at level+1 (`payload` gives
    its bytes exactly)."""
    body = payload if payload is not None else r.eqedit(script)

    def build(lvl: int) -> bytes:
        return (r.record(r.CTRL_HEADER, lvl, _object_header(r.EQED, "수식입니다."))
                + _caption(caption, lvl) + r.record(r.EQEDIT, lvl + 1, body))

    return Part(build, level, r.EQED)


PIC = r.ctrl_id("$pic")
REC = r.ctrl_id("$rec")
SHAPE_COMPONENT_RECTANGLE = 80


def picture(caption: Content | None = None, level: int = 1, *, picture_size: int = 80,
            bin_data_id: int = 1) -> Part:
    """CTRL_HEADER('gso ') at `level`, caption paragraphs (LIST_HEADER and paragraphs at level+1)
    when given, SHAPE_COMPONENT at level+1, SHAPE_COMPONENT_PICTURE of `picture_size` bytes at
    level+2 (from 73 bytes on it holds the binary-data id)."""

    def build(lvl: int) -> bytes:
        return (r.record(r.CTRL_HEADER, lvl, _object_header(r.GSO, "그림입니다."))
                + _caption(caption, lvl)
                + r.record(r.SHAPE_COMPONENT, lvl + 1, r.shape_component(PIC))
                + r.record(r.SHAPE_COMPONENT_PICTURE, lvl + 2,
                           r.picture_record(picture_size, bin_data_id=bin_data_id)))

    return Part(build, level, r.GSO)


def text_box(paragraphs: Content, caption: Content | None = None, level: int = 1) -> Part:
    """CTRL_HEADER('gso ') at `level`, an optional caption, SHAPE_COMPONENT at level+1, the box's
    LIST_HEADER and paragraphs at level+2, then the rectangle record at level+2."""

    def build(lvl: int) -> bytes:
        box_list = struct.pack("<iI4hI", _paragraph_count(paragraphs), 0x20, 283, 283, 283, 283,
                               4000) + bytes(13)
        return (r.record(r.CTRL_HEADER, lvl, _object_header(r.GSO, "사각형입니다."))
                + _caption(caption, lvl)
                + r.record(r.SHAPE_COMPONENT, lvl + 1, r.shape_component(REC))
                + r.record(r.LIST_HEADER, lvl + 2, box_list)
                + _content(paragraphs, lvl + 2)
                + r.record(SHAPE_COMPONENT_RECTANGLE, lvl + 2, bytes(1) + struct.pack(
                    "<8i", 0, 0, 4000, 0, 4000, 3000, 0, 3000)))

    return Part(build, level, r.GSO)


CONTAINER = r.ctrl_id("$con")


def group(*shapes, level: int = 1) -> Part:
    """A group object: CTRL_HEADER('gso ') at `level`, the container's SHAPE_COMPONENT at level+1
    and, below it, each shape: a text box's content (its LIST_HEADER and paragraphs under a
    rectangle's SHAPE_COMPONENT) or, for a tuple, a nested group of shapes."""

    def shapes_at(items, lvl: int) -> bytes:
        out = b""
        for item in items:
            if isinstance(item, tuple):
                out += r.record(r.SHAPE_COMPONENT, lvl, r.shape_component(CONTAINER))
                out += shapes_at(item, lvl + 1)
            else:
                out += (r.record(r.SHAPE_COMPONENT, lvl, r.shape_component(REC))
                        + r.record(r.LIST_HEADER, lvl + 1,
                                   struct.pack("<iI", _paragraph_count(item), 0))
                        + _content(item, lvl + 1))
        return out

    def build(lvl: int) -> bytes:
        return (r.record(r.CTRL_HEADER, lvl, _object_header(r.GSO, "묶음 개체입니다."))
                + r.record(r.SHAPE_COMPONENT, lvl + 1, r.shape_component(CONTAINER))
                + shapes_at(shapes, lvl + 2))

    return Part(build, level, r.GSO)


def control(ctrl_id: int, children: Content | None = None, level: int = 1, *,
            extra: bytes = b"", list_header: bool = True) -> Part:
    """A generic control: CTRL_HEADER(ctrl_id, extra) at `level`; when `children` are given, a
    LIST_HEADER at level+1 (unless `list_header` is false) and the children as content with
    paragraphs at level+1."""

    def build(lvl: int) -> bytes:
        out = r.record(r.CTRL_HEADER, lvl, r.ctrl_header(ctrl_id, extra))
        if children is not None:
            if list_header:
                out += r.record(r.LIST_HEADER, lvl + 1,
                                struct.pack("<iI", _paragraph_count(children), 0))
            out += _content(children, lvl + 1)
        return out

    return Part(build, level, ctrl_id)


def footnote(paragraphs: Content, level: int = 1, *, number: int = 1,
             endnote: bool = False) -> Part:
    """A footnote ('fn  ') or endnote ('en  ') control with its paragraphs."""
    return control(r.EN if endnote else r.FN, paragraphs, level,
                   extra=struct.pack("<IHHI", number, 0, 0x29, 0))


def page_header(paragraphs: Content, level: int = 1, *, footer: bool = False) -> Part:
    """A page header ('head') or footer ('foot') control with its paragraphs."""
    return control(r.FOOT if footer else r.HEAD, paragraphs, level, extra=struct.pack("<I", 0))


def hyperlink_text(content: str) -> tuple:
    """Paragraph characters of a hyperlink field (its CTRL_HEADER is `hyperlink(url)`)."""
    return field_text(content, r.HLK)


def hyperlink(url: str = "https://example.com/", level: int = 1) -> Part:
    command = url.replace(":", "\\:") + ";1;0;0;"
    extra = (struct.pack("<IBH", 0, 8, r.utf16_units(command)) + r.utf16(command)
             + struct.pack("<II", 0x2B3C4D5E, 0))
    return control(r.HLK, None, level, extra=extra)


def section(*parts: str | bytes) -> bytes:
    """A section's record bytes: the parts in order, verbatim; a str is a body paragraph."""
    return b"".join(paragraph(p) if isinstance(p, str) else bytes(p) for p in parts)


def bulk_section(target_size: int, unit: bytes | None = None) -> bytes:
    """A section of about `target_size` bytes (at least one unit), made by repeating `unit`
    (default: a paragraph, a small table and another paragraph)."""
    if unit is None:
        unit = section(paragraph("대량 문서의 문단입니다. Bulk paragraph text for benchmarks."),
                       paragraph("표 앞", controls=[table([["a", "b"], ["c", "d"]])]),
                       paragraph("마지막 문단"))
    return unit * max(1, -(-target_size // len(unit)))


# --- documents -----------------------------------------------------------------------------------

# Number kinds in the order of their codes (HWPX writes the names).
NUMBER_KINDS = ("DIGIT", "CIRCLED_DIGIT", "ROMAN_CAPITAL", "ROMAN_SMALL", "LATIN_CAPITAL",
                "LATIN_SMALL", "CIRCLED_LATIN_CAPITAL", "CIRCLED_LATIN_SMALL", "HANGUL_SYLLABLE",
                "CIRCLED_HANGUL_SYLLABLE", "HANGUL_JAMO", "CIRCLED_HANGUL_JAMO", "HANGUL_PHONETIC",
                "IDEOGRAPH", "CIRCLED_IDEOGRAPH", "DECAGON_CIRCLE", "DECAGON_CIRCLE_HANJA")
HEAD_KINDS = ("NONE", "OUTLINE", "NUMBER", "BULLET")


@dataclass(frozen=True)
class Definitions:
    """What paragraphs refer to, written by both builders (DocInfo records, header.xml).

    `numberings`: per numbering (id 1, 2, ...) its levels from the first, each (format, kind
    name, start), e.g. ("^1.", "DIGIT", 1); `bullets`: one character each (id 1, 2, ...);
    `para_shapes`: (head kind name, 0-based level, numbering or bullet id) per id 0, 1, ...;
    `styles`: (name, paragraph shape id) per id 0, 1, ..."""
    numberings: Sequence[Sequence[tuple[str, str, int]]] = ()
    bullets: Sequence[str] = ()
    para_shapes: Sequence[tuple[str, int, int]] = (("NONE", 0, 0),)
    styles: Sequence[tuple[str, int]] = (("바탕글", 0),)


def _counted(text: str) -> bytes:
    return struct.pack("<H", r.utf16_units(text)) + r.utf16(text)


def definition_records(definitions: Definitions) -> bytes:
    """The DocInfo records of `definitions`: numberings, bullets, paragraph shapes, styles."""
    out = b""
    for levels in definitions.numberings:
        padded = list(levels) + [("", "DIGIT", 1)] * (10 - len(levels))
        heads = [struct.pack("<I8x", NUMBER_KINDS.index(kind) << 5) + _counted(fmt)
                 for fmt, kind, _ in padded]
        starts = [struct.pack("<I", start) for _, _, start in padded]
        out += r.record(23, 0, b"".join(heads[:7]) + struct.pack("<H", 1) + b"".join(starts[:7])
                        + b"".join(heads[7:]) + b"".join(starts[7:]))
    for character in definitions.bullets:
        out += r.record(24, 0, bytes(12) + r.utf16(character))
    for head, level, head_id in definitions.para_shapes:
        properties = HEAD_KINDS.index(head) << 23 | min(level, 6) << 25
        out += r.record(25, 0, struct.pack("<I26xH22xI", properties, head_id, level))
    for name, shape in definitions.styles:
        out += r.record(26, 0, _counted(name) + _counted("") + struct.pack("<BBHH", 0, 0, 0, shape))
    return out


def doc_info(section_count: int = 1, definitions: Definitions | None = None,
             bin_items: Sequence[bytes] = ()) -> bytes:
    """A small DocInfo record stream: document properties, empty id mappings, a BIN_DATA
    record per payload of `bin_items` (records.bin_data) and the records of `definitions`."""
    properties = struct.pack("<H6HIII", section_count, 1, 1, 1, 1, 1, 1, 0, 0, 0)
    return (r.record(16, 0, properties)  # HWPTAG_DOCUMENT_PROPERTIES
            + r.record(17, 0, bytes(72))  # HWPTAG_ID_MAPPINGS
            + b"".join(r.record(18, 0, item) for item in bin_items)
            + (definition_records(definitions) if definitions else b""))


def section_definition(outline_numbering: int, level: int = 1) -> Part:
    """A section definition ('secd') whose outline paragraphs number by `outline_numbering`."""
    return control(r.SECD, level=level, extra=bytes(14) + struct.pack("<H", outline_numbering))


def hwp_streams(sections: Sequence[bytes], *, compressed: bool = True,
                header: bytes | None = None, extra_streams: Mapping[str, bytes] | None = None,
                omit: Iterable[str] = (), section_names: Sequence[str] | None = None,
                level: int = 6, definitions: Definitions | None = None,
                bin_items: Sequence[bytes] = ()) -> dict[str, bytes]:
    """The streams of an HWP document (see `hwp_document`)."""
    def pack(data: bytes) -> bytes:
        return deflate_raw(data, level) if compressed else data

    if section_names is None:
        section_names = [f"Section{i}" for i in range(len(sections))]
    if len(section_names) != len(sections):
        raise ValueError("section_names must name every section")
    streams = {
        "FileHeader": header if header is not None else file_header(compressed=compressed),
        "DocInfo": pack(doc_info(len(sections), definitions, bin_items)),
    }
    for name, data in zip(section_names, sections):
        streams[name if "/" in name else f"BodyText/{name}"] = pack(bytes(data))
    streams.update(extra_streams or {})
    for name in omit:
        streams.pop(name, None)
    return streams


def hwp_document(sections: Sequence[bytes], *, compressed: bool = True,
                 header: bytes | None = None, extra_streams: Mapping[str, bytes] | None = None,
                 omit: Iterable[str] = (), section_names: Sequence[str] | None = None,
                 definitions: Definitions | None = None, bin_items: Sequence[bytes] = (),
                 **cfb_options) -> bytes:
    """A complete HWP container: FileHeader (`header` replaces it), DocInfo and
    BodyText/Section0.. (raw DEFLATE when `compressed`, stored as given otherwise).
    `section_names` names the sections' streams ("Section3" or a full path, for gaps);
    `extra_streams` adds or replaces streams (stored exactly as given, BinData/BIN0001.png
    too); `omit` leaves streams out by path; `definitions` go into DocInfo and `bin_items` are
    its BIN_DATA payloads; other keywords go to `write_cfb` (damage options)."""
    return write_cfb(hwp_streams(sections, compressed=compressed, header=header,
                                 extra_streams=extra_streams, omit=omit,
                                 section_names=section_names, definitions=definitions,
                                 bin_items=bin_items),
                     **cfb_options)


def write_document(path: str | os.PathLike, sections: Sequence[bytes], **options) -> str:
    """Write `hwp_document(sections, **options)` to `path` and return the path as str."""
    data = hwp_document(sections, **options)
    with open(path, "wb") as out:
        out.write(data)
    return os.fspath(path)
