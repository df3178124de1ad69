"""The docling, LangChain and LlamaIndex adapters, each against its real package: the mapping of
every kind of block, from a document's data; then whole files written by the builders, and the
shared real documents."""

from __future__ import annotations

import json
import re
import warnings
from pathlib import Path

import pytest

import hwpbuilder as hb
from hwpbuilder import hwpx as hx

paravox = pytest.importorskip("paravox")
from paravox import _adapters  # noqa: E402

SCHEMA = Path(__file__).resolve().parents[2] / "schema" / "document.schema.json"


def at(paragraph: int, section: int = 0) -> dict:
    return {"section": section, "paragraph": paragraph}


def para(text: str, paragraph: int, **more) -> dict:
    return {"type": "paragraph", "origin": at(paragraph), "text": text, **more}


def cell(text: str, row: int, column: int, column_span: int = 1, header: bool = False) -> dict:
    return {"row": row, "column": column, "row_span": 1, "column_span": column_span,
            "header": header, "blocks": [para(text, 4)]}


# A document's data with every kind of block, as `Document.to_dict()` gives it.
DATA = {
    "schema": "paravox.document", "version": 1, "format": "hwpx",
    "metadata": {"title": "보고서", "created": "2024-05-01T09:30:00Z"},
    "warnings": [{"kind": "damaged", "message": "Text from Contents/section1.xml on is missing"}],
    "body": [
        {"type": "heading", "origin": at(0), "text": "개요", "level": 1, "number": "1."},
        para("본문 문단", 1, notes=[{"offset": 6, "label": "1"}]),
        {"type": "list_item", "origin": at(2), "text": "항목", "level": 0, "number": "가."},
        {"type": "list_item", "origin": at(3), "text": "하위", "level": 1, "bullet": "•"},
        {"type": "heading", "origin": at(3), "text": "실적", "level": 2},
        {"type": "table", "origin": at(4), "rows": 2, "columns": 2, "caption_side": "top",
         "caption": [para("표 1", 4)],
         "cells": [cell("구분", 0, 0, column_span=2, header=True), cell("a<b", 1, 0),
                   cell("120", 1, 1)]},
        {"type": "picture", "origin": at(5), "caption": "그림 1"},
        {"type": "equation", "origin": at(6), "script": "a over b"},
        {"type": "drawing", "origin": at(7), "blocks": [para("상자 글", 7)]},
        {"type": "heading", "origin": at(0, 1), "text": "결론", "level": 1},
        {"type": "paragraph", "origin": at(1, 1), "text": "끝"},
    ],
    "footnotes": [{"label": "1", "origin": at(1), "blocks": [para("각주", 1)]}],
    "furniture": [{"kind": "footer", "pages": "both", "section": 0, "blocks": [para("- 1 -", 0)]}],
}


def test_the_data_is_in_the_published_shape():
    jsonschema = pytest.importorskip("jsonschema")
    if not SCHEMA.is_file():
        pytest.skip(f"no document schema at {SCHEMA}")
    jsonschema.validate(DATA, json.loads(SCHEMA.read_text("utf-8")))


def test_pieces_keep_blocks_whole_with_their_provenance():
    base = _adapters.document_metadata("a.hwpx", DATA)
    assert base["partial"] is True and base["title"] == "보고서"
    elements = list(_adapters.element_pieces(DATA, base))
    texts = [piece.text for piece in elements]
    assert texts[:4] == ["# 1. 개요", "본문[^1] 문단", "가. 항목", "  - 하위"]
    table = elements[5]
    assert table.text == ('표 1\n\n<table><tr><th colspan="2">구분</th></tr>'
                          "<tr><td>a&lt;b</td><td>120</td></tr></table>")
    assert (table.metadata["headings"], table.metadata["paragraph"]) == (["1. 개요", "실적"], 4)
    assert (elements[-2].metadata["headings"], elements[-2].metadata["section"]) == (["결론"], 1)
    assert (texts[-1], elements[-1].metadata["type"]) == ("[^1]: 각주", "footnote")

    for max_chars in (None, 1, 40):
        chunks = [p.text for p in _adapters.chunk_pieces(DATA, base, max_chars)]
        # Every block lies whole in exactly one chunk, and no chunk is a heading alone.
        assert all(sum(text in chunk for chunk in chunks) == 1 for text in texts[1:])
        assert not any(chunk.startswith("#") and "\n" not in chunk for chunk in chunks)
    assert len(list(_adapters.chunk_pieces(DATA, base))) == 4  # three sections, one note


ROW = re.compile(r"<tr>.*?</tr>")


