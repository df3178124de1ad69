"""The exceptions paravox raises when a document cannot be converted.

Each is a `RuntimeError`, so code written for the first versions, which raised `RuntimeError`
alone, keeps working. `str(error)` is the one-line message; `error.format` says which reader
the input went to: "hwp", "hwpx", or None when it was recognised as neither.
"""

from __future__ import annotations

from typing import Optional


class ParavoxError(RuntimeError):
    """A document could not be converted; the message says why."""

    format: Optional[str]

    def __init__(self, message: str, *, format: Optional[str] = None) -> None:
        super().__init__(message)
        self.format = format


class FileReadError(ParavoxError):
    """The file cannot be read: "IO error: ..." (missing, a folder, no permission)."""


class NotADocumentError(ParavoxError):
    """The input is not an HWP or HWPX document (a PDF, a DOCX, an empty file, HWP 3.x, ...)."""


class DamagedDocumentError(ParavoxError):
    """The document's compound file or ZIP package is damaged."""


class PasswordProtectedError(ParavoxError):
    """The document is encrypted with a password."""


class DistributionDocumentError(ParavoxError):
    """The document is a distribution document: its text is stored encrypted, for viewing only."""


class DocumentTooLargeError(ParavoxError):
    """The Markdown, or an inflated part of the document, would pass 256 MiB."""


class PartialDocumentWarning(UserWarning):
    """A document was converted only in part: a section it has could not be read to its end
    (damaged, or past the 256 MiB ceiling), so the Markdown lacks that text. The message says
    what is missing and why; `kind` is "damaged" or "too_large", for the error that
    `strict=True` raises instead (`DamagedDocumentError` or `DocumentTooLargeError`)."""

    kind: str

    def __init__(self, message: str, kind: str = "damaged") -> None:
        super().__init__(message)
        self.kind = kind


class SkippedDocumentWarning(UserWarning):
    """A loader (`paravox.langchain`, `paravox.llama_index`) went on without a document that
    could not be read at all; the message starts with its path and says why."""


def failure_message(error: BaseException) -> str:
    """The text after "path: " in a failure line."""
    if isinstance(error, ParavoxError):
        return str(error)  # the converter's own message, e.g. "Invalid HWP signature"
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    return f"{type(error).__name__}: {error}"


__all__ = [
    "DamagedDocumentError",
    "DistributionDocumentError",
    "DocumentTooLargeError",
    "FileReadError",
    "NotADocumentError",
    "ParavoxError",
    "PartialDocumentWarning",
    "PasswordProtectedError",
    "SkippedDocumentWarning",
]
