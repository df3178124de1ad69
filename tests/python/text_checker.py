"""An independent count of the letters and digits a document holds, to check that a conversion
keeps them: read straight from the file (binary paragraph text, or every hp:t of the HWPX
sections), with no call into paravox, leaving out memos and hidden comments, and counting
headers and footers only when asked."""

from __future__ import annotations

import re
import struct
import zipfile
import xml.etree.ElementTree as ET
from collections import Counter
from io import BytesIO

from table_checker import CTRL_HEADER, PARA_TEXT, WIDE_CONTROLS, ctrl_id, hwp_sections, local

HEAD, FOOT, TCMT, SECD = (int.from_bytes(n, "big") for n in (b"head", b"foot", b"tcmt", b"secd"))


def letters(text: str) -> Counter:
    return Counter(c for c in text if c.isalnum())


def plain_text(payload: bytes) -> str:
    """A PARA_TEXT payload's characters, every control left out."""
    units = struct.unpack_from(f"<{len(payload) // 2}H", payload)
    kept, i = [], 0
    while i < len(units):
        if units[i] >= 32:
            kept.append(units[i])
        i += 8 if units[i] in WIDE_CONTROLS else 1
    return struct.pack(f"<{len(kept)}H", *kept).decode("utf-16-le", "ignore")


def hwp_letters(data: bytes, furniture: bool) -> Counter:
    """Letters and digits of every paragraph of the body sections, at any depth, outside hidden
    comments and the section definition (which holds the master pages); with `furniture`, those
    of each distinct header and footer once."""
    counted: Counter = Counter()
    distinct: set[str] = set()
    for records in hwp_sections(data):
        below = None  # (level, id) of the control whose subtree is set apart
        pieces: list[str] = []
        for tag, level, payload in records:
            if below is not None and level <= below[0]:
                if below[1] in (HEAD, FOOT):
                    distinct.add("\n".join(pieces))
                below, pieces = None, []
            if below is None and tag == CTRL_HEADER and ctrl_id(payload) in (HEAD, FOOT, TCMT, SECD):
                below = (level, ctrl_id(payload))
            elif tag == PARA_TEXT:
                if below is None:
                    counted += letters(plain_text(payload))
                elif below[1] in (HEAD, FOOT):
                    pieces.append(plain_text(payload))
        if below is not None and below[1] in (HEAD, FOOT):
            distinct.add("\n".join(pieces))
    if furniture:
        for text in distinct:
            counted += letters(text)
    return counted


def hwpx_letters(data: bytes, furniture: bool) -> Counter:
    """Letters and digits of every hp:t of the section parts outside memos and hidden comments;
    with `furniture`, those of each distinct header and footer once."""
    archive = zipfile.ZipFile(BytesIO(data))
    names = [n for n in archive.namelist() if re.fullmatch(r"Contents[/\\]section\d+\.xml", n)]
    counted: Counter = Counter()
    distinct: set[str] = set()

    def texts(element: ET.Element):
        for item in element:
            name = local(item.tag)
            if name == "hiddenComment" or (name == "fieldBegin" and item.get("type") == "MEMO"):
                continue
            if name in ("header", "footer"):
                distinct.add("\n".join(texts(item)))
            elif name == "t":
                yield "".join(item.itertext())
            else:
                yield from texts(item)

    for name in names:
        for text in texts(ET.fromstring(archive.read(name))):
            counted += letters(text)
    if furniture:
        for text in distinct:
            counted += letters(text)
    return counted


def kept(expected: Counter, markdown: str) -> int:
    """How many of the `expected` letters and digits the Markdown holds."""
    shown = letters(markdown)
    return sum(min(count, shown[c]) for c, count in expected.items())
