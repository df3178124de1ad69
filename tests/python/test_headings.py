"""Headings, numbered paragraphs and bullets in the full profile, and the front matter of both
profiles: each document is written in both formats by the builders."""

from __future__ import annotations

import json

import pytest

import hwpbuilder as hb
from hwpbuilder import hwpx as hx

paravox = pytest.importorskip("paravox")

# Numbering 1 numbers the outline; 2 and 3 are lists, the second restarting at 3; bullet 1.
DEFINITIONS = hb.Definitions(
    numberings=[
        [("^1.", "DIGIT", 1), ("^2.", "HANGUL_SYLLABLE", 1), ("^3)", "DIGIT", 1)],
        [("^1)", "LATIN_SMALL", 1)],
        [("^1.", "DIGIT", 3)],
    ],
    bullets=["\uf0a7"],
    para_shapes=[
        ("NONE", 0, 0),
        ("OUTLINE", 0, 0),
        ("OUTLINE", 1, 0),
        ("OUTLINE", 2, 0),
        ("NUMBER", 0, 2),
        ("BULLET", 0, 1),
        ("BULLET", 1, 1),
        ("NUMBER", 0, 3),
    ],
    styles=[("바탕글", 0), ("개요 2", 0)],
)

# (text, paragraph shape, style) per body paragraph; a list is a table row of such cells.
BODY = [
    ("서론", 1, 0),
    ("배경", 2, 0),
    ("세부", 3, 0),
    ("범위", 2, 0),
    ("본론", 1, 0),
    ("다시", 3, 0),
    ("사과", 4, 0),
    ("배", 4, 0),
    ("점", 5, 0),
    ("안쪽", 6, 0),
    ("셋", 7, 0),
    ("스타일", 0, 1),
    [("칸", 1, 0), ("x", 0, 0)],
    ("결론", 1, 0),
]

# Written by hand: outline levels count apart and restart under a shallower one; the cell's
# outline paragraph counts (3.) without becoming a heading; "3." before text is escaped.
EXPECTED = """\
# 1. 서론

## 가. 배경

### 1) 세부

## 나. 범위

# 2. 본론

### 1) 다시

a) 사과

b) 배

- 점

  - 안쪽

3\\. 셋

## 스타일

|3. 칸|x|
|---|---|

# 4. 결론"""


def binary_document() -> bytes:
    paragraphs = []
    for item in BODY:
        if isinstance(item, list):
            cells = [hb.paragraph(text, shape_id=shape, style_id=style)
                     for text, shape, style in item]
            paragraphs.append(hb.paragraph(controls=[hb.table([cells])]))
        else:
            text, shape, style = item
            paragraphs.append(hb.paragraph(text, shape_id=shape, style_id=style))
    # The section definition comes among the first paragraph's controls, after its text.
    first = BODY[0]
    paragraphs[0] = hb.paragraph(first[0], shape_id=first[1], style_id=first[2],
                                 controls=[hb.section_definition(1)])
    return hb.hwp_document([hb.section(*paragraphs)], definitions=DEFINITIONS)


def hwpx_document(**package) -> bytes:
    paragraphs = []
    for item in BODY:
        if isinstance(item, list):
            cells = [hx.paragraph(text, shape=shape, style=style) for text, shape, style in item]
            paragraphs.append(hx.paragraph(hx.table([cells])))
        else:
            text, shape, style = item
            paragraphs.append(hx.paragraph(text, shape=shape, style=style))
    # The builder's section definition names numbering 1 for the outline.
    return hx.hwpx_document([hx.section(*paragraphs)], definitions=DEFINITIONS, **package)


class TestHeadings:
    @pytest.mark.parametrize("build", [binary_document, hwpx_document])
    def test_full_profile_shows_headings_numbers_and_bullets(self, build):
        assert paravox.convert_bytes(build()) == EXPECTED

    @pytest.mark.parametrize("build", [binary_document, hwpx_document])
    def test_minimal_profile_shows_text_alone(self, build):
        assert "#" not in paravox.convert_bytes(build(), profile="minimal")


TITLE = 'Q3 "plan":\nphase 2 \\ end'
META = {"creator": "홍길동", "CreatedDate": "2024-05-01T09:30:00Z"}


def read_front_matter(markdown: str) -> dict:
    """The front matter's values, through a YAML parser when one is installed."""
    head, separator, _ = markdown.removeprefix("---\n").partition("\n---")
    assert separator, markdown
    try:
        import yaml
    except ImportError:
        values = {}
        for line in head.splitlines():
            key, _, value = line.partition(": ")
            values[key] = json.loads(value) if value.startswith('"') else value
        return values
    values = yaml.safe_load(head)
    return {k: v.isoformat().replace("+00:00", "Z") if hasattr(v, "isoformat") else v
            for k, v in values.items()}


class TestFrontMatter:
    @pytest.mark.parametrize("profile", ["full", "minimal"])
    def test_metadata_reads_back_above_the_markdown(self, profile):
        data = hwpx_document(title=TITLE, meta=META)
        markdown = paravox.convert_bytes(data, profile=profile, front_matter=True)
        assert read_front_matter(markdown) == {
            "title": TITLE, "author": "홍길동", "created": "2024-05-01T09:30:00Z"}
        body = paravox.convert_bytes(data, profile=profile)
        assert markdown.endswith("\n---\n\n" + body)

    @pytest.mark.parametrize("build", [binary_document, hwpx_document])
    def test_no_metadata_no_front_matter(self, build):
        data = build()
        assert paravox.convert_bytes(data, front_matter=True) == paravox.convert_bytes(data)

    def test_cli_option(self, tmp_path, capsys):
        from paravox.cli import main

        path = tmp_path / "a.hwpx"
        path.write_bytes(hwpx_document(title="제목"))
        assert main([str(path), "--front-matter"]) == 0
        assert capsys.readouterr().out.startswith('---\ntitle: "제목"\n---\n\n# 1. 서론\n')
