"""A LlamaIndex reader for HWP and HWPX documents (extra `[llama-index]`).

    >>> from paravox.llama_index import ParavoxReader
    >>> documents = ParavoxReader(mode="chunks").load_data("report.hwpx")
"""

from __future__ import annotations

from typing import Any, Dict, Iterable, Iterator, List, Optional, Union

from ._adapters import Mode, check_max_chars, check_mode, load_pieces
from ._convert import StrOrBytesPath
from ._storage import import_optional

(_readers, _schema) = import_optional(
    ["llama_index.core.readers.base", "llama_index.core.schema"],
    "paravox.llama_index needs llama-index-core: pip install 'paravox[llama-index]'",
)


_BaseReader: Any = _readers.BaseReader


class ParavoxReader(_BaseReader):  # type: ignore[misc]
    """Reads HWP and HWPX documents as LlamaIndex `Document`s, one per file, per body block
    or per heading section (`mode`: "document", "elements" or "chunks"), with the metadata and
    the handling of unreadable files that `paravox.langchain.ParavoxLoader` has."""

    def __init__(
        self,
        *,
        mode: Mode = "document",
        strict: bool = False,
        max_chars: Optional[int] = None,
    ) -> None:
        super().__init__()
        self._mode = check_mode(mode)
        self._strict = strict
        self._max_chars = check_max_chars(max_chars)

    def lazy_load_data(
        self,
        file: Union[StrOrBytesPath, Iterable[StrOrBytesPath]],
        extra_info: Optional[Dict[str, Any]] = None,
        fs: Any = None,
    ) -> Iterator[Any]:
        """The documents of `file` (a path, a folder or a list of them); `extra_info` is added
        to every document's metadata. With an fsspec file system `fs` (as `SimpleDirectoryReader`
        hands one), `file` names files in it."""
        pieces = load_pieces(
            file, self._mode, strict=self._strict, max_chars=self._max_chars, fs=fs
        )
        for piece in pieces:
            metadata = {**piece.metadata, **(extra_info or {})}
            yield _schema.Document(text=piece.text, metadata=metadata)

    def load_data(
        self,
        file: Union[StrOrBytesPath, Iterable[StrOrBytesPath]],
        extra_info: Optional[Dict[str, Any]] = None,
        fs: Any = None,
    ) -> List[Any]:
        return list(self.lazy_load_data(file, extra_info, fs))


__all__ = ["ParavoxReader"]
