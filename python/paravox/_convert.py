"""Path handling around the two functions of the `_paravox` extension."""

from __future__ import annotations

import os
from typing import Callable, TypeVar, Union

import _paravox

# Anything `open()` accepts as a file name.
StrOrBytesPath = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

_T = TypeVar("_T")

# Where an open descriptor can be reopened by name (Linux, then BSD and macOS).
_FD_DIRS = ("/proc/self/fd", "/dev/fd")


def to_str_path(path: StrOrBytesPath) -> str:
    """`path` as a `str`: path-like objects through `os.fspath`, bytes through `os.fsdecode`."""
    name = os.fspath(path)
    if isinstance(name, bytes):
        return os.fsdecode(name)
    return name


def _has_utf8_form(name: str) -> bool:
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def _call_with_path(function: Callable[[str], _T], path: StrOrBytesPath) -> _T:
    name = to_str_path(path)
    if _has_utf8_form(name):
        return function(name)
    # A file name whose bytes are not UTF-8 (say, EUC-KR names unpacked from an old archive)
    # decodes to a string with lone surrogates, which the extension cannot take. Open the file
    # here and hand the extension a name for the open descriptor instead.
    fd_dir = next((d for d in _FD_DIRS if os.path.isdir(d)), None)
    if fd_dir is None:
        return function(name)  # raises the interpreter's UnicodeEncodeError
    try:
        fd = os.open(name, os.O_RDONLY | getattr(os, "O_CLOEXEC", 0))
    except OSError as error:
        # The same message the extension gives when it cannot open a file.
        raise RuntimeError(
            f"IO error: {os.strerror(error.errno or 0)} (os error {error.errno})"
        ) from None
    try:
        return function(f"{fd_dir}/{fd}")
    finally:
        os.close(fd)


def convert(path: StrOrBytesPath) -> str:
    """Converts the HWP document at `path` into Markdown and returns it.

    `path` may be a `str`, `bytes` or any path-like object such as `pathlib.Path`.
    Raises `RuntimeError` when the document cannot be read; its message says why, e.g.
    "Invalid HWP signature" or "Password-protected HWP files are not supported".
    """
    return _call_with_path(_paravox.hwp_to_markdown, path)


def records(path: StrOrBytesPath) -> list[tuple[int, int, int]]:
    """Returns one `(tag_id, level, size)` tuple per record of the document's first body section.

    A diagnostic for looking inside a document. Raises `RuntimeError` like `convert`, and also
    when the first section cannot be read or inflated.
    """
    return _call_with_path(_paravox.hwp_debug_records, path)