@pytest.mark.parametrize("max_chars", [1, 120, 200, 400, None])
@pytest.mark.parametrize("caption_side", ["top", "bottom", ""])
def test_chunks_cut_a_long_table_between_rows_under_its_header(max_chars, caption_side):
    # A header row over twelve rows; the first column's fourth cell spans two rows.
    cells = [cell("항목", 0, 0, header=True), cell("값", 0, 1, header=True)] + [
        {**cell(text, row, column), "row_span": 2 if text == "행4" else 1}
        for row in range(1, 13) for column, text in enumerate([f"행{row}", f"값 {row * 1000}"])
        if text != "행5"]
    table = {"type": "table", "origin": at(4), "rows": 13, "columns": 2, "cells": cells,
             "caption": [para("표 2", 4)] if caption_side else [], "caption_side": caption_side}
    body = [DATA["body"][0], table, para("뒤 문단", 5)]
    chunks = list(_adapters.chunk_pieces({"body": body}, {"source": "a.hwp"}, max_chars))
    whole = _adapters.block_text(table)
    header, *rows = ROW.findall(whole)
    rows[3:5] = [rows[3] + rows[4]]  # the spanning cell's two rows are never apart
    parts = [chunk.text for chunk in chunks if "<table>" in chunk.text]
    found = [ROW.findall(part) for part in parts]
    assert all(part[0] == header for part in found)
    assert "".join(r for part in found for r in part[1:]) == "".join(rows)
    assert all(part.count("표 2") == (caption_side != "") for part in parts)
    assert all(chunk.metadata["headings"] == ["1. 개요"] for chunk in chunks)
    assert chunks[0].text.startswith("# 1. 개요\n\n") and "<table>" in chunks[0].text
    assert len(parts) == 1 if max_chars is None or max_chars >= len(whole) else len(parts) > 1
    for part, rows_in in zip(parts, found):
        # Past the limit only when it holds a single group of rows, spanning cells together.
        assert max_chars is None or len(part) <= max_chars or "".join(rows_in[1:]) in rows


def test_docling_document_holds_every_kind_of_block():
    docling = pytest.importorskip("paravox.docling")
    from docling_core.types.doc import ContentLayer, DocItemLabel, DoclingDocument

    document = docling.docling_document(DATA, "a")
    again = DoclingDocument.model_validate(document.export_to_dict())
    assert again.export_to_markdown() == document.export_to_markdown()
    labels = [item.label for item, _ in document.iterate_items()]
    assert labels.count(DocItemLabel.SECTION_HEADER) == 3
    assert [labels.count(label) for label in (DocItemLabel.LIST_ITEM, DocItemLabel.FORMULA,
                                              DocItemLabel.FOOTNOTE)] == [2, 1, 1]
    (table,) = document.tables
    header = table.data.table_cells[0]
    assert (header.col_span, header.column_header, header.text) == (2, True, "구분")
    assert [ref.resolve(document).text for ref in table.captions] == ["표 1"]
    (picture,) = document.pictures
    assert [ref.resolve(document).text for ref in picture.captions] == ["그림 1"]
    (footer,) = [t for t in document.texts if t.label == DocItemLabel.PAGE_FOOTER]
    assert footer.content_layer == ContentLayer.FURNITURE
    assert '<th colspan="2">구분</th>' in document.export_to_html()

    chunker = pytest.importorskip("docling_core.transforms.chunker")
    chunks = chunker.HierarchicalChunker().chunk(document)
    paths = {chunk.text: chunk.meta.headings for chunk in chunks}
    assert paths["본문 문단"] == ["1. 개요"] and paths["상자 글"] == ["1. 개요", "실적"]


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict:
    folder = tmp_path_factory.mktemp("adapters")
    C = hb.cell
    rows = [[C("구분", 0, 0, col_span=2, header=True)], [C("가", 1, 0), C("나", 1, 1)]]
    table = hb.table(rows, cols=2, caption="표 1", caption_side="TOP")
    documents = {
        "sample": [hb.section(hb.paragraph("첫 문단"), hb.paragraph(controls=[table])),
                   hb.section(hb.paragraph("둘째 구역"))],
        "partial": [hb.section(hb.paragraph("앞 구역")), hb.section(hb.paragraph("뒤 구역"))],
    }
    damaged = {"partial": {"BodyText/Section1": hb.corrupt_deflate()}}
    for name, sections in documents.items():
        document = hb.hwp_document(sections, extra_streams=damaged.get(name, {}))
        (folder / f"{name}.hwp").write_bytes(document)
    (folder / "broken.hwp").write_bytes(b"not a document")
    # The sample's twin, and a package cut short, in a folder below.
    twin = hx.hwpx_document([
        hx.section(hx.paragraph("첫 문단"), hx.paragraph(hx.table(rows, caption="표 1",
                                                                   caption_side="TOP"))),
        hx.section(hx.paragraph("둘째 구역"))])
    (folder / "sub").mkdir()
    (folder / "sub" / "twin.hwpx").write_bytes(twin)
    (folder / "sub" / "cut.hwpx").write_bytes(twin[:300])
    return {path.stem: path for path in folder.rglob("*.hwp*")} | {"folder": folder}


