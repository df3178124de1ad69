# Type information for the paravox._native extension module.

import sys

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer

__all__: list[str]

class InternalFault(BaseException): ...

def convert_path(path: str | bytes) -> tuple[str, str]:
    """Converts the HWP or HWPX document at `path` (str or bytes) into Markdown."""

def convert_buffer(data: Buffer) -> tuple[str, str]:
    """Converts the HWP or HWPX document held in `data` (any bytes-like object) into Markdown."""
