"""A LangChain document loader for HWP and HWPX documents (extra `[langchain]`).

    >>> from paravox.langchain import ParavoxLoader
    >>> documents = ParavoxLoader("archive/", mode="chunks").load()
"""

from __future__ import annotations

from typing import Any, Iterable, Iterator, Optional, Union

from ._adapters import Mode, check_max_chars, check_mode, input_paths, load_pieces
from ._convert import StrOrBytesPath
from ._storage import import_optional

(_loaders, _documents) = import_optional(
    ["langchain_core.document_loaders", "langchain_core.documents"],
    "paravox.langchain needs langchain-core: pip install 'paravox[langchain]'",
)


_BaseLoader: Any = _loaders.BaseLoader


class ParavoxLoader(_BaseLoader):  # type: ignore[misc]
    """Loads HWP and HWPX documents as LangChain `Document`s.

    `paths_or_dir` is a path or a list of paths; a folder stands for the .hwp and .hwpx files
    below it. One path and keyword arguments is how `DirectoryLoader` calls its `loader_cls`.
    `mode` says what one `Document` is: "document", a whole file (its Markdown);
    "elements", one block of its body (paragraph, heading, list item, table, ...), then each
    footnote and endnote; "chunks", one heading section, cut between blocks when longer than
    `max_chars` characters, and a longer table cut between rows (its header rows and caption
    repeated in each piece). Metadata: `source`, `format`, what the file says of
    itself (`title`, `author`, `created`, `modified`, ... as strings), and for a document read
    only in part `partial: True` and `warnings`; elements and chunks add `section` and
    `paragraph` (where their first block stands), `headings` (the headings above them) and, for
    elements, `type`. A file that cannot be read is skipped with a warning, unless
    `strict=True`, which raises its error (and that of a file read only in part).
    """

    def __init__(
        self,
        paths_or_dir: Union[StrOrBytesPath, Iterable[StrOrBytesPath]],
        *,
        mode: Mode = "document",
        strict: bool = False,
        max_chars: Optional[int] = None,
    ) -> None:
        self.paths = input_paths(paths_or_dir)
        self.mode = check_mode(mode)
        self.strict = strict
        self.max_chars = check_max_chars(max_chars)

    def lazy_load(self) -> Iterator[Any]:
        for piece in load_pieces(
            self.paths, self.mode, strict=self.strict, max_chars=self.max_chars
        ):
            yield _documents.Document(page_content=piece.text, metadata=piece.metadata)


__all__ = ["ParavoxLoader"]
