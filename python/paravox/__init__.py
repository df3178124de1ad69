"""Convert HWP documents (Hangul word processor; binary HWP 5.0 and HWPX) into Markdown.

    >>> import paravox
    >>> markdown = paravox.convert("report.hwp")
    >>> markdown = paravox.convert_bytes(data)  # a document already in memory
    >>> paravox.metadata("report.hwp")["author"]
    >>> document = paravox.read("report.hwp")  # the document as data
    >>> document.to_dict()["body"][0]
    >>> for path, result in paravox.convert_many(["a.hwp", "b.hwpx"]):
    ...     print(path, "failed:" if isinstance(result, Exception) else "ok", result)

The conversion itself is done by the `paravox._native` extension module; this package adds
path-like arguments, parallel batch conversion and the `paravox` command line.
"""

from __future__ import annotations

from importlib import metadata as _metadata
from pkgutil import extend_path as _extend_path

# Run from a source tree, the extension module is found in the build folder's paravox/.
__path__ = _extend_path(__path__, __name__)

from ._batch import convert_many  # noqa: E402
from ._convert import (  # noqa: E402
    StrOrBytesPath,
    convert,
    convert_bytes,
    metadata,
    records,
    records_bytes,
)
from ._document import Document, read, read_bytes  # noqa: E402
from ._pictures import Picture, pictures  # noqa: E402
from ._errors import (  # noqa: E402
    DamagedDocumentError,
    DistributionDocumentError,
    DocumentTooLargeError,
    FileReadError,
    NotADocumentError,
    ParavoxError,
    PartialDocumentWarning,
    PasswordProtectedError,
    SkippedDocumentWarning,
)

try:
    __version__: str = _metadata.version("paravox")
except _metadata.PackageNotFoundError:  # running from a source tree that was not installed
    __version__ = "0+unknown"

from ._dataset import convert_to_dataset  # noqa: E402

__all__ = [
    "DamagedDocumentError",
    "DistributionDocumentError",
    "Document",
    "DocumentTooLargeError",
    "FileReadError",
    "NotADocumentError",
    "ParavoxError",
    "PartialDocumentWarning",
    "PasswordProtectedError",
    "Picture",
    "SkippedDocumentWarning",
    "StrOrBytesPath",
    "__version__",
    "convert",
    "convert_bytes",
    "convert_many",
    "convert_to_dataset",
    "metadata",
    "read",
    "read_bytes",
    "pictures",
    "records",
    "records_bytes",
]
