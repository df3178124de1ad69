"""Type checking: the package and a small program using it pass `mypy --strict`."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO_DIR = Path(__file__).resolve().parents[2]
PACKAGE_SOURCES = REPO_DIR / "python"
EXAMPLE = REPO_DIR / "tests" / "typing" / "example.py"

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None,
    reason="mypy is not installed (pip install mypy types-tqdm)",
)


@pytest.fixture(scope="module")
def cache_dir(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """One mypy cache for the module's runs: the standard library is analysed once."""
    return tmp_path_factory.mktemp("mypy-cache")


def mypy(*args: str | os.PathLike[str], cwd: Path, search_path: Path | None, cache_dir: Path):
    env = {key: value for key, value in os.environ.items() if key != "MYPYPATH"}
    if search_path is not None:
        env["MYPYPATH"] = str(search_path)
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache_dir), *map(str, args)],
        cwd=cwd,
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )


class TestSourceTree:
    def test_package_stub_and_example_pass_strict(self, tmp_path, cache_dir):
        completed = mypy(
            PACKAGE_SOURCES / "paravox",
            PACKAGE_SOURCES / "_paravox.pyi",
            EXAMPLE,
            cwd=tmp_path,
            search_path=PACKAGE_SOURCES,
            cache_dir=cache_dir,
        )
        assert completed.returncode == 0, completed.stdout + completed.stderr

    @pytest.mark.parametrize(
        "line,error",
        [
            ('n: int = paravox.convert("a.hwp")', '"str", variable has type "int"'),
            ("s: str = paravox.records(b'a.hwp')[0][2]", '"int", variable has type "str"'),
            ("paravox.convert(3)", 'incompatible type "int"'),
            ("paravox.convert_many(['a.hwp'], jobs='2')", 'incompatible type "str"'),
            (
                "r: str = next(paravox.convert_many(['a.hwp']))[1]",
                '"str | Exception", variable has type "str"',
            ),
            ("_paravox.hwp_to_markdown(Path('a.hwp'))", 'incompatible type "Path"'),
            ("paravox.convert_bytes('a.hwp')", 'incompatible type "str"'),
            ("f: str = paravox.ParavoxError('m').format", '"str | None", variable has type "str"'),
        ],
    )
    def test_misuse_is_caught(self, tmp_path, cache_dir, line, error):
        program = tmp_path / "misuse.py"
        program.write_text(f"from pathlib import Path\nimport _paravox\nimport paravox\n{line}\n")
        completed = mypy(program, cwd=tmp_path, search_path=PACKAGE_SOURCES, cache_dir=cache_dir)

        assert completed.returncode == 1
        assert error in completed.stdout, completed.stdout


def test_installed_package_is_typed(tmp_path, cache_dir):
    """An installed paravox, with its stub for _paravox, is found by mypy without help."""
    import paravox

    if Path(paravox.__file__).resolve().is_relative_to(REPO_DIR):
        pytest.skip("paravox is imported from the source tree, not installed")
    program = tmp_path / "program.py"
    program.write_text(EXAMPLE.read_text("utf-8"))
    completed = mypy(program, cwd=tmp_path, search_path=None, cache_dir=cache_dir)

    assert completed.returncode == 0, completed.stdout + completed.stderr
