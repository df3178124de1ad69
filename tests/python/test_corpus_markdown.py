"""Real documents of the shared corpus convert exactly to their expected Markdown or error."""

from pathlib import Path

import pytest

import _paravox
from conftest import CORPUS_DIR

FOLDERS = ("features", "realworld", "bad")


def corpus_documents() -> list[tuple[str, str]]:
    if not CORPUS_DIR.is_dir():
        return []
    return [
        (folder, path.name)
        for folder in FOLDERS
        for path in sorted((CORPUS_DIR / folder).glob("*.hwp"))
    ]


DOCUMENTS = corpus_documents()


def expected_outcome(corpus_dir: Path, folder: str, name: str) -> tuple[str, str]:
    """("md", text) or ("error", message) as recorded for the document."""
    stem = Path(name).stem
    expected_dir = corpus_dir / "expected" / folder
    markdown = expected_dir / f"{stem}.md"
    if markdown.exists():
        return "md", markdown.read_bytes().decode("utf-8")
    return "error", (expected_dir / f"{stem}.error").read_bytes().decode("utf-8")


@pytest.mark.parametrize(
    "folder, name", DOCUMENTS or [pytest.param("", "", marks=pytest.mark.skip("no corpus"))]
)
def test_document_converts_as_expected(corpus_dir, folder, name):
    kind, expected = expected_outcome(corpus_dir, folder, name)
    path = str(corpus_dir / folder / name)
    if kind == "md":
        assert _paravox.hwp_to_markdown(path) == expected
    else:
        with pytest.raises(RuntimeError) as info:
            _paravox.hwp_to_markdown(path)
        assert info.value.args == (expected,)


def test_every_document_has_an_expected_outcome(corpus_dir):
    assert len(DOCUMENTS) == 374
    for folder, name in DOCUMENTS:
        stem = Path(name).stem
        expected_dir = corpus_dir / "expected" / folder
        assert (expected_dir / f"{stem}.md").exists() != (expected_dir / f"{stem}.error").exists()
