"""The docling, LangChain and LlamaIndex adapters, each against its real package, on documents
written by the builders and on the shared real documents."""

from __future__ import annotations

import warnings
from pathlib import Path

import pytest

import hwpbuilder as hb

paravox = pytest.importorskip("paravox")

C = hb.cell
# Two sections: a paragraph, a table with a header row spanning two columns, a caption above it
# and an equation in a cell; then a paragraph with a footnote, and one in the second section.
SAMPLE = hb.hwp_document([
    hb.section(
        hb.paragraph("첫 문단"),
        hb.paragraph(controls=[hb.table(
            [[C("구분", 0, 0, col_span=2, header=True)],
             [C("가", 1, 0), C(["나", hb.equation("x+1")], 1, 1)]],
            cols=2, caption="표 1. 실적", caption_side="TOP")]),
        hb.paragraph("주석이 있는 문단", controls=[hb.footnote("각주 내용")]),
    ),
    hb.section(hb.paragraph("둘째 구역")),
])
BODY_TEXTS = ["첫 문단", "주석이 있는 문단", "둘째 구역"]


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict[str, Path]:
    folder = tmp_path_factory.mktemp("adapters")
    (folder / "sample.hwp").write_bytes(SAMPLE)
    (folder / "broken.hwp").write_bytes(b"not a document at all")
    partial = hb.hwp_document([hb.section(hb.paragraph("앞 구역")), hb.CORRUPT_DEFLATE])
    (folder / "partial.hwp").write_bytes(partial)
    return {path.stem: path for path in folder.iterdir()} | {"folder": folder}


def langchain_pieces(path, **options) -> list[tuple[str, dict]]:
    loader_module = pytest.importorskip("paravox.langchain")
    return [(d.page_content, d.metadata) for d in loader_module.ParavoxLoader(path, **options).lazy_load()]


def llama_index_pieces(path, **options) -> list[tuple[str, dict]]:
    reader_module = pytest.importorskip("paravox.llama_index")
    return [(d.text, d.metadata) for d in reader_module.ParavoxReader(**options).lazy_load_data(path)]


LOADERS = [langchain_pieces, llama_index_pieces]


@pytest.mark.parametrize("pieces_of", LOADERS, ids=["langchain", "llama_index"])
def test_loaders_cut_documents_into_pieces_with_provenance(files, pieces_of):
    (whole,) = pieces_of(files["sample"])
    assert whole[0] == paravox.convert(files["sample"])
    assert whole[1]["source"] == str(files["sample"]) and whole[1]["format"] == "hwp"

    elements = pieces_of(files["sample"], mode="elements")
    by_text = {text: metadata for text, metadata in elements}
    # Each body paragraph is one element, where the document has it.
    assert [by_text[t]["section"] for t in BODY_TEXTS if t in by_text] == [0, 0, 1]
    assert "주석이 있는 문단[^1]" in by_text
    (table,) = [(t, m) for t, m in elements if m["type"] == "table"]
    assert table[0].startswith("표 1. 실적\n\n<table><tr><th colspan=\"2\">구분</th></tr>")
    assert "$x+1$" in table[0]
    assert [m["type"] for _, m in elements][-1] == "footnote"

    chunks = pieces_of(files["sample"], mode="chunks", max_chars=20)
    # Cut between blocks only: every block's text lies whole inside one chunk.
    for text, _ in elements[:-1]:
        assert sum(text in chunk for chunk, _ in chunks) == 1
    assert max(len(chunk) for chunk, _ in chunks) == len(table[0])


@pytest.mark.parametrize("pieces_of", LOADERS, ids=["langchain", "llama_index"])
def test_loaders_skip_unreadable_and_mark_partial_documents(files, pieces_of):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pieces = pieces_of(files["folder"])
    assert [Path(m["source"]).name for _, m in pieces] == ["partial.hwp", "sample.hwp"]
    partial = pieces[0][1]
    assert partial["partial"] is True and partial["warnings"]
    assert sorted(type(w.message).__name__ for w in caught) == [
        "PartialDocumentWarning", "SkippedDocumentWarning"]
    assert all(str(w.message).startswith(str(files["folder"])) for w in caught)
    for name in ("broken", "partial"):
        with pytest.raises(paravox.ParavoxError):
            pieces_of(files[name], strict=True)


def test_llama_index_reader_adds_extra_info(files):
    reader_module = pytest.importorskip("paravox.llama_index")
    (document,) = reader_module.ParavoxReader().load_data(files["sample"], extra_info={"set": "x"})
    assert document.metadata["set"] == "x" and document.metadata["format"] == "hwp"


def test_docling_document_holds_the_structure(files):
    docling = pytest.importorskip("paravox.docling")
    from docling_core.types.doc import DoclingDocument, DocItemLabel

    document = docling.to_docling(files["sample"])
    again = DoclingDocument.model_validate(document.export_to_dict())
    assert again.export_to_markdown() == document.export_to_markdown()
    texts = [item.text for item in document.texts if item.label == DocItemLabel.TEXT]
    assert texts == BODY_TEXTS
    (table,) = document.tables
    assert (table.data.num_rows, table.data.num_cols) == (2, 2)
    header = table.data.table_cells[0]
    assert (header.col_span, header.column_header, header.text) == (2, True, "구분")
    assert [c.resolve(document).text for c in table.captions] == ["표 1. 실적"]
    assert [t.text for t in document.texts if t.label == DocItemLabel.FOOTNOTE] == ["각주 내용"]
    html = document.export_to_html()
    assert '<th colspan="2">구분</th>' in html and "둘째 구역" in html


def test_docling_reads_every_shared_document(corpus_dir):
    docling = pytest.importorskip("paravox.docling")
    from docling_core.transforms.chunker import HierarchicalChunker

    paths = sorted(corpus_dir.glob("hwpx/twins/*")) + sorted(corpus_dir.glob("features/*.hwp"))
    failures = {}
    for path in paths:
        try:
            document = docling.to_docling(path)
        except paravox.ParavoxError:
            continue
        try:
            document.export_to_markdown()
            document.export_to_html()
            headings = {h.text for h in document.texts if h.label == "section_header"}
            for chunk in HierarchicalChunker().chunk(document):
                assert set(chunk.meta.headings or []) <= headings
        except Exception as error:  # noqa: BLE001  (collected, then reported together)
            failures[path.name] = repr(error)
    assert failures == {}
