"""Documents written by the fixture builder for the scaling and hostile-input measurements."""

from __future__ import annotations

import struct
import sys
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from hwpbuilder import (  # noqa: E402
    bulk_section,
    click_here,
    equation,
    field_text,
    hwp_document,
    paragraph,
    picture,
    section,
    table,
)
from hwpbuilder import records as r  # noqa: E402

MIB = 1 << 20

# Inflated section sizes of the scaling documents.
SCALING_SIZES = {"10 KB": 10 * 1024, "1 MB": MIB, "10 MB": 10 * MIB, "100 MB": 100 * MIB}


def scaling_unit() -> bytes:
    """About 3 KB of records repeated to make a scaling document: a paragraph with a click-here
    field, a table with a nested table in a cell, an equation, a captioned picture and plain
    paragraphs, in Korean and English."""
    return section(
        paragraph("본문 문단 ", field_text("홍길동"), " 님께. Body text with a field.",
                  controls=[click_here("성명", "이름을 입력하세요")]),
        paragraph("표 앞", controls=[table([
            ["머리 1", "머리 2", "머리 3"],
            ["값 | 1", ["둘째 칸", table([["안쪽", "표"], ["x", "y"]])], "셋"],
        ])]),
        paragraph(controls=[equation("x = {-b +- sqrt {b^2 - 4ac}} over {2a}")]),
        paragraph(controls=[picture(["그림 설명"])]),
        paragraph("마지막 문단입니다. The last paragraph of the unit."),
    )


def scaling_document(inflated_size: int) -> tuple[bytes, int]:
    """A compressed document whose one section inflates to about `inflated_size` bytes;
    returns the file bytes and the exact inflated size."""
    body = bulk_section(inflated_size, scaling_unit())
    return hwp_document([body]), len(body)


def zero_bomb(inflated_size: int) -> bytes:
    """Raw DEFLATE of `inflated_size` zero bytes, compressed a mebibyte at a time."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = bytes(MIB)
    parts = [packer.compress(chunk) for _ in range(inflated_size // MIB)]
    parts.append(packer.compress(bytes(inflated_size % MIB)))
    parts.append(packer.flush())
    return b"".join(parts)


def bomb_document(bomb_section: int, inflated_size: int = 300 * MIB) -> bytes:
    """Section 0 a valid paragraph ("section zero text") unless it is the bomb; the bomb
    section inflates to `inflated_size` zero bytes."""
    bomb = zero_bomb(inflated_size)
    sections = [section("section zero text")] if bomb_section > 0 else []
    return hwp_document(sections, extra_streams={f"BodyText/Section{bomb_section}": bomb})


def distinct_records_document(inflated_size: int) -> bytes:
    """Section 0 of empty records (4 bytes each) whose (tag, level) runs through all 1,048,576
    pairs in turn and over again, to `inflated_size` bytes: no two neighbouring records alike,
    so that no small table of recent ones can share their tuples."""
    cycle = b"".join(r.record(tag, level) for level in range(1024) for tag in range(1024))
    body = (cycle * (inflated_size // len(cycle) + 1))[: inflated_size // 4 * 4]
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return hwp_document([], extra_streams={"BodyText/Section0": packer.compress(body)
                                           + packer.flush()})


def huge_table_document() -> bytes:
    """A paragraph, then a table control whose 20-byte TABLE record declares 65,535 rows of
    65,535 columns, the first row with 65,535 cells, and no cell records at all."""
    bomb = (r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.TBL))
            + r.record(r.TABLE, 2, struct.pack("<IHH10sH", 0, 65535, 65535, bytes(10), 65535)))
    return hwp_document([section("before the table", bomb)])


def fake_marker_document(copies: int, guide_units: int) -> bytes:
    """One paragraph holding one real click-here field (index 0) whose guide text is
    `guide_units` characters long, and `copies` copies of the document's own text U+E000 "0"
    U+E000, which looks exactly like that field's marker."""
    fake = "\ue0000\ue000" * copies
    guide = ("안내" * guide_units)[:guide_units]
    return hwp_document([section(paragraph(
        fake, field_text("shown"), controls=[click_here("name", guide)]))])


def chained_marker_document(fields: int) -> bytes:
    """One paragraph with `fields` closed fields and the text U+E000 0 U+E000 1 U+E000 ...
    U+E000: every fake marker shares its marks with its neighbours, so the markers cannot be
    replaced in one left-to-right pass."""
    chain = "\ue000" + "\ue000".join(str(i) for i in range(fields)) + "\ue000"
    items = [chain] + [field_text(f"f{i}") for i in range(fields)]
    return hwp_document([section(paragraph(*items))])


# --- HWPX -------------------------------------------------------------------------------------


def hwpx_scaling_unit() -> bytes:
    """About 9 KB of section XML repeated to make an HWPX scaling document: the constructs of
    scaling_unit() as the HWPX fixture writer writes them."""
    from hwpbuilder import hwpx as hx

    paragraphs = [
        hx.paragraph(
            "본문 문단 ",
            hx.click_here("성명", "이름을 입력하세요", "홍길동"),
            " 님께. Body text with a field.",
        ),
        hx.paragraph(
            "표 앞",
            hx.table(
                [
                    ["머리 1", "머리 2", "머리 3"],
                    ["값 | 1", ["둘째 칸", hx.table([["안쪽", "표"], ["x", "y"]])], "셋"],
                ]
            ),
        ),
        hx.paragraph(hx.equation("x = {-b +- sqrt {b^2 - 4ac}} over {2a}")),
        hx.paragraph(hx.picture(caption="그림 설명")),
        hx.paragraph("마지막 문단입니다. The last paragraph of the unit."),
    ]
    out: list[str] = []
    for p in paragraphs:
        p.write(hx.Names(), out)
    return "".join(out).encode("utf-8")


def hwpx_scaling_document(inflated_size: int) -> tuple[bytes, int]:
    """An HWPX document whose one section part inflates to about `inflated_size` bytes of XML;
    returns the package bytes and the exact inflated size."""
    from hwpbuilder import hwpx as hx

    opening, closing = hx.xml_part(hx.section(hx.paragraph("\0"))).split(b"\0")
    unit = hwpx_scaling_unit()
    count = max(1, (inflated_size - len(opening) - len(closing)) // len(unit))
    # The first paragraph (holding the section definition) stays open around "\0": close it
    # before the repeated units.
    head, tail = opening, closing
    close_first = b"</hp:t></hp:run></hp:p>"
    if not tail.startswith(close_first):
        raise AssertionError("unexpected section layout")
    part = head + close_first + unit * count + tail[len(close_first):]
    package = hx.hwpx_package([hx.section("자리")])
    package.replace("Contents/section0.xml", data=part)
    return package.to_bytes(), len(part)


# Inflated section-part sizes of the HWPX scaling documents.
HWPX_SCALING_SIZES = {"1 MB": MIB, "10 MB": 10 * MIB, "100 MB": 100 * MIB}
