"""Worker threads against worker processes, for `convert_many` and for the command line.

    PYTHONPATH=build/dev:python python3 bench/executors.py [--corpus DIR] [--count 20000]
                                      [--jobs 2] [--rounds 3] [--only convert_many|command-line]

The shared documents (features, realworld, and the HWPX files and twins) are repeated, as
symbolic links in numbered folders, until there are at least `--count` of them. Each round
measures, one after the other: `paravox.convert_many(paths, jobs, executor=...)` consumed in
this process, then `paravox FOLDER -o OUT --jobs N --executor ...` as a fresh command, for each
executor (in turn first and second); the best round of each is kept, so the two are compared
under the same load. Prints a
Markdown table of documents per second, wall seconds, and CPU seconds of every process involved
(on a machine shared with other work, the CPU time is the steadier figure).
"""

from __future__ import annotations

import argparse
import ctypes
import os
import platform
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict, List, Tuple

import paravox

REPO_DIR = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = REPO_DIR.parent / "shared" / "corpus"
EXECUTORS = ("thread", "process")
PR_SET_CHILD_SUBREAPER = 36
DOCUMENT_FOLDERS = ("features", "realworld", "hwpx/twins", "hwpx/files")


def corpus_documents(corpus: Path) -> List[Path]:
    documents = []
    for folder in DOCUMENT_FOLDERS:
        documents += sorted(
            path
            for path in (corpus / folder).iterdir()
            if path.suffix.lower() in (".hwp", ".hwpx") and path.is_file()
        )
    return documents


def repeated_folder(documents: List[Path], count: int, root: Path) -> List[str]:
    """Links to `documents` in root/r000, root/r001, ... until there are `count`; their paths."""
    paths: List[str] = []
    repetition = 0
    while len(paths) < count:
        folder = root / f"r{repetition:03d}"
        folder.mkdir(parents=True)
        for document in documents:
            link = folder / document.name
            os.symlink(document, link)
            paths.append(str(link))
        repetition += 1
    return paths


def adopt_orphans() -> None:
    """Makes processes orphaned below this one (the command line's forkserver and its workers)
    this process's children, so that their CPU time is counted once they are reaped."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit(f"prctl(PR_SET_CHILD_SUBREAPER): {os.strerror(ctypes.get_errno())}")


def reap_children() -> None:
    """Waits for every child process still running or not yet reaped."""
    while True:
        try:
            os.waitpid(-1, 0)
        except ChildProcessError:
            return


def cpu_seconds() -> float:
    """CPU seconds of this process and of every descendant that has ended and been reaped."""
    total = 0.0
    for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN):
        usage = resource.getrusage(who)
        total += usage.ru_utime + usage.ru_stime
    return total


def timed(run: Callable[[], None]) -> Tuple[float, float]:
    """Wall seconds of `run()`, and the CPU seconds it and every process it started used."""
    cpu_before, start = cpu_seconds(), time.perf_counter()
    run()
    wall = time.perf_counter() - start
    reap_children()
    return wall, cpu_seconds() - cpu_before


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS)
    parser.add_argument("--count", type=int, default=20_000)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument(
        "--only", choices=("convert_many", "command-line"), help="measure one of the two alone"
    )
    args = parser.parse_args()
    if not args.corpus.is_dir():
        sys.exit(f"shared documents not found at {args.corpus}")

    documents = corpus_documents(args.corpus)
    adopt_orphans()
    work = Path(tempfile.mkdtemp(prefix="paravox-executors-"))
    try:
        inputs = work / "in"
        paths = repeated_folder(documents, args.count, inputs)
        output = work / "out"
        environment = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path[1:])}
        best: Dict[Tuple[str, str], Tuple[float, float]] = {}

        def keep(key: Tuple[str, str], measured: Tuple[float, float]) -> None:
            wall, cpu = measured
            print(f"{key[0]}, {key[1]}: {wall:.2f} s, CPU {cpu:.2f} s", file=sys.stderr)
            if key not in best or wall < best[key][0]:
                best[key] = measured

        for round_number in range(args.rounds):
            # Every other round in the other order, so that a load that drifts favours neither.
            for executor in EXECUTORS[:: 1 if round_number % 2 == 0 else -1]:

                def many() -> None:
                    for _ in paravox.convert_many(paths, jobs=args.jobs, executor=executor):
                        pass

                if args.only != "command-line":
                    keep(("convert_many", executor), timed(many))
                if args.only == "convert_many":
                    continue

                shutil.rmtree(output, ignore_errors=True)
                command = [sys.executable, "-m", "paravox", str(inputs), "-o", str(output)]
                command += ["--jobs", str(args.jobs), "--executor", executor, "--no-progress"]

                def cli() -> None:
                    subprocess.run(command, env=environment, stderr=subprocess.DEVNULL, check=False)

                keep(("command line", executor), timed(cli))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(
        f"{len(paths)} documents ({len(documents)} shared documents repeated), "
        f"--jobs {args.jobs}, best of {args.rounds} rounds; {os.cpu_count()} cores, "
        f"Python {platform.python_version()}, paravox {paravox.__version__}\n"
    )
    print("| what | executor | documents/s | wall s | CPU s |")
    print("|---|---|---|---|---|")
    for (what, executor), (wall, cpu) in best.items():
        print(f"| {what} | {executor} | {len(paths) / wall:,.0f} | {wall:.2f} | {cpu:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
