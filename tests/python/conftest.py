import os
import sys
from pathlib import Path

import pytest

TESTS_DIR = Path(__file__).resolve().parent.parent
REPO_DIR = TESTS_DIR.parent
# The fixture builder lives in tests/hwpbuilder.
sys.path.insert(0, str(TESTS_DIR))

CORPUS_DIR = Path(os.environ.get("PARAVOX_CORPUS", REPO_DIR.parent / "shared" / "corpus"))


@pytest.fixture(scope="session")
def corpus_dir() -> Path:
    if not CORPUS_DIR.is_dir():
        pytest.skip(f"shared corpus of real documents not found at {CORPUS_DIR}")
    return CORPUS_DIR
