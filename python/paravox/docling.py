"""HWP and HWPX documents as docling `DoclingDocument`s (extra `[docling]`).

    >>> from paravox.docling import to_docling
    >>> document = to_docling("report.hwpx")
    >>> print(document.export_to_markdown())

Headings become section headers with their levels, paragraphs text items, list items lists,
tables table items with every cell at its row and column, equations formulas, pictures picture
items, captions caption items linked to their table or picture; footnotes and endnotes are
footnote items, linked to the table whose cell refers to them or else after the body, headers
and footers page headers and footers in the furniture layer, drawings' text groups. A document has no page layout, so no item has a page provenance.
"""

from __future__ import annotations

import hashlib
import io
import mimetypes
import os
from typing import Any, Dict, Iterator, List, Optional, Sequence

from ._adapters import Block, heading_text
from ._convert import Source, to_str_path
from ._document import read, read_bytes
from ._storage import import_optional

(_doc,) = import_optional(
    ["docling_core.types.doc"],
    "paravox.docling needs docling-core: pip install 'paravox[docling]'",
)

_MIMETYPES = {"hwp": "application/x-hwp", "hwpx": "application/hwp+zip"}


def _plain(blocks: Sequence[Block]) -> str:
    """Blocks as plain text, for items that hold text alone (cells, notes, furniture)."""
    return "\n".join(text for text in (_plain_block(block) for block in blocks) if text)


def _plain_block(block: Block) -> str:
    kind = block.get("type")
    if kind == "table":
        cells = sorted(block.get("cells", []), key=lambda c: (c.get("row", 0), c.get("column", 0)))
        return "\n".join(filter(None, (_plain(cell.get("blocks", [])) for cell in cells)))
    if kind == "drawing":
        return _plain(block.get("blocks", []))
    if kind == "equation":
        return str(block.get("script", ""))
    if kind == "picture":
        return str(block.get("caption", ""))
    return str(block.get("text", "")).strip()


def _note_labels(blocks: Sequence[Block]) -> Iterator[str]:
    """The labels of the notes referred to from `blocks`, nested tables and drawings included."""
    for block in blocks:
        for reference in block.get("notes", []):
            yield reference["label"]
        if block.get("type") == "table":
            for cell in block.get("cells", []):
                yield from _note_labels(cell.get("blocks", []))
            yield from _note_labels(block.get("caption", []))
        elif block.get("type") == "drawing":
            yield from _note_labels(block.get("blocks", []))


class _Builder:
    def __init__(self, document: Any, pictures: Dict[str, bytes]) -> None:
        self.document = document
        self.pictures = pictures
        self.note_tables: Dict[str, Any] = {}  # note label -> the table referring to it

    def add_blocks(self, blocks: Sequence[Block], parent: Any = None) -> None:
        lists: List[Any] = []  # the open list groups, one per level
        for block in blocks:
            kind = block.get("type")
            if kind != "list_item":
                lists = []
            if kind == "heading":
                text = heading_text(block)
                if text:
                    self.document.add_heading(
                        text=text, level=max(1, block.get("level", 1)), parent=parent
                    )
            elif kind == "list_item":
                lists = self._add_list_item(block, lists, parent)
            elif kind == "table":
                self._add_table(block, parent)
            elif kind == "picture":
                self._add_picture(block, parent)
            elif kind == "equation":
                if block.get("script"):
                    self.document.add_formula(text=block["script"], parent=parent)
            elif kind == "drawing":
                group = self.document.add_group(
                    label=_doc.GroupLabel.UNSPECIFIED, name="drawing", parent=parent
                )
                self.add_blocks(block.get("blocks", []), group)
            else:
                text = str(block.get("text", "")).strip()
                if text:
                    self.document.add_text(label=_doc.DocItemLabel.TEXT, text=text, parent=parent)

    def _add_list_item(self, block: Block, lists: List[Any], parent: Any) -> List[Any]:
        level = max(0, block.get("level", 0))
        del lists[level + 1 :]
        while len(lists) <= level:
            # A deeper list hangs from the item before it, as docling nests lists.
            owner = parent
            if lists and lists[-1].children:
                owner = lists[-1].children[-1].resolve(self.document)
            lists.append(self.document.add_list_group(parent=owner))
        number = block.get("number")
        self.document.add_list_item(
            text=str(block.get("text", "")).strip(),
            enumerated=number is not None,
            marker=number or block.get("bullet") or "",
            parent=lists[level],
        )
        return lists

    def _captions(self, block: Block, item: Any) -> None:
        for caption in block.get("caption", []):
            text = _plain_block(caption)
            if text:
                ref = self.document.add_text(
                    label=_doc.DocItemLabel.CAPTION, text=text, parent=item
                ).get_ref()
                item.captions.append(ref)

    def _add_table(self, block: Block, parent: Any) -> None:
        cells = block.get("cells", [])
        # Cells whose addresses pass the declared grid widen it: their text is kept.
        rows = max([block.get("rows", 0)] + [c["row"] + c.get("row_span", 1) for c in cells])
        columns = max(
            [block.get("columns", 0)] + [c["column"] + c.get("column_span", 1) for c in cells]
        )
        data = _doc.TableData(
            num_rows=rows,
            num_cols=columns,
            table_cells=[
                _doc.TableCell(
                    text=_plain(cell.get("blocks", [])),
                    row_span=max(1, cell.get("row_span", 1)),
                    col_span=max(1, cell.get("column_span", 1)),
                    start_row_offset_idx=cell["row"],
                    end_row_offset_idx=cell["row"] + max(1, cell.get("row_span", 1)),
                    start_col_offset_idx=cell["column"],
                    end_col_offset_idx=cell["column"] + max(1, cell.get("column_span", 1)),
                    column_header=bool(cell.get("header")),
                )
                for cell in cells
            ],
        )
        table = self.document.add_table(data=data, parent=parent)
        self._captions(block, table)
        for label in _note_labels([block]):
            self.note_tables.setdefault(label, table)

    def _add_picture(self, block: Block, parent: Any) -> None:
        image = None
        data = self.pictures.get(block.get("picture", ""))
        if data is not None:
            image = _image_ref(data)
        picture = self.document.add_picture(image=image, parent=parent)
        caption = block.get("caption")
        if caption:
            self._captions({"caption": [{"type": "paragraph", "text": caption}]}, picture)

    def add_notes(self, notes: Sequence[Dict[str, Any]]) -> None:
        for note in notes:
            text = _plain(note.get("blocks", []))
            if not text:
                continue
            # A note referred to from a table's cell is that table's footnote, as docling
            # links footnotes to tables; any other stands after the body.
            table = self.note_tables.get(note["label"])
            item = self.document.add_text(
                label=_doc.DocItemLabel.FOOTNOTE,
                text=text,
                orig=f"[^{note['label']}]: {text}",
                parent=table,
            )
            if table is not None:
                table.footnotes.append(item.get_ref())

    def add_furniture(self, furniture: Sequence[Dict[str, Any]]) -> None:
        labels = {"header": _doc.DocItemLabel.PAGE_HEADER, "footer": _doc.DocItemLabel.PAGE_FOOTER}
        for part in furniture:
            text = _plain(part.get("blocks", []))
            if text and part.get("kind") in labels:
                self.document.add_text(
                    label=labels[part["kind"]],
                    text=text,
                    content_layer=_doc.ContentLayer.FURNITURE,
                )


