"""Section 0 records of every real document in the shared corpus, against the expected
`NAME.records` ("tag level size" per line) or `NAME.records.error` (the RuntimeError message)."""

from __future__ import annotations

from pathlib import Path

import pytest

import _paravox
from conftest import CORPUS_DIR

FOLDERS = ("features", "realworld", "bad")


def corpus_documents() -> list[str]:
    """Relative names ("realworld/NAME.hwp") of the corpus documents, empty without a corpus."""
    return sorted(
        str(path.relative_to(CORPUS_DIR))
        for folder in FOLDERS
        for path in (CORPUS_DIR / folder).glob("*.hwp")
    )


def expected_files(corpus_dir: Path, relative: str) -> tuple[Path, Path]:
    document = Path(relative)
    stem = corpus_dir / "expected" / document.parent / document.stem
    return stem.with_name(stem.name + ".records"), stem.with_name(stem.name + ".records.error")


def test_corpus_is_complete(corpus_dir):
    assert len(corpus_documents()) == 374


@pytest.mark.parametrize("relative", corpus_documents() or ["(no corpus)"])
def test_section_zero_records(corpus_dir, relative):
    records_file, error_file = expected_files(corpus_dir, relative)
    path = str(corpus_dir / relative)
    if error_file.exists():
        with pytest.raises(RuntimeError) as caught:
            _paravox.hwp_debug_records(path)
        assert caught.value.args == (error_file.read_text(encoding="utf-8"),)
    else:
        expected = [
            tuple(int(field) for field in line.split())
            for line in records_file.read_text(encoding="utf-8").splitlines()
        ]
        assert _paravox.hwp_debug_records(path) == expected
