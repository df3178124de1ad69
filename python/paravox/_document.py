"""A document read whole: its blocks, metadata and warnings, rendered as Markdown or JSON."""

from __future__ import annotations

import json
import os
import sys
from typing import Any, Dict, List, Optional, Tuple, Union

from . import _native
from ._convert import Converted, Options, Profile, Source, _read_source, metadata_values, warn_partial
from ._pictures import Picture

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer


class Document:
    """An HWP or HWPX document as the full profile reads it, made by `paravox.read`.

    `format` is "hwp" or "hwpx"; `metadata` is what `paravox.metadata` gives; `warnings` holds
    a `(kind, message)` pair for each part that could not be read. `to_dict()` is the document
    as data ("paravox.document", version 1: schema/document.schema.json), `blocks` its body,
    `footnotes`, `endnotes`, `furniture` and `annotations` the layers beside it, and `pictures`
    its embedded pictures.
    """

    __slots__ = ("_handle", "format", "warnings", "metadata", "_dict", "_source")

    def __init__(
        self,
        read: Tuple[Any, str, Tuple[Tuple[str, str], ...], Dict[str, Any]],
        source: Union[str, bytes],
    ) -> None:
        self._handle, self.format, self.warnings, values = read
        self.metadata: Dict[str, Any] = metadata_values(values)
        self._dict: Dict[str, Any] | None = None
        self._source = source  # the path, or the document's bytes: where pictures are read

    def to_markdown(
        self,
        *,
        profile: Profile = "full",
        picture_links: Optional[str] = None,
        front_matter: bool = False,
        headers_footers: bool = False,
    ) -> str:
        """The Markdown `paravox.convert(source, profile="full", ...)` gives for the document
        with the same `picture_links`, `front_matter` and `headers_footers`."""
        options = Options(
            profile=profile,
            picture_links=picture_links,
            front_matter=front_matter,
            headers_footers=headers_footers,
        )
        return _native.document_markdown(self._handle, options)

    def to_json(self) -> str:
        """The document as JSON text (see `to_dict`)."""
        return _native.document_json(self._handle)

    def to_dict(self) -> Dict[str, Any]:
        """The document as data: `json.loads(self.to_json())`, a new copy on every call."""
        data: Dict[str, Any] = json.loads(self.to_json())
        return data

    def _part(self, key: str) -> List[Dict[str, Any]]:
        """A part of the data as dicts (read once, then kept); [] when the document has none."""
        if self._dict is None:
            self._dict = self.to_dict()
        part: List[Dict[str, Any]] = self._dict.get(key, [])
        return part

    @property
    def blocks(self) -> List[Dict[str, Any]]:
        """The body's blocks as dicts, in reading order."""
        return self._part("body")

    @property
    def footnotes(self) -> List[Dict[str, Any]]:
        """The footnotes, `{"label": "1", "origin": ..., "blocks": [...]}`, as [^1] labels them."""
        return self._part("footnotes")

    @property
    def endnotes(self) -> List[Dict[str, Any]]:
        """The endnotes, labelled "e1", "e2", ... as [^e1] in the Markdown."""
        return self._part("endnotes")

    @property
    def notes(self) -> List[Dict[str, Any]]:
        """The footnotes, then the endnotes."""
        return self.footnotes + self.endnotes

    @property
    def furniture(self) -> List[Dict[str, Any]]:
        """The headers and footers: kind, pages ("both", "even", "odd"), section and blocks."""
        return self._part("furniture")

    @property
    def annotations(self) -> List[Dict[str, Any]]:
        """Memos and hidden comments, never part of the Markdown: kind, origin and blocks."""
        return self._part("annotations")

    @property
    def pictures(self) -> List[Picture]:
        """The embedded pictures the JSON lists, as `paravox.Picture` values whose `data` reads
        the bytes from the document on demand. `size` is the picture's size as the file
        declares it, or None where the file declares only that of the deflated stream
        holding it (a compressed picture of a binary document): `len(data)` then gives it.
        A picture the file lists but that cannot be read is listed here too, and its `data`
        raises; `paravox.pictures` leaves such a picture out."""
        return [
            Picture(
                listed["id"],
                listed.get("format", ""),
                None if listed.get("compressed") else listed.get("size"),
                listed.get("media_type"),
                self._source,
            )
            for listed in self._part("pictures")
        ]

    def __repr__(self) -> str:
        return f"<paravox.Document format={self.format!r} warnings={len(self.warnings)}>"


def _partial(document: Document, stacklevel: int) -> Document:
    warn_partial(Converted("", document.format, document.warnings), stacklevel=stacklevel + 1)
    return document


def read(source: Source, *, strict: bool = False) -> Document:
    """Reads an HWP or HWPX document whole and returns it as a `paravox.Document`.

    `source` is taken as `convert` takes it (a path or a file opened in binary mode), and the
    document is recognised, refused and failed with the same exceptions. A document of which
    a part could not be read warns with `paravox.PartialDocumentWarning` as `convert` does,
    or with `strict=True` raises that part's error.
    """
    options = Options(strict=strict)
    document = _read_source(
        "read",
        source,
        lambda path: Document(_native.read_path(path, options), os.fsdecode(path)),
        lambda data: Document(_native.read_buffer(data, options), bytes(data)),
    )
    return _partial(document, stacklevel=2)


def read_bytes(data: Buffer, *, strict: bool = False) -> Document:
    """Reads the HWP or HWPX document held in `data` (any bytes-like object) as `read` does."""
    document = Document(_native.read_buffer(data, Options(strict=strict)), bytes(data))
    return _partial(document, stacklevel=2)
