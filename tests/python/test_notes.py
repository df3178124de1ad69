"""Notes, headers and footers, drawings' text and memos in the full profile: each case is one
small document written in both formats by the builders (or in one, where only that format can
hold it), and each must give the Markdown written by hand here, and the data its layers."""

from __future__ import annotations

import io
import json

import pytest

import hwpbuilder as hb
from hwpbuilder import hwpx as hx

paravox = pytest.importorskip("paravox")

NOTE = 17  # the paragraph character that anchors a footnote or endnote


def hwp_note(*paragraphs: str, endnote: bool = False):
    """A note's anchor in a binary paragraph's text and its control, as a pair."""
    return hb.ext(NOTE, hb.EN if endnote else hb.FN), hb.footnote(list(paragraphs), endnote=endnote)


def hwp_paragraph(*items, controls=()):
    """A binary paragraph of texts and (anchor, control) pairs, anchors where they stand."""
    text = [i if isinstance(i, str) else i[0] for i in items]
    notes = [i[1] for i in items if not isinstance(i, str)]
    return hb.paragraph(*text, controls=notes + list(controls), anchors=False)


def notes():
    body_hwp = hwp_paragraph("본문", hwp_note("첫 문단", "둘째 문단"), " 끝",
                             hwp_note("미주", endnote=True))
    cell_hwp = hwp_paragraph("가", hwp_note("셀 각주"))
    body_hwpx = hx.paragraph("본문", hx.layer("footNote", ["첫 문단", "둘째 문단"]), " 끝",
                             hx.layer("endNote", ["미주"]))
    cell_hwpx = hx.paragraph("가", hx.layer("footNote", ["셀 각주"]))
    return {
        "hwp": hb.hwp_document([hb.section(body_hwp, hb.paragraph(
            controls=[hb.table([[cell_hwp, "b"], ["c", "d"]])]))]),
        "hwpx": hx.hwpx_document([hx.section(body_hwpx, hx.paragraph(
            hx.table([[cell_hwpx, "b"], ["c", "d"]])))]),
    }


def headers():
    def hwp_section(header: str, body: str):
        return hb.section(hb.paragraph(body, controls=[
            hb.page_header(header), hb.page_header("꼬리", footer=True)]))

    def hwpx_section(header: str, body: str):
        return hx.section(hx.paragraph(
            hx.layer("header", [header], applyPageType="BOTH"),
            hx.layer("footer", ["꼬리"], applyPageType="BOTH"), body))

    return {
        "hwp": hb.hwp_document([hwp_section("머리 1", "본문 1"), hwp_section("머리 2", "본문 2")]),
        "hwpx": hx.hwpx_document([hwpx_section("머리 1", "본문 1"),
                                  hwpx_section("머리 2", "본문 2")]),
    }


def groups():
    return {
        "hwp": hb.hwp_document([hb.section(hb.paragraph("앞", controls=[
            hb.group("하나", ("둘", ["셋", "넷"])), hb.text_box("상자")]))]),
        "hwpx": hx.hwpx_document([hx.section(hx.paragraph(
            "앞", hx.group(hx.text_box(["하나"]),
                          hx.group(hx.text_box(["둘"]), hx.text_box(["셋", "넷"]))),
            hx.text_box(["상자"])))]),
    }


def memos():
    return {
        "hwp": hb.hwp_document([hb.section(hb.paragraph(
            "본문", controls=[hb.control(hb.ctrl_id("tcmt"), "숨은 설명")]))]),
        "hwpx": hx.hwpx_document([hx.section(hx.paragraph(
            "본문", *hx.memo(["메모 글"]), hx.layer("hiddenComment", ["숨은 설명"])))]),
    }


def tool_written():
    """What tools write and the word processor does not: a table directly under the section,
    text directly under a paragraph, text art."""
    p = hx.paragraph()
    p.children = [hx.text("맨 글자")]
    section = hx.El("hs", "sec", {}, [hx.table([["a", "b"], ["c", "d"]]), p,
                                     hx.paragraph(hx.text_art("글맵시\n둘째 줄"))])
    return {"hwpx": hx.hwpx_document([section])}


NOTES = ("본문[^1] 끝[^e1]\n\n|가[^2]|b|\n|---|---|\n|c|d|\n\n"
         "[^1]: 첫 문단\n\n    둘째 문단\n\n[^2]: 셀 각주\n\n[^e1]: 미주")

# (name, documents, options, Markdown)
CASES = [
    ("notes in a paragraph and a cell", notes, {}, NOTES),
    ("notes are the same with headers and footers on", notes, {"headers_footers": True}, NOTES),
    ("headers and footers left out by default", headers, {}, "본문 1\n\n본문 2"),
    ("each distinct header and footer once, where its section starts", headers,
     {"headers_footers": True}, "머리 1\n\n꼬리\n\n본문 1\n\n머리 2\n\n본문 2"),
    ("the text of every shape of nested groups, in order", groups, {},
     "앞\n\n하나\n둘\n셋\n넷\n\n상자"),
    ("memos and hidden comments stay out", memos, {"headers_footers": True}, "본문"),
    ("text wherever a tool puts it", tool_written, {},
     "|a|b|\n|---|---|\n|c|d|\n\n맨 글자\n\n글맵시\n둘째 줄"),
]


