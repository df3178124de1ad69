"""Converting one document: by path or from memory, HWP or HWPX, through `paravox._native`."""

from __future__ import annotations

import os
import sys
import warnings
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from typing import (
    Any,
    Callable,
    Dict,
    Literal,
    NamedTuple,
    Optional,
    Protocol,
    Tuple,
    TypeVar,
    Union,
)


from . import _native
from ._errors import PartialDocumentWarning

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer

# Anything `open()` accepts as a file name.
StrOrBytesPath = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]


class BinaryReader(Protocol):
    """A file object opened for reading in binary mode, such as `open(path, "rb")`."""

    def read(self) -> bytes: ...


# What `convert` takes: a path, or an open binary file to read the document from.
Source = Union[StrOrBytesPath, BinaryReader]

_T = TypeVar("_T")


# The output profiles, by name.
PROFILES = ("full", "minimal")
Profile = Literal["full", "minimal"]

# What a conversion writes besides the Markdown: nothing, or the document as JSON.
OUTPUTS = ("markdown", "json")
Output = Literal["markdown", "json"]


@dataclass(frozen=True)
class Options:
    """How documents are converted: the one value that every route (one document, batches,
    datasets, Dask) hands down to `paravox._native`. Picklable, for worker processes."""

    # What the output holds: "full" (tables as the document draws them), or "minimal",
    # exactly what `_paravox` gives for a binary document.
    profile: Profile = "full"
    # Refuse a document that could be read only in part, with the error of what was lost.
    strict: bool = False
    # "json": the document is read whole, and its JSON comes with the Markdown (full profile).
    to: Output = "markdown"
    # Full profile: link each embedded picture as ![caption](FOLDER/image1.png) instead of
    # writing a placeholder ("paravox.pictures" gives the files).
    picture_links: Optional[str] = None
    # The document's metadata as YAML front matter above the Markdown.
    front_matter: bool = False
    # Write each distinct header and footer once, at the start of the section that defines it
    # (full profile; the minimal one has none).
    headers_footers: bool = False

    def __post_init__(self) -> None:
        if self.profile not in PROFILES:
            raise ValueError(f'profile must be "full" or "minimal", not {self.profile!r}')
        for name in ("strict", "front_matter", "headers_footers"):
            value = getattr(self, name)
            if not isinstance(value, bool):
                raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
        if self.picture_links is not None and not isinstance(self.picture_links, str):
            raise TypeError(
                f"picture_links must be a str or None, not {type(self.picture_links).__name__}"
            )
        if self.to not in OUTPUTS:
            raise ValueError(f'to must be "markdown" or "json", not {self.to!r}')
        if self.to == "json" and self.profile != "full":
            raise ValueError("the document's JSON comes with the full profile only")


class Converted(NamedTuple):
    """A converted document: its Markdown, its format ("hwp" or "hwpx"), and a `(kind,
    message)` pair for each part of it that could not be read (none when it was read whole)."""

    markdown: str
    format: str
    warnings: Tuple[Tuple[str, str], ...]

    @property
    def missing(self) -> Optional[str]:
        """What is missing from the Markdown and why, or None when nothing is."""
        return "; ".join(message for _, message in self.warnings) or None


def to_str_path(path: StrOrBytesPath) -> str:
    """`path` as a `str`: path-like objects through `os.fspath`, bytes through `os.fsdecode`."""
    name = os.fspath(path)
    if isinstance(name, bytes):
        return os.fsdecode(name)
    return name


def _read_source(
    function: str,
    source: Source,
    by_path: Callable[[Union[str, bytes]], _T],
    by_buffer: Callable[[bytes], _T],
) -> _T:
    """`by_path` of a path, or `by_buffer` of what a binary file object holds."""
    if isinstance(source, (str, bytes, os.PathLike)):
        # A str or bytes name goes to the file system as it is: bytes never mean content.
        return by_path(os.fspath(source))
    read = getattr(source, "read", None)
    if read is None:
        raise TypeError(
            f"{function}() takes a path (str, bytes or os.PathLike) or a file opened in binary"
            f" mode, not {type(source).__name__!r}"
        )
    data = read()
    if isinstance(data, str):
        raise TypeError(f"{function}() needs a file opened in binary mode ('rb'), not text mode")
    return by_buffer(data)


def convert_document(source: Source, options: Options = Options()) -> Converted:
    """Converts a document given as for `convert`; warns of nothing, raises as `convert`."""
    return _read_source(
        "convert",
        source,
        lambda path: Converted(*_native.convert_path(path, options)),
        lambda data: convert_data(data, options),
    )


def convert_data(data: Buffer, options: Options = Options()) -> Converted:
    """Converts the document held in `data`, as `convert_bytes`; warns of nothing."""
    return Converted(*_native.convert_buffer(data, options))


# A conversion and, when the options ask for it, the document's JSON.
Outcome = Tuple[Converted, Optional[str]]


def _with_json(read: Tuple[Any, str, Tuple[Tuple[str, str], ...], Any], options: Options) -> Outcome:
    """The Markdown and JSON of a document `_native` read whole."""
    handle, format, warnings, _ = read
    markdown = _native.document_markdown(handle, options)
    return Converted(markdown, format, warnings), _native.document_json(handle)


def convert_output(source: Source, options: Options = Options()) -> Outcome:
    """`convert_document`, with the document's JSON when `options.to` is "json" (else None):
    both from one reading."""
    if options.to != "json":
        return convert_document(source, options), None
    return _read_source(
        "convert",
        source,
        lambda path: _with_json(_native.read_path(path, options), options),
        lambda data: convert_data_output(data, options),
    )


