"""What the stable ABI costs: instructions per document of the extension modules built with
Py_LIMITED_API 3.11 (as the cp311-abi3 wheel ships them) against the same modules built for the
running interpreter's full API, counted by callgrind side by side.

    .venv/bin/python bench/limited_api.py [--corpus DIR] [--build DIR]

Both builds are for the running interpreter (3.11 or newer) and need CMake 3.26 or newer (the
one beside the interpreter, else the first on the PATH). A count is the difference between
converting every document three times and once, over twice the number of documents, so that
start-up, imports and first calls cancel out.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

REPO_DIR = Path(__file__).resolve().parent.parent

# The child converts the documents PASSES times with one function of one build.
CHILD = r"""
import sys
python_dir, build, function, passes = sys.argv[1:5]
sys.path[:0] = [python_dir, build]
if function == "convert_path":
    from paravox import _native as module
else:
    import _paravox as module
if not module.__file__.startswith(build):
    sys.exit(f"{module.__name__} imported from {module.__file__}, not from {build}")
convert = getattr(module, function)
paths = sys.stdin.read().splitlines()
for _ in range(int(passes)):
    for path in paths:
        try:
            convert(path)
        except RuntimeError:
            pass
"""

VARIANTS = {
    "limited": ["-DSKBUILD_SABI_VERSION=3.11", "-DSKBUILD_SABI_COMPONENT=Development.SABIModule"],
    "full": [],
}


def build(cmake: str, folder: Path, defines: list[str]) -> None:
    subprocess.run(
        [cmake, "-S", str(REPO_DIR), "-B", str(folder), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         f"-DPython_EXECUTABLE={sys.executable}", *defines],
        check=True, stdout=subprocess.DEVNULL,
    )  # fmt: skip
    subprocess.run(
        [cmake, "--build", str(folder), "-j2", "--target", "_paravox", "_native"],
        check=True, stdout=subprocess.DEVNULL,
    )  # fmt: skip


def instructions(folder: Path, function: str, paths: list[Path], passes: int) -> int:
    """Instructions callgrind counts for a whole child run."""
    with tempfile.TemporaryDirectory() as scratch:
        out = Path(scratch) / "callgrind.out"
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c",
             CHILD, str(REPO_DIR / "python"), str(folder), function, str(passes)],
            input="\n".join(map(str, paths)), text=True, check=True, capture_output=True,
            env=dict(os.environ, PYTHONHASHSEED="0"),  # the same dictionaries in every run
        )  # fmt: skip
        for line in out.read_text().splitlines():
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1])
    raise RuntimeError(f"no instruction total in callgrind's output for {function}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", type=Path, default=REPO_DIR.parent / "shared" / "corpus")
    parser.add_argument("--build", type=Path, default=REPO_DIR / "build" / "bench-abi")
    options = parser.parse_args()
    options.build = options.build.resolve()
    if sys.version_info < (3, 11):
        sys.exit("the limited API of Python 3.11 needs Python 3.11 or newer to run")
    cmake = shutil.which("cmake", path=os.pathsep.join([str(Path(sys.executable).parent),
                                                        os.environ.get("PATH", "")]))  # fmt: skip
    if cmake is None or shutil.which("valgrind") is None:
        sys.exit("needs cmake and valgrind")

    corpus = options.corpus
    binary = sorted([*corpus.glob("features/*.hwp"), *corpus.glob("realworld/*.hwp")])
    hwpx = sorted(corpus.glob("hwpx/*/*.hwpx"))
    if not binary or not hwpx:
        sys.exit(f"no HWP or no HWPX documents in {corpus}")
    rows = [
        ("_paravox.hwp_to_markdown", "hwp_to_markdown", "HWP", binary),
        ("_paravox.hwp_debug_records", "hwp_debug_records", "HWP", binary),
        ("paravox._native.convert_path", "convert_path", "HWP", binary),
        ("paravox._native.convert_path", "convert_path", "HWPX", hwpx),
    ]

    for variant, defines in VARIANTS.items():
        build(cmake, options.build / variant, defines)
    python = ".".join(map(str, sys.version_info[:3]))
    print(f"Python {python}; instructions per document (callgrind), 3 passes - 1 pass\n")
    print("| function | documents | limited API 3.11 | full API | limited / full |")
    print("|---|---|---|---|---|")
    for label, function, kind, paths in rows:
        per_document = {}
        for variant in VARIANTS:
            folder = options.build / variant
            counts = [instructions(folder, function, paths, passes) for passes in (1, 3)]
            per_document[variant] = (counts[1] - counts[0]) / (2 * len(paths))
        limited, full = per_document["limited"], per_document["full"]
        print(
            f"| `{label}` | {len(paths)} {kind} | {limited:,.0f} | {full:,.0f} "
            f"| {100 * (limited / full - 1):+.2f} % |",
            flush=True,
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
