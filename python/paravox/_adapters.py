"""What the LangChain and LlamaIndex adapters share: the documents a list of paths names, each
read once, and cut into pieces of text with their metadata.

A piece is the whole document (its Markdown), one block of its body, or one heading section
(cut to a size, a long table between its rows).
Pieces other than whole documents are written here from the document's data (`to_dict()`), in
the Markdown the converter writes for the same blocks, except that a table is always an HTML
`<table>`: a piece stands alone, and HTML keeps merged cells and tables inside cells.
"""

from __future__ import annotations

import html
import os
import warnings
from dataclasses import dataclass
from typing import Any, Dict, Iterable, Iterator, List, Literal, Optional, Sequence, Tuple, Union

from ._convert import StrOrBytesPath, to_str_path
from ._document import Document, read, read_bytes
from ._errors import (
    FileReadError,
    PartialDocumentWarning,
    SkippedDocumentWarning,
    failure_message,
)
from ._storage import list_documents

Mode = Literal["document", "elements", "chunks"]
MODES = ("document", "elements", "chunks")

Block = Dict[str, Any]


@dataclass(frozen=True)
class Piece:
    """Text to index and what it came from."""

    text: str
    metadata: Dict[str, Any]


def check_mode(mode: object) -> Mode:
    if mode not in MODES:
        raise ValueError(f'mode must be "document", "elements" or "chunks", not {mode!r}')
    return mode  # type: ignore[return-value]


def check_max_chars(max_chars: Optional[int]) -> Optional[int]:
    if max_chars is not None and (isinstance(max_chars, bool) or max_chars < 1):
        raise ValueError(f"max_chars must be a positive number or None, not {max_chars!r}")
    return max_chars


def input_paths(inputs: Union[StrOrBytesPath, Iterable[StrOrBytesPath]]) -> List[str]:
    if isinstance(inputs, (str, bytes, os.PathLike)):
        inputs = [inputs]
    return [to_str_path(name) for name in inputs]


# --- One block as Markdown text -------------------------------------------------------------


def _with_note_marks(block: Block) -> str:
    """The block's text with `[^label]` where its note references stand (UTF-8 offsets)."""
    text: str = block.get("text", "")
    notes = block.get("notes")
    if not notes:
        return text
    encoded = text.encode("utf-8")
    parts: List[bytes] = []
    start = 0
    for note in sorted(notes, key=lambda note: note["offset"]):
        offset = min(max(note["offset"], start), len(encoded))
        parts += [encoded[start:offset], f"[^{note['label']}]".encode("utf-8")]
        start = offset
    parts.append(encoded[start:])
    return b"".join(parts).decode("utf-8", errors="replace")


def _picture_text(block: Block) -> str:
    caption = block.get("caption", "")
    return f"[이미지: {caption}]" if caption else "[이미지]"


def _cell_html(blocks: Sequence[Block]) -> str:
    """A cell's blocks inside an HTML cell: paragraphs separated by `<br>`."""
    parts: List[str] = []
    for block in blocks:
        kind = block.get("type")
        if kind == "table":
            parts.append(_table_html(block))
        elif kind == "equation":
            parts.append(html.escape(f"${block.get('script', '')}$", quote=False))
        elif kind == "picture":
            parts.append(html.escape(_picture_text(block), quote=False))
        elif kind == "drawing":
            parts.append(_cell_html(block.get("blocks", [])))
        elif block.get("text"):
            parts.append(html.escape(_with_note_marks(block), quote=False))
    return "<br>".join(part for part in parts if part)


def _table_rows(block: Block) -> List[List[Block]]:
    """The table's cells by the row they start in, top to bottom, each row left to right."""
    rows: Dict[int, List[Block]] = {}
    for cell in block.get("cells", []):
        rows.setdefault(cell.get("row", 0), []).append(cell)
    return [sorted(rows[row], key=lambda cell: cell.get("column", 0)) for row in sorted(rows)]


def _row_html(cells: Sequence[Block]) -> str:
    out = ["<tr>"]
    for cell in cells:
        tag = "th" if cell.get("header") else "td"
        spans = "".join(
            f' {name}="{cell[key]}"'
            for name, key in (("rowspan", "row_span"), ("colspan", "column_span"))
            if cell.get(key, 1) > 1
        )
        out.append(f"<{tag}{spans}>{_cell_html(cell.get('blocks', []))}</{tag}>")
    out.append("</tr>")
    return "".join(out)


def _table_html(block: Block) -> str:
    return "<table>" + "".join(map(_row_html, _table_rows(block))) + "</table>"