def convert_data_output(data: Buffer, options: Options = Options()) -> Outcome:
    """`convert_output` of the document held in `data`."""
    if options.to != "json":
        return convert_data(data, options), None
    return _with_json(_native.read_buffer(data, options), options)


def warn_partial(converted: Converted, about: Optional[str] = None, stacklevel: int = 1) -> None:
    """Issues a PartialDocumentWarning for each part of `converted` that could not be read,
    its message after `about: ` if given; `stacklevel` counts from the caller."""
    for kind, message in converted.warnings:
        text = f"{about}: {message}" if about is not None else message
        warnings.warn(PartialDocumentWarning(text, kind), stacklevel=stacklevel + 1)


def convert(
    source: Source,
    *,
    profile: Profile = "full",
    strict: bool = False,
    picture_links: Optional[str] = None,
    front_matter: bool = False,
    headers_footers: bool = False,
) -> str:
    """Converts an HWP or HWPX document into Markdown and returns it.

    `source` is the document's path (`str`, `bytes` or any path-like object such as
    `pathlib.Path`) or a file object opened in binary mode, which is read to its end. The
    format is recognised from the document's first bytes, whatever its file name.
    `profile` says what the Markdown holds: "full" (the default: tables as the document draws
    them, merged cells and nested tables in HTML, captions) or "minimal" (exactly what
    `_paravox` gives for a binary document); any other name raises ValueError. In the full
    profile footnotes and endnotes are Markdown footnotes, and `headers_footers=True` writes
    each distinct header and footer once, at the start of the section that defines it.
    Raises a `paravox.ParavoxError` (a `RuntimeError`) when the document cannot be converted;
    its class says what kind of failure it is and its message says why, e.g.
    "Not an HWP or HWPX document: a PDF document".

    A document of which a part could not be read (a damaged section, or one past the 256 MiB
    ceiling) gives the Markdown of the rest with a `paravox.PartialDocumentWarning` saying what
    is missing and why; with `strict=True` it raises the error of that part instead
    (`DamagedDocumentError` or `DocumentTooLargeError`, with the warning's message).

    With `picture_links="NAME"` (full profile) each embedded picture is written as a link,
    `![caption](NAME/image1.png)`, to the file `paravox.pictures` gives under that id, instead
    of the `[이미지]` placeholder.

    With `front_matter=True` the values `metadata` gives come first as YAML front matter
    between "---" lines (strings double-quoted, times as "2024-05-01T09:30:00Z"); a document
    without any gets none.
    """
    options = Options(
        profile=profile,
        strict=strict,
        picture_links=picture_links,
        front_matter=front_matter,
        headers_footers=headers_footers,
    )
    converted = convert_document(source, options)
    warn_partial(converted, stacklevel=2)
    return converted.markdown


def convert_bytes(
    data: Buffer,
    *,
    profile: Profile = "full",
    strict: bool = False,
    picture_links: Optional[str] = None,
    front_matter: bool = False,
    headers_footers: bool = False,
) -> str:
    """Converts the HWP or HWPX document held in `data` into Markdown and returns it.

    `data` is any bytes-like object (bytes, bytearray, memoryview, mmap); it is read in place,
    and other threads run while it is converted. Same results, warnings and exceptions as
    `convert` on a file holding the same bytes.
    """
    options = Options(
        profile=profile,
        strict=strict,
        picture_links=picture_links,
        front_matter=front_matter,
        headers_footers=headers_footers,
    )
    converted = convert_data(data, options)
    warn_partial(converted, stacklevel=2)
    return converted.markdown


_UNIX_EPOCH = datetime(1970, 1, 1, tzinfo=timezone.utc)


def metadata(source: Source) -> Dict[str, Any]:
    """Returns what an HWP or HWPX document says about itself.

    `source` is taken as `convert` takes it. The dict holds the keys among "title",
    "subject", "author", "keywords", "comments" and "last_saved_by" (`str`) and "created" and
    "modified" (`datetime` in UTC) whose values the document has; an absent or empty value is
    an absent key. A binary document's come from its summary information, an HWPX package's
    from Contents/content.hpf. The document is recognised and refused as `convert` refuses it,
    with the same exceptions; a damaged summary only leaves values out.
    """
    read, _ = _read_source("metadata", source, _native.metadata_path, _native.metadata_buffer)
    return metadata_values(read)


def metadata_values(read: Dict[str, Union[str, int]]) -> Dict[str, Any]:
    """The metadata `_native` reads, its times (microseconds since 1970) as UTC datetimes."""
    values: Dict[str, Any] = dict(read)
    for key in ("created", "modified"):
        microseconds = read.get(key)
        if isinstance(microseconds, int):
            values[key] = _UNIX_EPOCH + timedelta(microseconds=microseconds)
    return values


def records(source: Source) -> list[tuple[int, int, int]]:
    """Returns one `(tag_id, level, size)` tuple per record of the document's first body section.

    A diagnostic for looking inside a binary HWP document, given as `convert` takes it (a path
    or a file opened in binary mode). Raises the errors `convert` raises, with the binary
    reader's messages, and also when the first section cannot be read or inflated.
    """
    return _read_source("records", source, _native.records_path, _native.records_buffer)


def records_bytes(data: Buffer) -> list[tuple[int, int, int]]:
    """Returns the records as `records` does, of the binary HWP document held in `data` (any
    bytes-like object, read in place while other threads run)."""
    return _native.records_buffer(data)
