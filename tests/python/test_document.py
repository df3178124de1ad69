"""paravox.read and the document as data: the JSON of every document fits the schema, says
what the conversion says, and places every block where the document has it."""

from __future__ import annotations

import io
import json
import re
import subprocess
import sys
import warnings
from datetime import datetime
from pathlib import Path

import pytest

import hwpbuilder as hb
from conftest import CORPUS_DIR, REPO_DIR
from hwpbuilder import hwpx as hx
from paravox._convert import Options, convert_document

paravox = pytest.importorskip("paravox")
jsonschema = pytest.importorskip("jsonschema")

SCHEMA = json.loads((REPO_DIR / "schema" / "document.schema.json").read_text())
FOLDERS = ("features", "realworld", "bad", "hwpx/files", "hwpx/twins")


def validate(data: dict) -> None:
    jsonschema.Draft202012Validator(SCHEMA).validate(data)


def documents() -> list[Path]:
    return [
        path
        for folder in FOLDERS
        for path in sorted((CORPUS_DIR / folder).glob("*"))
        if path.suffix in (".hwp", ".hwpx")
    ]


def walk(blocks: list):
    """Every block, depth first: cells' blocks and captions after their table, a drawing's
    blocks after it."""
    for block in blocks:
        yield block
        if block["type"] == "table":
            for inner in block["cells"]:
                yield from walk(inner["blocks"])
            yield from walk(block.get("caption", ()))
        elif block["type"] == "drawing":
            yield from walk(block["blocks"])


def every_block(data: dict):
    """The blocks of the body, the notes and the headers and footers."""
    yield from walk(data["body"])
    for layer in ("footnotes", "endnotes", "furniture"):
        for part in data.get(layer, ()):
            yield from walk(part["blocks"])


def misplaced(blocks: list, outer: dict | None, cell: dict | None) -> list[str]:
    """Blocks whose origin is not their anchor's, or whose cell is not the one holding them."""
    found = []
    for block in blocks:
        origin = dict(block["origin"])
        if origin.pop("cell", None) != cell or (outer is not None and origin != outer):
            found.append(f"{block['type']} at {block['origin']}, in {outer} cell {cell}")
        if block["type"] != "table":
            continue
        anchor = outer if outer is not None else origin
        for inner in block["cells"]:
            at = {"row": inner["row"], "column": inner["column"]}
            found += misplaced(inner["blocks"], anchor, at)
        found += misplaced(block.get("caption", ()), anchor, cell)
    return found


def by_origin(data: dict) -> list:
    return [(b["origin"]["section"], b["origin"]["paragraph"]) for b in data["body"]]


class TestCorpus:
    def test_every_document_reads_as_it_converts(self, corpus_dir):
        jsonschema.Draft202012Validator.check_schema(SCHEMA)
        problems, read = [], 0
        kinds: set[str] = set()  # heading, list_item, and picture when one names its entry
        linked = Options(picture_links="pics", front_matter=True)
        for path in documents():
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", paravox.PartialDocumentWarning)
                try:
                    expected = convert_document(path)
                except paravox.ParavoxError as error:
                    try:
                        paravox.read(path)
                        problems.append(f"{path.name}: read, but does not convert: {error}")
                    except paravox.ParavoxError as again:
                        if (type(again), str(again)) != (type(error), str(error)):
                            problems.append(f"{path.name}: {again!r} instead of {error!r}")
                    continue
                document = paravox.read(path)
            read += 1
            data = document.to_dict()
            validate(data)
            metadata = {
                key: datetime.fromisoformat(value.replace("Z", "+00:00"))
                if key in ("created", "modified") else value
                for key, value in data["metadata"].items()
            }
            if document.to_markdown() != expected.markdown:
                problems.append(f"{path.name}: Markdown differs from the conversion's")
            if document.to_markdown(picture_links="pics", front_matter=True) != (
                    convert_document(path, linked).markdown):
                problems.append(f"{path.name}: linked Markdown differs from the conversion's")
            listed = [picture["id"] for picture in data.get("pictures", [])]
            shown = {b["picture"] for b in every_block(data) if "picture" in b}
            if listed != [f"image{i}" for i in range(1, len(listed) + 1)] or shown != set(listed):
                problems.append(f"{path.name}: pictures {sorted(shown)} listed as {listed}")
            kinds |= {b["type"] for b in walk(data["body"])
                      if b["type"] != "picture" or "picture" in b}
            if (data["format"], metadata) != (expected.format, paravox.metadata(path)):
                problems.append(f"{path.name}: format or metadata differ")
            warned = [(w["kind"], w["message"]) for w in data["warnings"]]
            if not warned == list(document.warnings) == list(expected.warnings):
                problems.append(f"{path.name}: warnings differ")
            if by_origin(data) != sorted(by_origin(data)):
                problems.append(f"{path.name}: blocks out of reading order")
            problems += [f"{path.name}: {m}" for m in misplaced(data["body"], None, None)]
        assert not problems, "\n".join(problems[:20])
        assert read > 300
        assert {"heading", "list_item", "picture"} <= kinds