def _row_groups(block: Block) -> List[Tuple[str, bool]]:
    """The table's rows as HTML, joined into groups that no cell spans out of (the places a
    table can be cut at), each with whether all its cells are header cells."""
    groups: List[Tuple[str, bool]] = []
    reach = -1  # the first row below every cell of the group so far
    for cells in _table_rows(block):
        row = cells[0].get("row", 0)
        group = (_row_html(cells), all(cell.get("header") for cell in cells))
        if groups and row < reach:
            group = (groups[-1][0] + group[0], groups[-1][1] and group[1])
            groups.pop()
        groups.append(group)
        reach = max([reach] + [row + max(cell.get("row_span", 1), 1) for cell in cells])
    return groups


def _with_caption(block: Block, table: str) -> str:
    caption = "\n\n".join(filter(None, (block_text(b) for b in block.get("caption", []))))
    ordered = [caption, table]
    if block.get("caption_side") in ("bottom", "right"):
        ordered.reverse()
    return "\n\n".join(part for part in ordered if part)


def table_parts(block: Block, max_chars: int, first_room: int) -> List[str]:
    """A table as pieces of at most `max_chars` characters (`first_room` for the first), each a
    table of its own: cut between rows (never where a cell spans across), the header rows at
    its top (rows of header cells only) and its caption repeated in every piece. A piece holds
    at least one group of rows, however long."""
    groups = _row_groups(block)
    header_count = 0
    while header_count < len(groups) and groups[header_count][1]:
        header_count += 1
    header = "".join(html for html, _ in groups[:header_count])
    body = [html for html, _ in groups[header_count:]]
    fixed = len(_with_caption(block, f"<table>{header}</table>"))
    parts: List[str] = []
    rows: List[str] = []
    size = fixed
    for group in body:
        room = first_room if not parts else max_chars
        if rows and size + len(group) > room:
            parts.append(_with_caption(block, f"<table>{header}{''.join(rows)}</table>"))
            rows, size = [], fixed
        rows.append(group)
        size += len(group)
    if rows or not parts:
        parts.append(_with_caption(block, f"<table>{header}{''.join(rows)}</table>"))
    return parts


def heading_text(block: Block) -> str:
    """A heading's number, if it has one, and its text."""
    number = block.get("number")
    text = str(block.get("text", "")).strip()
    return f"{number} {text}" if number and text else text


def block_text(block: Block) -> str:
    """One block as Markdown; an empty string for a block without text."""
    kind = block.get("type")
    if kind == "heading":
        text = heading_text(block)
        return f"{'#' * min(max(block.get('level', 1), 1), 6)} {text}" if text else ""
    if kind == "list_item":
        marker = block.get("number") or ("-" if "bullet" in block else "")
        text = _with_note_marks(block).strip()
        indent = "  " * max(block.get("level", 0), 0)
        return f"{indent}{marker} {text}".rstrip() if marker else text
    if kind == "table":
        return _with_caption(block, _table_html(block) if block.get("cells") else "")
    if kind == "picture":
        return _picture_text(block)
    if kind == "equation":
        script = block.get("script", "")
        return f"$$\n{script}\n$$" if script else ""
    if kind == "drawing":
        return blocks_text(block.get("blocks", []))
    return _with_note_marks(block).strip()


def blocks_text(blocks: Iterable[Block]) -> str:
    return "\n\n".join(text for text in map(block_text, blocks) if text)


# --- Documents and their pieces -------------------------------------------------------------


def document_metadata(path: str, data: Dict[str, Any]) -> Dict[str, Any]:
    """What every piece of a document carries: where it came from and what it says of itself.
    Values are strings (times in ISO 8601) or booleans, as vector stores want them."""
    metadata: Dict[str, Any] = {"source": path, "format": data.get("format")}
    metadata.update(data.get("metadata", {}))
    warnings_of = data.get("warnings", [])
    if warnings_of:
        metadata["partial"] = True
        metadata["warnings"] = "; ".join(warning["message"] for warning in warnings_of)
    return metadata


def _origin(block: Block) -> Dict[str, Any]:
    origin = block.get("origin", {})
    return {key: origin[key] for key in ("section", "paragraph") if key in origin}


def element_pieces(data: Dict[str, Any], base: Dict[str, Any]) -> Iterator[Piece]:
    """One piece per body block with text, then one per footnote and endnote."""
    for _, piece in _body_pieces(data, base):
        yield piece
    yield from _note_pieces(data, base)


def _body_pieces(data: Dict[str, Any], base: Dict[str, Any]) -> Iterator[Tuple[Block, Piece]]:
    """Each body block with text and its piece."""
    headings: List[str] = []
    levels: List[int] = []
    for block in data.get("body", []):
        if block.get("type") == "heading":
            level = block.get("level", 1)
            while levels and levels[-1] >= level:
                levels.pop()
                headings.pop()
            levels.append(level)
            headings.append(heading_text(block))
        text = block_text(block)
        if text:
            metadata = {**base, "type": block["type"], **_origin(block)}
            if headings:
                metadata["headings"] = list(headings)
            yield block, Piece(text, metadata)