def _image_ref(data: bytes) -> Optional[Any]:
    """The picture as a docling image, or None when PIL cannot open it (WMF, a damaged file)."""
    try:
        from PIL import Image

        with Image.open(io.BytesIO(data)) as image:
            image.load()
            return _doc.ImageRef.from_pil(image, dpi=72)
    except Exception:
        return None


def _pictures_of(path: Optional[str], content: Optional[bytes]) -> Dict[str, bytes]:
    """The embedded pictures' bytes by id, where this build of paravox can read them."""
    import paravox  # pictures are read through the package's front door, where it has one

    pictures = getattr(paravox, "pictures", None)
    if pictures is None:
        return {}
    found: Dict[str, bytes] = {}
    for picture in pictures(path if content is None else io.BytesIO(content)):
        try:
            found[picture.id] = picture.data
        except Exception:  # a damaged picture stream: the picture goes without its image
            continue
    return found


def docling_document(
    data: Dict[str, Any], name: str = "document", pictures: Optional[Dict[str, bytes]] = None
) -> Any:
    """The `DoclingDocument` of a document's data (`Document.to_dict()`), with the given
    pictures' bytes by id."""
    document = _doc.DoclingDocument(name=name)
    builder = _Builder(document, pictures or {})
    builder.add_blocks(data.get("body", []))
    builder.add_notes(data.get("footnotes", []) + data.get("endnotes", []))
    builder.add_furniture(data.get("furniture", []))
    return document


def _origin(path: Optional[str], content: Optional[bytes], format: str) -> Any:
    """Where the document came from, as docling records it: media type, file name and a hash
    of the file's bytes."""
    # docling accepts only the media types Python's `mimetypes` knows, and few systems list
    # these two: they are made known, once, to the process.
    for suffix, mimetype in (".hwp", _MIMETYPES["hwp"]), (".hwpx", _MIMETYPES["hwpx"]):
        if mimetypes.guess_type(f"a{suffix}")[0] != mimetype:
            mimetypes.add_type(mimetype, suffix)
    digest = hashlib.sha256()
    if content is not None:
        digest.update(content)
    elif path is not None:
        with open(path, "rb") as file:
            for part in iter(lambda: file.read(1 << 20), b""):
                digest.update(part)
    return _doc.DocumentOrigin(
        mimetype=_MIMETYPES.get(format, "application/octet-stream"),
        binary_hash=int.from_bytes(digest.digest()[:8], "big"),
        filename=os.path.basename(path) if path is not None else f"document.{format}",
    )


def to_docling(source: Source, *, images: bool = False) -> Any:
    """Reads an HWP or HWPX document (a path, or a file opened in binary mode, as for
    `paravox.convert`) as a docling `DoclingDocument`. With `images=True`, picture items hold
    their pictures where the bytes can be read and Pillow opens them. Raises as `paravox.read`
    does; a document read only in part gives what was read, with its warning."""
    path: Optional[str] = None
    content: Optional[bytes] = None
    if isinstance(source, (str, bytes, os.PathLike)):
        path = to_str_path(source)
        document_read = read(path)
    else:  # read once: the document, its pictures and its hash all need the bytes
        content = source.read()
        if not isinstance(content, bytes):
            raise TypeError("to_docling() needs a file opened in binary mode ('rb'), not text mode")
        document_read = read_bytes(content)
    data = document_read.to_dict()
    pictures = _pictures_of(path, content) if images else {}
    name = os.path.splitext(os.path.basename(path))[0] if path is not None else "document"
    document = docling_document(data, name or "document", pictures)
    document.origin = _origin(path, content, str(data.get("format", "")))
    return document


__all__ = ["docling_document", "to_docling"]