def test_twins_read_as_the_same_document(corpus_dir):
    # Apart from what the two files hold differently by nature: the format; the modification
    # time (each file saved on its own) and the creation time's fraction of a second (a package
    # keeps whole seconds); the pictures' declared sizes (a binary document's deflated stream is
    # not the picture) and media types (a package alone names them). Their bytes agree.
    twins, differing = sorted((corpus_dir / "hwpx" / "twins").glob("*.hwp")), []
    for hwp in twins:
        compared = []
        for document in (paravox.read(hwp), paravox.read(hwp.with_suffix(".hwpx"))):
            data = document.to_dict()
            del data["format"], data["metadata"]["modified"]
            data["metadata"]["created"] = data["metadata"]["created"][:19]
            data["pictures"] = [(p.id, p.format, p.data) for p in document.pictures]
            assert all(p.size in (None, len(p.data)) for p in document.pictures)
            compared.append(data)
        differing += [(hwp.name, key) for key in compared[0] if compared[0][key] != compared[1][key]]
    assert twins and differing == []


# Text that Markdown, HTML, templates and JSON each give a meaning to; a text with a line feed
# is written as a text box, whose paragraphs the line feeds keep apart.
AWKWARD = ["a | b", "# not a heading", "x<br>y", "{{ name }}", 'say "hi"', "back\\slash \\",
           "two\nline\u2028sep", "<td>&amp;</td>"]


def awkward_cell(text: str, builder):
    return builder.text_box(text.split("\n")) if "\n" in text else text


def two_sections(builder) -> bytes:
    """Section 0: a paragraph, then a paragraph anchoring a 2x2 table whose last cell holds a
    nested table. Section 1: a paragraph, then a table with a caption above it."""
    nested = builder.table([["n0", "n1"]])
    first = builder.table([["r0c0", "r0c1"], ["r1c0", ["r1c1", nested]]])
    cells = [awkward_cell(text, builder) for text in AWKWARD]
    second = builder.table([cells[:4], cells[4:]], caption="caption", caption_side="TOP")
    if builder is hb:
        return hb.hwp_document([
            hb.section(hb.paragraph("intro"), hb.paragraph(controls=[first])),
            hb.section(hb.paragraph("second"), hb.paragraph(controls=[second])),
        ])
    return hx.hwpx_document([
        hx.section(hx.paragraph("intro"), hx.paragraph(first)),
        hx.section(hx.paragraph("second"), hx.paragraph(second)),
    ])


def flatten(blocks: list) -> list:
    """(type, section, paragraph, cell, text) of each block, depth first."""
    rows = []
    for block in blocks:
        o = block["origin"]
        cell = (o["cell"]["row"], o["cell"]["column"]) if "cell" in o else None
        rows.append((block["type"], o["section"], o["paragraph"], cell, block.get("text")))
        if block["type"] == "table":
            rows += flatten(block.get("caption", []))
            for inner in block["cells"]:
                rows += flatten(inner["blocks"])
        elif block["type"] == "drawing":
            rows += flatten(block["blocks"])
    return rows


