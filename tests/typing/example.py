"""A small program written against paravox's typed API; `mypy --strict` must accept it."""

from __future__ import annotations

import sys
from datetime import datetime
from pathlib import Path

import _paravox
import paravox


def markdown_of(path: Path) -> str:
    return paravox.convert(path)


def record_tags(path: str | bytes) -> list[int]:
    return [tag_id for tag_id, _level, _size in paravox.records(path)]


def convert_folder(folder: Path, jobs: int | None = None) -> dict[Path, str]:
    converted: dict[Path, str] = {}
    for path, result in paravox.convert_many(sorted(folder.rglob("*.hwp")), jobs=jobs):
        if isinstance(result, Exception):
            print(f"{path}: {result}", file=sys.stderr)
        else:
            converted[path] = result
    return converted


def markdown_or_reason(path: Path) -> tuple[str | None, str | None]:
    """The Markdown, or None and the format the failed input was read as."""
    try:
        with path.open("rb") as file:
            return paravox.convert(file), None
    except paravox.NotADocumentError:
        return None, None
    except paravox.ParavoxError as error:
        return None, error.format


def markdown_of_bytes(data: bytes | bytearray | memoryview) -> str:
    return paravox.convert_bytes(data)


def created_of(path: Path) -> datetime | None:
    value = paravox.metadata(path).get("created")
    return value if isinstance(value, datetime) else None


def raw_records(path: str) -> list[tuple[int, int, int]]:
    return _paravox.hwp_debug_records(path)


if __name__ == "__main__":
    version: str = paravox.__version__
    texts = convert_folder(Path(sys.argv[1]), jobs=2)
    print(version, sum(len(text) for text in texts.values()))
