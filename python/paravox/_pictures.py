"""The embedded pictures of a document, listed at once and read on demand."""

from __future__ import annotations

import os
from typing import List, Optional, Tuple, Union

from . import _native
from ._convert import Converted, Source, _read_source, warn_partial


class Picture:
    """An embedded picture: `id` ("image1", numbered in the order the document first shows
    it), `format` (its stored extension in lower case, "png"), `size` in bytes and
    `media_type` (HWPX only, else None). `data` reads its bytes from the document.
    `Document.pictures` gives None as the size of a picture whose size the file does not
    declare without the picture being read."""

    __slots__ = ("id", "format", "size", "media_type", "_document")

    def __init__(
        self,
        id: str,
        format: str,
        size: Optional[int],
        media_type: Optional[str],
        document: Union[str, bytes],
    ) -> None:
        self.id = id
        self.format = format
        self.size = size
        self.media_type = media_type
        self._document = document  # the path, or the bytes read from a file object

    @property
    def file_name(self) -> str:
        """The name it is linked by: "image1.png"."""
        return f"{self.id}.{self.format}" if self.format else self.id

    @property
    def data(self) -> bytes:
        """The picture's bytes, read from the document again on each access."""
        if isinstance(self._document, str):
            return _native.picture_data_path(self._document, self.id)
        return _native.picture_data_buffer(self._document, self.id)

    def __repr__(self) -> str:
        return f"Picture(id={self.id!r}, format={self.format!r}, size={self.size})"


def list_pictures(document: Union[str, bytes]) -> Tuple[List[Picture], Converted]:
    """The pictures of the document at the path `document` (a str) or held in it (bytes), and
    what was read as a `Converted` without Markdown: the format and the warnings."""
    if isinstance(document, str):
        entries, format, warnings = _native.pictures_path(document)
    else:
        entries, format, warnings = _native.pictures_buffer(document)
    return [Picture(*entry, document) for entry in entries], Converted("", format, warnings)


def _listing(document: Union[str, bytes]) -> List[Picture]:
    listed, read = list_pictures(document)
    warn_partial(read, stacklevel=3)
    return listed


def pictures(source: Source) -> List[Picture]:
    """Lists the embedded pictures of an HWP or HWPX document as `Picture` values.

    `source` is taken as `convert` takes it. Each picture shown in the document is listed
    once, under the id that `convert(..., picture_links=...)` links it by; the two formats of
    one document give the same ids, formats and bytes. A picture that cannot be read (a
    damaged or missing stream, or one past 256 MiB) is left out with a
    `PartialDocumentWarning`; the document is refused as `convert` refuses it.
    """
    return _read_source(
        "pictures",
        source,
        lambda path: _listing(os.fsdecode(path) if isinstance(path, bytes) else path),
        lambda data: _listing(bytes(data)),
    )
