"""HWPX documents built by the fixture writer: what the shared twins do not show (fields with
name, guide and value, nested tables, captions, several sections, a broken section), each
expected to convert as its binary twin would."""

from __future__ import annotations

import zlib

import pytest

from hwpbuilder import hwpx as hx

native = pytest.importorskip("paravox._native")
MINIMAL = pytest.importorskip("paravox._convert").Options(profile="minimal")


def convert(data: bytes) -> str:
    markdown, fmt, warnings = native.convert_buffer(data, MINIMAL)
    assert (fmt, warnings) == ("hwpx", ())
    return markdown


def body(*paragraphs) -> list[hx.El]:
    """One section whose first paragraph (the one holding the section definition) is plain."""
    return [hx.section("머리", *paragraphs)]


FIELD = dict(name="이름", guide="이름을 입력", value="홍길동")

# The reader's C++ tests cover the walk's rules on hand-written XML; these cases are written in
# the shapes the word processor writes (cell addresses and sizes, captions before the rows,
# Command strings with their counts, the section definition opening the first paragraph).
CASES = [
    (
        "a field with name, guide and value",
        body(hx.paragraph("이름: ", hx.click_here(**FIELD), " 끝")),
        "머리\n\n이름: {{이름: 이름을 입력 --> 홍길동}} 끝",
    ),
    (
        # The section and column definitions come first in that paragraph and end it before
        # its fields are described, as in the binary form.
        "fields in the paragraph holding the section definition show their value alone",
        [hx.section(hx.paragraph("가", hx.click_here(**FIELD), "나"))],
        "가홍길동나",
    ),
    (
        "a captioned table with a nested table after its paragraph's text",
        body(
            hx.table(
                [
                    [
                        "a",
                        hx.paragraph("앞", hx.table([["b", ""], ["c", "d|e"]]), "뒤"),
                    ],
                    ["f", ["g", "", "h"]],
                ],
                caption="표 1",
            )
        ),
        "머리\n\n|a|앞뒤 b c d\\|e|\n|---|---|\n|f|g h|",
    ),
    (
        "captions: joined for pictures, left out for equations and filled text boxes",
        body(
            hx.picture(caption=["둘", "줄"]),
            hx.picture(),
            hx.equation("x over y", caption="식 1"),
            hx.text_box(["상자", "  ", "둘째"], caption="캡션"),
        ),
        "머리\n\n[이미지: 둘 줄]\n\n[이미지]\n\n$$\nx over y\n$$\n\n상자\n둘째",
    ),
    (
        "several sections, in spine order",
        [hx.section("하나"), hx.section("둘", hx.equation("a")), hx.section("셋")],
        "하나\n\n둘\n\n$$\na\n$$\n\n셋",
    ),
]


def package(sections, **kwargs) -> hx.Package:
    return hx.hwpx_package(sections, **kwargs)


class TestBuiltDocuments:
    @pytest.mark.parametrize(
        "sections, expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES]
    )
    def test_converts_as_its_binary_twin(self, sections, expected):
        assert convert(hx.hwpx_document(sections)) == expected

    @pytest.mark.parametrize(
        "how",
        [
            dict(
                names=hx.Names(
                    year=2016, prefixes=(("hp", "p"), ("hs", ""), ("hc", "c"))
                )
            ),
            dict(compress=False),
            dict(mimetype_compressed=True),
        ],
        ids=[
            "other prefixes and namespace year",
            "stored parts",
            "compressed mimetype",
        ],
    )
    def test_writing_choices_do_not_change_the_text(self, how):
        name, sections, expected = CASES[0]
        assert convert(hx.hwpx_document(sections, **how)) == expected

    def test_the_spine_orders_the_sections(self):
        sections = [hx.section("하나"), hx.section("둘"), hx.section("셋")]
        data = hx.hwpx_document(sections, spine=["header", "section2", "section0"])
        assert convert(data) == "셋\n\n하나"


THREE = [hx.section("하나"), hx.section("둘"), hx.section("셋"), hx.section("넷")]
THIRD = "Contents/section2.xml"
WELL_FORMED = hx.xml_part(hx.section("셋"))

BROKEN_THIRD = [
    ("missing", lambda p: p.drop(THIRD)),
    ("bad deflate", lambda p: p.replace(THIRD, stored=b"\x07\0\0\0")),
    (
        "deflate cut short",
        lambda p: p.replace(THIRD, stored=hx.deflate_raw(WELL_FORMED)[:40]),
    ),
    ("not well-formed", lambda p: p.replace(THIRD, data=WELL_FORMED[:-4])),
    ("two roots", lambda p: p.replace(THIRD, data=WELL_FORMED + b"<hs:sec/>")),
    ("empty", lambda p: p.replace(THIRD, data=b"")),
    (
        "CRC-32 not its entry's",
        lambda p: p.replace(THIRD, data=WELL_FORMED, crc=zlib.crc32(WELL_FORMED) ^ 1),
    ),
    (
        "longer than its entry declares",
        lambda p: p.replace(THIRD, data=WELL_FORMED, size=len(WELL_FORMED) - 1),
    ),
]


class TestBrokenSection:
    @pytest.mark.parametrize(
        "damage", [d[1] for d in BROKEN_THIRD], ids=[d[0] for d in BROKEN_THIRD]
    )
    def test_keeps_the_sections_before_it(self, damage):
        damaged = damage(package(THREE))
        markdown, fmt, warnings = native.convert_buffer(damaged.to_bytes(), MINIMAL)
        assert (markdown, fmt) == ("하나\n\n둘", "hwpx")
        [(kind, message)] = warnings
        assert kind == "damaged" and message.startswith(f"Text from {THIRD} on is missing: ")