def _note_pieces(data: Dict[str, Any], base: Dict[str, Any]) -> Iterator[Piece]:
    for key, kind in (("footnotes", "footnote"), ("endnotes", "endnote")):
        for note in data.get(key, []):
            text = blocks_text(note.get("blocks", []))
            if text:
                metadata = {**base, "type": kind, "label": note["label"]}
                yield Piece(f"[^{note['label']}]: {text}", metadata)


def chunk_pieces(
    data: Dict[str, Any], base: Dict[str, Any], max_chars: Optional[int] = None
) -> Iterator[Piece]:
    """One piece per heading section (the heading and the blocks up to the next heading), and
    with `max_chars` a section longer than that cut between blocks, and a table longer than
    that cut between rows (`table_parts`); other blocks are never cut. Footnotes and endnotes
    follow, one piece each."""
    chunk: List[Piece] = []
    size = 0

    def flush() -> Iterator[Piece]:
        if chunk:
            first = chunk[0].metadata
            metadata = {key: value for key, value in first.items() if key != "type"}
            yield Piece("\n\n".join(piece.text for piece in chunk), metadata)

    def holds_text() -> bool:
        # A heading is never left alone at the end of a chunk.
        return any(held.metadata["type"] != "heading" for held in chunk)

    for block, whole in _body_pieces({"body": data.get("body", [])}, base):
        if chunk and whole.metadata["type"] == "heading":
            yield from flush()
            chunk, size = [], 0
        texts = [whole.text]
        splits = block["type"] == "table" and block.get("cells")
        if splits and max_chars is not None and len(whole.text) > max_chars:
            room = max_chars - size - 2 if chunk else max_chars
            texts = table_parts(block, max_chars, room)
            if holds_text() and len(texts[0]) > room:
                texts = table_parts(block, max_chars, max_chars)
        for text in texts:
            too_long = max_chars is not None and size + 2 + len(text) > max_chars
            if chunk and too_long and holds_text():
                yield from flush()
                chunk, size = [], 0
            chunk.append(Piece(text, whole.metadata))
            size += len(text) + (2 if size else 0)
    yield from flush()
    yield from _note_pieces(data, base)


def pieces_of(path: str, data: Dict[str, Any], markdown: Optional[str], mode: Mode,
              max_chars: Optional[int] = None) -> Iterator[Piece]:
    base = document_metadata(path, data)
    if mode == "document":
        yield Piece(markdown or "", base)
    elif mode == "elements":
        yield from element_pieces(data, base)
    else:
        yield from chunk_pieces(data, base, max_chars)


def _read_listed(
    inputs: Union[StrOrBytesPath, Iterable[StrOrBytesPath]], strict: bool, fs: Any
) -> Iterator[Tuple[str, Document]]:
    """Each document the inputs name, read, with its path; what cannot be read is skipped with a
    warning, or with `strict` raised. With an fsspec file system `fs`, inputs are its files."""
    listed = (
        list_documents(input_paths(inputs))
        if fs is None
        else [(name, None) for name in input_paths(inputs)]
    )
    for path, failure in listed:
        if failure is not None:
            if strict:
                raise FileReadError(f"{path}: {failure}")
            warnings.warn(SkippedDocumentWarning(f"{path}: {failure}"), stacklevel=4)
            continue
        try:
            document = _read_one(path, strict, fs)
        except Exception as error:
            if strict:
                raise
            warnings.warn(SkippedDocumentWarning(f"{path}: {failure_message(error)}"), stacklevel=4)
            continue
        yield path, document


def _read_one(path: str, strict: bool, fs: Any) -> Document:
    with warnings.catch_warnings():
        # Said again by the caller, with the document's path in front.
        warnings.simplefilter("ignore", PartialDocumentWarning)
        if fs is None:
            return read(path, strict=strict)
        with fs.open(path, "rb") as file:
            return read_bytes(file.read(), strict=strict)


def load_pieces(
    inputs: Union[StrOrBytesPath, Iterable[StrOrBytesPath]],
    mode: Mode,
    *,
    strict: bool = False,
    max_chars: Optional[int] = None,
    fs: Any = None,
) -> Iterator[Piece]:
    """The pieces of every document the inputs name (folders searched for .hwp and .hwpx files),
    document by document. A document that cannot be read is skipped with a
    SkippedDocumentWarning, and one read in part gives a PartialDocumentWarning; `strict=True`
    raises the error of either instead. With an fsspec file system `fs`, inputs are its files."""
    for path, document in _read_listed(inputs, strict, fs):
        data = document.to_dict()
        for warning in data.get("warnings", []):
            warnings.warn(
                PartialDocumentWarning(f"{path}: {warning['message']}", warning["kind"]),
                stacklevel=3,
            )
        markdown = document.to_markdown() if mode == "document" else None
        yield from pieces_of(path, data, markdown, mode, max_chars)