def langchain_pieces(path, **options) -> list:
    module = pytest.importorskip("paravox.langchain")
    # As LangChain's DirectoryLoader calls its loader_cls: one str path and keyword arguments.
    loader = module.ParavoxLoader(str(path), **options)
    return [(d.page_content, d.metadata) for d in loader.lazy_load()]


def llama_index_pieces(path, **options) -> list:
    module = pytest.importorskip("paravox.llama_index")
    extra = {"collection": "x"}
    documents = module.ParavoxReader(**options).load_data(path, extra_info=extra)
    assert all(d.metadata["collection"] == "x" for d in documents)
    return [(d.text, {k: v for k, v in d.metadata.items() if k != "collection"}) for d in documents]


@pytest.mark.parametrize("pieces_of", [langchain_pieces, llama_index_pieces],
                         ids=["langchain", "llama_index"])
def test_loaders_read_files(files, pieces_of):
    (whole,) = pieces_of(files["sample"])
    source = str(files["sample"])
    assert whole == (paravox.convert(source), {"source": source, "format": "hwp"})
    elements = pieces_of(files["sample"], mode="elements")
    assert [(m["type"], m["section"]) for _, m in elements] == [
        ("paragraph", 0), ("table", 0), ("paragraph", 1)]
    first = {key: value for key, value in elements[0][1].items() if key != "type"}
    chunk = "\n\n".join(text for text, _ in elements)
    assert pieces_of(files["sample"], mode="chunks") == [(chunk, first)]

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pieces = pieces_of(files["folder"])
    assert [Path(m["source"]).name for _, m in pieces] == ["partial.hwp", "sample.hwp", "twin.hwpx"]
    assert pieces[0][1]["partial"] is True and pieces[0][1]["warnings"]
    assert pieces[1][0] == pieces[2][0] == whole[0]
    assert sorted((type(w.message).__name__, Path(str(w.message).split(":")[0]).name)
                  for w in caught) == [("PartialDocumentWarning", "partial.hwp"),
                                       ("SkippedDocumentWarning", "broken.hwp"),
                                       ("SkippedDocumentWarning", "cut.hwpx")]
    for name in ("broken", "partial", "cut"):
        with pytest.raises(paravox.ParavoxError):
            pieces_of(files[name], strict=True)


def test_llama_index_directory_reader_takes_it_as_its_file_reader(files):
    module = pytest.importorskip("paravox.llama_index")
    fsspec = pytest.importorskip("fsspec")
    from llama_index.core import SimpleDirectoryReader

    fs = fsspec.filesystem("memory")
    fs.pipe("/hwp/sample.hwp", files["sample"].read_bytes())
    reader = SimpleDirectoryReader("/hwp", fs=fs, file_extractor={".hwp": module.ParavoxReader()})
    (document,) = reader.load_data()
    assert document.text == paravox.convert(files["sample"])
    assert document.metadata["file_name"] == "sample.hwp" and document.metadata["format"] == "hwp"


def test_docling_reads_files_and_file_objects(files):
    docling = pytest.importorskip("paravox.docling")
    by_path = docling.to_docling(files["sample"])
    with open(files["sample"], "rb") as file:
        by_file = docling.to_docling(file)
    assert by_path.export_to_dict()["texts"] == by_file.export_to_dict()["texts"]
    assert by_path.origin.binary_hash == by_file.origin.binary_hash
    assert [t.text for t in by_path.texts if t.label == "text"] == ["첫 문단", "둘째 구역"]
    assert by_path.tables[0].data.table_cells[0].column_header
    assert docling.to_docling(files["twin"]).export_to_markdown() == by_path.export_to_markdown()
    for name in ("broken", "cut"):
        with pytest.raises(paravox.ParavoxError):
            docling.to_docling(files[name])


def test_docling_reads_every_shared_document(corpus_dir):
    docling = pytest.importorskip("paravox.docling")
    from docling_core.types.doc import DoclingDocument

    paths = sorted(p for p in corpus_dir.rglob("*") if p.suffix.lower() in (".hwp", ".hwpx"))
    failures = {}
    for path in paths:
        try:
            document = docling.to_docling(path)
        except paravox.ParavoxError:
            continue
        try:
            DoclingDocument.model_validate(document.export_to_dict())
            document.export_to_markdown()
            document.export_to_html()
        except Exception as error:  # noqa: BLE001  (collected, then reported together)
            failures[path.name] = repr(error)
    assert failures == {}
