"""Inputs and outputs named by storage URLs (s3://, memory://, file://, ...) beside local paths.

URLs go through fsspec, imported only when a URL is met, so local paths work without it. Like
every optional dependency, it is imported by name: the package type-checks whether or not it is
installed.
"""

from __future__ import annotations

import contextlib
import errno
import importlib
import os
import re
import tempfile
from typing import IO, Any, Iterator, List, Optional, Sequence, Tuple, Union

from ._errors import failure_message

DOCUMENT_SUFFIXES = (".hwp", ".hwpx")

# A scheme as RFC 3986 spells it, then "://"; a Windows drive ("C:\") has no "//" after it.
_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*://")

# (source, None) for a document to convert, (name, message) for an input that failed already.
Listed = Tuple[str, Optional[str]]


class MissingDependencyError(ImportError):
    """An optional dependency is not installed; the message says which extra brings it."""


def is_url(name: str) -> bool:
    return _URL.match(name) is not None


def import_optional(names: Sequence[str], missing: str) -> List[Any]:
    """The optional modules `names`, imported by name; MissingDependencyError(`missing`), which
    says what to install, if one of them is not there."""
    try:
        return [importlib.import_module(name) for name in names]
    except ImportError:
        raise MissingDependencyError(missing) from None


def _fsspec() -> Any:
    (fsspec,) = import_optional(
        ["fsspec"], "storage URLs need fsspec: pip install 'paravox[storage]'"
    )
    return fsspec


def url_to_fs(url: str, storage_options: Optional[dict[str, Any]] = None) -> Tuple[Any, str]:
    """The fsspec file system of `url` and the path inside it."""
    fs, path = _fsspec().core.url_to_fs(url, **(storage_options or {}))
    return fs, str(path)


def is_document_name(name: str) -> bool:
    return name.lower().endswith(DOCUMENT_SUFFIXES)


def list_local(argument: str) -> List[Listed]:
    """The documents a local path names: a file itself, whatever its name; a folder, the .hwp
    and .hwpx files below it (any letter case), sorted path by path as `find | sort` lists them,
    after the folders below it that could not be read. A missing path is listed with its
    message."""
    if not os.path.isdir(argument):
        if os.path.lexists(argument):
            return [(argument, None)]
        return [(argument, os.strerror(errno.ENOENT))]
    failures: List[Listed] = []

    def unreadable(error: OSError) -> None:
        failures.append((error.filename or argument, failure_message(error)))

    # os.walk gives the folders below `argument` as `argument` joined with their names.
    relatives = [
        os.path.join(parent[len(argument) :].lstrip(os.sep), name)
        for parent, _, files in os.walk(argument, onerror=unreadable)
        for name in files
        if is_document_name(name)
    ]
    relatives.sort(key=lambda path: path.split(os.sep))
    return failures + [(os.path.join(argument, relative), None) for relative in relatives]


def _list_url(argument: str, storage_options: Optional[dict[str, Any]]) -> List[Listed]:
    fs, root = url_to_fs(argument, storage_options)
    if not fs.isdir(root):
        if fs.exists(root):
            return [(argument, None)]
        return [(argument, os.strerror(errno.ENOENT))]
    root = root.rstrip("/")
    # Sources keep the argument's own spelling of the prefix (its scheme, its bucket), so that
    # they open with the same options; only the part below the prefix comes from the listing.
    prefix = argument.rstrip("/")
    relatives = [
        path[len(root) :].lstrip("/")
        for path in fs.find(root)
        if path.startswith(root + "/") and is_document_name(path)
    ]
    relatives.sort(key=lambda path: path.split("/"))
    return [(f"{prefix}/{relative}", None) for relative in relatives]


