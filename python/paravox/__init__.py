"""Convert binary HWP 5.0 documents (Hangul word processor) into Markdown.

    >>> import paravox
    >>> markdown = paravox.convert("report.hwp")
    >>> for path, result in paravox.convert_many(["a.hwp", "b.hwp"]):
    ...     print(path, "failed:" if isinstance(result, Exception) else "ok", result)

The conversion itself is done by the `_paravox` extension module; this package adds path-like
arguments, parallel batch conversion and the `paravox` command line.
"""

from __future__ import annotations

from importlib import metadata as _metadata

from ._batch import convert_many
from ._convert import StrOrBytesPath, convert, records

try:
    __version__: str = _metadata.version("paravox")
except _metadata.PackageNotFoundError:  # running from a source tree that was not installed
    __version__ = "0+unknown"

from ._dataset import convert_to_dataset

__all__ = [
    "StrOrBytesPath",
    "__version__",
    "convert",
    "convert_many",
    "convert_to_dataset",
    "records",
]
