# Type information for the paravox._native extension module.

import sys
from typing import Dict, Tuple, Union

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer

from paravox._convert import Options

__all__: list[str]

# A converted document: (markdown, format, warnings); format is "hwp" or "hwpx", and each warning
# is (kind, message) for a part that could not be read, kind "damaged" or "too_large".
_Result = tuple[str, str, tuple[tuple[str, str], ...]]

class InternalFault(BaseException): ...

def convert_path(path: str | bytes, options: Options) -> _Result:
    """Converts the HWP or HWPX document at `path` (str or bytes) into Markdown as `options`
    say (options.profile: "full" or "minimal")."""

def convert_buffer(data: Buffer, options: Options) -> _Result:
    """Converts the HWP or HWPX document held in `data` (any bytes-like object) into Markdown
    as `options` say."""

def metadata_path(path: str | bytes) -> Tuple[Dict[str, Union[str, int]], str]:
    """Reads the metadata of the HWP or HWPX document at `path` (str or bytes)."""

def metadata_buffer(data: Buffer) -> Tuple[Dict[str, Union[str, int]], str]:
    """Reads the metadata of the HWP or HWPX document held in `data` (any bytes-like object)."""

def records_path(path: str | bytes) -> list[tuple[int, int, int]]:
    """Lists the (tag_id, level, size) of each record of the first body section of the binary
    HWP document at `path` (str or bytes)."""

def records_buffer(data: Buffer) -> list[tuple[int, int, int]]:
    """Lists the records as records_path does, of the document held in `data`."""

# A document read whole: (handle, format, warnings, metadata); the handle is opaque.
_Read = tuple[object, str, tuple[tuple[str, str], ...], Dict[str, Union[str, int]]]

def read_path(path: str | bytes, options: Options) -> _Read:
    """Reads the HWP or HWPX document at `path` (str or bytes) whole, as a full conversion does."""

def read_buffer(data: Buffer, options: Options) -> _Read:
    """Reads the HWP or HWPX document held in `data` (any bytes-like object) whole."""

def document_markdown(handle: object, options: Options) -> str:
    """The full profile's Markdown of the document a handle holds."""

def document_json(handle: object) -> str:
    """The JSON of the document a handle holds ("paravox.document", version 1)."""

# Listed pictures: (pictures, format, warnings), a picture being (id, format, size, media_type).
_Pictures = tuple[tuple[tuple[str, str, int, str | None], ...], str, tuple[tuple[str, str], ...]]

def pictures_path(path: str | bytes) -> _Pictures:
    """Lists the embedded pictures of the HWP or HWPX document at `path` (str or bytes)."""

def pictures_buffer(data: Buffer) -> _Pictures:
    """Lists the embedded pictures of the document held in `data` (any bytes-like object)."""

def picture_data_path(path: str | bytes, id: str, /) -> bytes:
    """The bytes of picture `id` ("image1") of the document at `path`."""

def picture_data_buffer(data: Buffer, id: str, /) -> bytes:
    """The bytes of picture `id` of the document held in `data`."""