def list_documents(
    arguments: List[str], storage_options: Optional[dict[str, Any]] = None
) -> List[Listed]:
    """Every document the arguments name, in order, each once.

    A folder or URL prefix stands for the .hwp and .hwpx files below it (any letter case),
    sorted; a file stands for itself whatever its name. A missing input, an unreadable folder
    or a prefix that cannot be listed is listed with its message.
    """
    listed: List[Listed] = []
    seen: set[str] = set()
    here = os.getcwd()
    for argument in arguments:
        try:
            found = (
                _list_url(argument, storage_options) if is_url(argument) else list_local(argument)
            )
        except Exception as error:  # a bucket that does not exist, refused credentials, ...
            found = [(argument, failure_message(error))]
        for name, failure in found:
            key = name if failure is not None or is_url(name) else os.path.join(here, name)
            key = os.path.normpath(key)
            if failure is None and key in seen:
                continue
            seen.add(key)
            listed.append((name, failure))
    return listed


def read_urls(
    urls: List[str], storage_options: Optional[dict[str, Any]] = None
) -> dict[str, Union[bytes, Exception]]:
    """The contents of every URL, or the exception reading it raised; requests run concurrently
    where the file system can (s3fs, for one)."""
    contents: dict[str, Union[bytes, Exception]] = {}
    by_system: dict[int, Tuple[Any, List[Tuple[str, str]]]] = {}
    for url in urls:
        try:
            fs, path = url_to_fs(url, storage_options)
        except Exception as error:
            contents[url] = error
            continue
        by_system.setdefault(id(fs), (fs, []))[1].append((url, path))
    for fs, pairs in by_system.values():
        try:
            found = fs.cat([path for _, path in pairs], on_error="return")
        except Exception as error:
            found = {path: error for _, path in pairs}
        for url, path in pairs:
            content = found.get(path) if isinstance(found, dict) else None
            if content is None:  # a name the file system spells differently in its answer
                try:
                    content = fs.cat_file(path)
                except Exception as error:
                    content = error
            contents[url] = content
    return contents


def new_file_mode() -> int:
    """The permission bits a file created now gets: 0o666 less the umask. Reading the umask
    means setting it for a moment, so threads must not call this at once."""
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask


class AtomicFile:
    """A local file written beside `target` under a temporary name, which becomes `target` on
    `commit()` and vanishes on `discard()`: `target` is left as it was or replaced whole, never
    seen half-written. `mode` is the new file's permission bits (default: `new_file_mode()`)."""

    def __init__(self, target: str, mode: Optional[int] = None) -> None:
        self.target = target
        self._mode = new_file_mode() if mode is None else mode
        folder = os.path.dirname(target) or "."
        os.makedirs(folder, exist_ok=True)
        # A short hidden name: the target's own name may already be as long as names can be.
        fd, self._temporary = tempfile.mkstemp(prefix=".paravox-", suffix=".part", dir=folder)
        self.file: IO[bytes] = os.fdopen(fd, "wb")

    def commit(self) -> None:
        try:
            self.file.close()
            os.chmod(self._temporary, self._mode)
            os.replace(self._temporary, self.target)
        except BaseException:
            self.discard()
            raise

    def discard(self) -> None:
        self.file.close()
        with contextlib.suppress(OSError):
            os.unlink(self._temporary)


@contextlib.contextmanager
def open_output(
    target: str, storage_options: Optional[dict[str, Any]] = None, mode: Optional[int] = None
) -> Iterator[IO[bytes]]:
    """A binary file that becomes `target` when the block ends without an exception.

    A local target is an `AtomicFile` (`mode` its permission bits); a URL target is written
    through fsspec and, where the store allows (e.g. S3's multipart upload), abandoned on an
    exception.
    """
    if is_url(target):
        fs, path = url_to_fs(target, storage_options)
        parent = path.rsplit("/", 1)[0] if "/" in path else ""
        if parent:
            with contextlib.suppress(Exception):  # object stores need no folders
                fs.makedirs(parent, exist_ok=True)
        file = fs.open(path, "wb")
        try:
            yield file
        except BaseException:
            discard = getattr(file, "discard", None)
            if discard is not None:
                discard()
            raise
        file.close()
        return

    local = AtomicFile(target, mode)
    try:
        yield local.file
    except BaseException:
        local.discard()
        raise
    local.commit()
