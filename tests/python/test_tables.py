"""Tables in the full profile, drawn as the document draws them: each case is one small
document written in both formats by the builders, and both must give the Markdown written by
hand here."""

from __future__ import annotations

from dataclasses import dataclass, field

import pytest

import hwpbuilder as hb
from hwpbuilder import hwpx as hx

paravox = pytest.importorskip("paravox")


@dataclass(frozen=True)
class Eq:
    script: str


PICTURE = "picture"


@dataclass(frozen=True)
class T:
    """A table in neither format: its cells row by row as the file lists them (a str, a list
    of paragraphs, a nested T, an Eq, PICTURE, or hb.cell(...) with its own address)."""

    rows: list
    caption: str | None = None
    side: str = "BOTTOM"
    row_count: int | None = None
    cols: int | None = None
    options: dict = field(default_factory=dict)


def content(item, builder):
    """`item` written by `builder` (hb for binary, hx for HWPX)."""
    if isinstance(item, list):
        return [content(i, builder) for i in item]
    if isinstance(item, hb.CellAt):
        return hb.cell(content(item.content, builder), item.row, item.col, item.row_span,
                       item.col_span, item.header)
    if isinstance(item, T):
        # Per-row cell counts exist in the binary format only.
        options = item.options if builder is hb else {}
        return builder.table([[content(c, builder) for c in row] for row in item.rows],
                             caption=item.caption, caption_side=item.side,
                             row_count=item.row_count, cols=item.cols, **options)
    if isinstance(item, Eq):
        return builder.equation(item.script)
    return builder.picture() if item == PICTURE else item


def both_formats(table: T) -> dict[str, bytes]:
    return {
        "hwp": hb.hwp_document([hb.section(hb.paragraph(controls=[content(table, hb)]))]),
        "hwpx": hx.hwpx_document([hx.section(hx.paragraph(content(table, hx)))]),
    }


def full(data: bytes) -> str:
    return paravox.convert_bytes(data, profile="full")


C = hb.cell
GRID_2X2 = [["a", "b"], ["c", "d"]]

# (name, table, Markdown)
CASES = [
    (
        "spans across rows and columns, a header cell, HTML escaping",
        T([[C("A&<B>", 0, 0, row_span=2, header=True), C("b", 0, 1, col_span=2)],
           [C("c", 1, 1), C("d", 1, 2)],
           [C("e", 2, 0), C("f", 2, 1, col_span=2)]], cols=3),
        '<table><tr><th rowspan="2">A&amp;&lt;B&gt;</th><td colspan="2">b</td></tr>'
        "<tr><td>c</td><td>d</td></tr><tr><td>e</td><td colspan=\"2\">f</td></tr></table>",
    ),
    (
        "cells listed out of row-major order stand at their addresses",
        T([[C("d", 1, 1), C("a", 0, 0)], [C("c", 1, 0), C("b", 0, 1)]]),
        "|a|b|\n|---|---|\n|c|d|",
    ),
    (
        "a nested table in a merged cell",
        T([[C(["x", T(GRID_2X2)], 0, 0, col_span=2)], [C("y", 1, 0), C("z", 1, 1)]]),
        '<table><tr><td colspan="2">x<table><tr><td>a</td><td>b</td></tr><tr><td>c</td>'
        "<td>d</td></tr></table></td></tr><tr><td>y</td><td>z</td></tr></table>",
    ),
    (
        "empty layout rows and columns are left out",
        T([["", "", "", ""], ["", "a", "b", ""], ["", "c", "d", ""], ["", "", "", ""]]),
        "|a|b|\n|---|---|\n|c|d|",
    ),
    (
        "a span shrinks by the left-out column it crosses and keeps the rows its text crosses",
        T([[C("A", 0, 0, row_span=3), C("B", 0, 1), C("", 0, 2, col_span=2)],
           [C("", 1, 1, col_span=3)],
           [C("C", 2, 1), C("", 2, 2, col_span=2)]], cols=4),
        '<table><tr><td rowspan="3">A</td><td>B</td></tr><tr><td></td></tr>'
        "<tr><td>C</td></tr></table>",
    ),
    (
        "an empty cell whose first row is left out starts in the next",
        T([[C("", 0, 0), C("", 0, 1, row_span=2), C("", 0, 2)],
           [C("a", 1, 0), C("b", 1, 2)],
           [C("c", 2, 0), C("d", 2, 1), C("e", 2, 2)]]),
        "|a||b|\n|---|---|---|\n|c|d|e|",
    ),
    (
        "a frame: one cell left gives its content as blocks",
        T([["", "", ""], ["", ["첫째", Eq("x^2"), "", "둘째"], ""], ["", "", ""]]),
        "첫째\n\n$$\nx^2\n$$\n\n둘째",
    ),
    (
        "paragraphs, equations, pictures and bars inside pipe cells",
        T([["a|b", ["p1", "p2"]], [Eq("x^2"), PICTURE]]),
        "|a\\|b|p1<br>p2|\n|---|---|\n|$x^2$|[이미지]|",
    ),
    ("a table without text is left out, its caption kept",
     T([["", ""]], caption="표 1"), "표 1"),
    ("a caption above", T([["a", "b"]], caption="표 1", side="TOP"), "표 1\n\n|a|b|\n|---|---|"),
    ("a caption on the left stands above",
     T([["a", "b"]], caption="표 1", side="LEFT"), "표 1\n\n|a|b|\n|---|---|"),
    ("a caption below", T([["a", "b"]], caption="표 1"), "|a|b|\n|---|---|\n\n표 1"),
    # Damaged geometry: the cells stand in record order, and no text is lost.
    (
        "damaged: an address outside the declared size",
        T([[C("a", 0, 0), C("b", 0, 5)], [C("c", 1, 0), C("d", 1, 1)]]),
        "|a|b|\n|---|---|\n|c|d|",
    ),
    (
        "damaged: overlapping spans",
        T([[C("a", 0, 0, col_span=2), C("b", 0, 1)], [C("c", 1, 0), C("d", 1, 1)]]),
        "|a|b|\n|---|---|\n|c|d|",
    ),
    (
        "damaged: a hole",
        T([[C("a", 0, 0), C("b", 0, 1)], [C("c", 1, 0)]], cols=2),
        "|a|b|\n|---|---|\n|c||",
    ),
    (
        "damaged: more cells than the declared rows hold",
        T([["a", "b"], ["c", "d"], ["e"]], row_count=2, options=dict(cells_per_row=[2, 2])),
        "|a|b|\n|---|---|\n|c|d|\n|e||",
    ),
    (
        "damaged geometry in a nested table keeps it in its cell",
        T([["x", [T([[C("p", 0, 0, col_span=2), C("q", 0, 1)]])]]]),
        "<table><tr><td>x</td><td><table><tr><td>p</td><td>q</td></tr></table></td></tr></table>",
    ),
]


class TestGeometry:
    @pytest.mark.parametrize("table, expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
    def test_both_formats_draw_the_table(self, table, expected):
        assert {name: full(data) for name, data in both_formats(table).items()} == {
            "hwp": expected,
            "hwpx": expected,
        }