@pytest.mark.parametrize("builder", [hb, hx], ids=["hwp", "hwpx"])
def test_blocks_carry_their_section_paragraph_and_cell(builder):
    document = paravox.read_bytes(two_sections(builder))
    data = document.to_dict()
    validate(data)
    assert document.blocks == data["body"]
    second_table = data["body"][3]
    assert (second_table["rows"], second_table["columns"], second_table["caption_side"]) == (
        2, 4, "top")
    cells = [(c["row"], c["column"], list(walk(c["blocks"]))[-1]["text"])
             for c in second_table["cells"]]
    assert cells == [(i // 4, i % 4, text) for i, text in enumerate(AWKWARD)]
    assert flatten(data["body"]) == [
        ("paragraph", 0, 0, None, "intro"),
        ("table", 0, 1, None, None),
        ("paragraph", 0, 1, (0, 0), "r0c0"),
        ("paragraph", 0, 1, (0, 1), "r0c1"),
        ("paragraph", 0, 1, (1, 0), "r1c0"),
        ("paragraph", 0, 1, (1, 1), "r1c1"),
        ("table", 0, 1, (1, 1), None),
        ("paragraph", 0, 1, (0, 0), "n0"),
        ("paragraph", 0, 1, (0, 1), "n1"),
        ("paragraph", 1, 0, None, "second"),
        ("table", 1, 1, None, None),
        ("paragraph", 1, 1, None, "caption"),
    ] + [row for i, text in enumerate(AWKWARD) for row in
         [("drawing", 1, 1, (i // 4, i % 4), None)] * ("\n" in text) +
         [("paragraph", 1, 1, (i // 4, i % 4), text)]]


class TestRead:
    def test_every_source_gives_the_same_document(self, tmp_path):
        data = two_sections(hx)
        path = tmp_path / "two.hwpx"
        path.write_bytes(data)
        documents = [paravox.read(path), paravox.read(str(path)), paravox.read(io.BytesIO(data)),
                     paravox.read_bytes(bytearray(data)), paravox.read_bytes(memoryview(data))]
        assert {(d.format, d.to_json()) for d in documents} == {("hwpx", documents[0].to_json())}
        assert documents[0].to_markdown() == paravox.convert(path, profile="full")

    def test_refuses_and_warns_as_convert_does(self):
        damaged = hb.hwp_document([hb.section(hb.paragraph("kept"))],
                                  extra_streams={"BodyText/Section1": hb.corrupt_deflate()})
        with pytest.warns(paravox.PartialDocumentWarning) as warned:
            document = paravox.read_bytes(damaged)
        assert [(w.message.kind, str(w.message)) for w in warned] == list(document.warnings)
        assert document.to_dict()["body"][0]["text"] == "kept"
        with pytest.raises(paravox.DamagedDocumentError, match=re.escape(document.warnings[0][1])):
            paravox.read_bytes(damaged, strict=True)
        with pytest.raises(paravox.NotADocumentError, match="PDF"):
            paravox.read_bytes(b"%PDF-1.7\n")
        with pytest.raises(ValueError, match="full profile"):
            document.to_markdown(profile="minimal")


class TestCommandLine:
    def run(self, *args, cwd: Path) -> subprocess.CompletedProcess:
        return subprocess.run([sys.executable, "-m", "paravox", *map(str, args)], cwd=cwd,
                              capture_output=True, timeout=300)

    def test_to_json_writes_a_document_per_input(self, tmp_path):
        (tmp_path / "in" / "sub").mkdir(parents=True)
        sources = {"in/a.hwp": two_sections(hb), "in/sub/b.hwpx": two_sections(hx)}
        for name, data in sources.items():
            (tmp_path / name).write_bytes(data)
        done = self.run("in", "-o", "out", "--to", "json", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        for name, data in sources.items():
            written = tmp_path / "out" / Path(name).relative_to("in").with_suffix(".json")
            assert written.read_text("utf-8") == paravox.read_bytes(data).to_json() + "\n"

    def test_to_json_adds_a_document_column_to_a_dataset(self, tmp_path):
        (tmp_path / "a.hwpx").write_bytes(two_sections(hx))
        (tmp_path / "bad.hwp").write_bytes(b"not a document")
        done = self.run("a.hwpx", "bad.hwp", "-o", "rows.jsonl", "--to", "json", cwd=tmp_path)
        assert done.returncode == 1, done.stderr
        lines = (tmp_path / "rows.jsonl").read_text("utf-8").split("\n")[:-1]  # U+2028 is no line end
        rows = [json.loads(line) for line in lines]
        document = paravox.read(tmp_path / "a.hwpx")
        assert [(r["status"], r["markdown"], r["document"]) for r in rows] == [
            ("ok", document.to_markdown(), document.to_json()), ("error", None, None)]