class TestLayers:
    @pytest.mark.parametrize("documents, options, expected",
                             [c[1:] for c in CASES], ids=[c[0] for c in CASES])
    def test_both_formats_give_the_markdown(self, documents, options, expected):
        for name, data in documents().items():
            assert paravox.convert_bytes(data, **options) == expected, name

    def test_minimal_profile_keeps_notes_and_headers_out(self):
        for documents in (notes, headers):
            for name, data in documents().items():
                markdown = paravox.convert_bytes(data, profile="minimal", headers_footers=True)
                assert "[^" not in markdown and "머리" not in markdown, name


def walk(blocks: list):
    """Every block, depth first, with the blocks of cells, captions and drawings."""
    for block in blocks:
        yield block
        for cell in block.get("cells", ()):
            yield from walk(cell["blocks"])
        yield from walk(block.get("caption", ()))
        yield from walk(block.get("blocks", ()))


def texts(blocks: list) -> list:
    return [block["text"] for block in walk(blocks) if block.get("text")]


def layers(data: dict) -> dict:
    """What the data holds beside the body's plain text, the parts it has."""
    found = {
        "references": [(b["text"], [(n["offset"], n["label"]) for n in b["notes"]])
                       for b in walk(data["body"]) if "notes" in b],
        "notes": [(n["label"], texts(n["blocks"]))
                  for n in data.get("footnotes", []) + data.get("endnotes", [])],
        "furniture": [(f["kind"], f["pages"], f["section"], texts(f["blocks"]))
                      for f in data.get("furniture", [])],
        "annotations": [(a["kind"], texts(a["blocks"])) for a in data.get("annotations", [])],
        "drawings": [texts(b["blocks"]) for b in walk(data["body"]) if b["type"] == "drawing"],
    }
    return {key: value for key, value in found.items() if value}


HEADERS = [("header", "both", 0, ["머리 1"]), ("footer", "both", 0, ["꼬리"]),
           ("header", "both", 1, ["머리 2"]), ("footer", "both", 1, ["꼬리"])]
HIDDEN = ("hidden_comment", ["숨은 설명"])

# (name, documents, layers by format, or for both); offsets are in UTF-8 bytes: "본문" is 6.
DATA_CASES = [
    ("notes", notes, {"references": [("본문 끝", [(6, "1"), (10, "e1")]), ("가", [(3, "2")])],
                      "notes": [("1", ["첫 문단", "둘째 문단"]), ("2", ["셀 각주"]),
                                ("e1", ["미주"])]}),
    ("headers and footers", headers, {"furniture": HEADERS}),
    ("drawings", groups, {"drawings": [["하나\n둘\n셋\n넷"], ["상자"]]}),
    ("memos", memos, {"hwp": {"annotations": [HIDDEN]},
                      "hwpx": {"annotations": [("memo", ["메모 글"]), HIDDEN]}}),
]


@pytest.mark.parametrize("documents, expected", [c[1:] for c in DATA_CASES],
                         ids=[c[0] for c in DATA_CASES])
def test_the_data_holds_every_layer(documents, expected):
    jsonschema = pytest.importorskip("jsonschema")
    from conftest import REPO_DIR

    schema = json.loads((REPO_DIR / "schema" / "document.schema.json").read_text("utf-8"))
    for name, data in documents().items():
        document = paravox.read_bytes(data)
        found = document.to_dict()
        jsonschema.Draft202012Validator(schema).validate(found)
        assert layers(found) == expected.get(name, expected), name
        assert (document.footnotes + document.endnotes, document.furniture,
                document.annotations) == (found.get("footnotes", []) + found.get("endnotes", []),
                                          found.get("furniture", []),
                                          found.get("annotations", [])), name


def test_docling_links_notes_and_keeps_headers_in_the_furniture():
    docling = pytest.importorskip("paravox.docling")
    from docling_core.types.doc import ContentLayer, DocItemLabel, DoclingDocument

    for documents in (notes, headers):
        for name, data in documents().items():
            document = docling.to_docling(io.BytesIO(data))
            DoclingDocument.model_validate(document.export_to_dict())
            items = [item for item, _ in document.iterate_items(
                included_content_layers={ContentLayer.BODY, ContentLayer.FURNITURE})]
            footnotes = [i.text for i in items if i.label == DocItemLabel.FOOTNOTE]
            furniture = [i.text for i in items if i.content_layer == ContentLayer.FURNITURE]
            tables = [i for i in items if i.label == DocItemLabel.TABLE]
            if documents is notes:
                # The cell's note hangs from its table; the others follow the body.
                assert footnotes == ["셀 각주", "첫 문단\n둘째 문단", "미주"], name
                linked = [ref.resolve(document).text for ref in tables[0].footnotes]
                assert linked == ["셀 각주"], name
            else:
                assert furniture == ["머리 1", "꼬리", "머리 2", "꼬리"], name
