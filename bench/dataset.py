"""Dataset runs: documents in memory, one Parquet file against .md files, and a Dask cluster.

    PYTHONPATH=build/dev:python python3 bench/dataset.py [--corpus DIR] [--count 20000]
                                                        [--rounds 3] [--workers 2]

The shared documents are repeated as symbolic links until there are `--count` of them (as in
bench/executors.py). Each round measures, one after the other on the same documents:

- `paravox.convert(path)` for every document, in this process;
- `paravox.convert_bytes(data)` for every document, its bytes read into memory beforehand;
- `paravox.convert_to_dataset(IN, "x.parquet", jobs=1)` in this process;
- `paravox IN -o x.parquet --jobs 1`, `paravox IN -o md/ --jobs 1` and
  `paravox IN -o x.parquet --jobs 2`, each a fresh command;
- the Dask route on a LocalCluster of `--workers` processes started beforehand:
  `paravox.dask.iter_rows` written into a Parquet file as `--scheduler` does, and
  `paravox.dask.to_dataset`. Its overhead per document is counted in CPU time, which the load
  of other processes on the machine does not inflate: the CPU seconds of the workers, the
  scheduler and the client (this process) over the run, less those of
  `convert_to_dataset(..., jobs=1)` in process over the same documents (which converts and
  writes the same Parquet file), divided by the number of documents.

The best round of each is kept. Then the peak resident memory of `-o x.parquet --jobs 1` over
1,000 and over `--count` documents, each in a fresh process. Prints a Markdown table.
"""

from __future__ import annotations

import argparse
import os
import platform
import resource
import shutil
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path
from typing import Callable, Dict, List, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parent))

import paravox  # noqa: E402
from executors import DEFAULT_CORPUS, corpus_documents, repeated_folder, timed  # noqa: E402

# Runs the command line in a fresh process and prints its peak resident memory in KiB.
_PEAK = textwrap.dedent("""
    import sys
    from paravox.cli import main
    main(sys.argv[1:])
    with open("/proc/self/status") as status:
        print(next(line.split()[1] for line in status if line.startswith("VmHWM:")))
    """)


def own_cpu_seconds() -> float:
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def peak_kib(arguments: List[str], environment: Dict[str, str]) -> int:
    completed = subprocess.run(
        [sys.executable, "-c", _PEAK, *arguments],
        env=environment,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
        text=True,
        check=False,
    )
    return int(completed.stdout.split()[-1])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS)
    parser.add_argument("--count", type=int, default=20_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument(
        "--skip",
        nargs="*",
        default=[],
        choices=["commands", "to_dataset", "peak"],
        help="leave out the command lines, to_dataset or the peak memory runs",
    )
    args = parser.parse_args()
    if not args.corpus.is_dir():
        sys.exit(f"shared documents not found at {args.corpus}")

    from distributed import Client, LocalCluster

    import paravox.dask
    from paravox._dataset import sink

    documents = corpus_documents(args.corpus)
    contents = {str(document): document.read_bytes() for document in documents}
    work = Path(tempfile.mkdtemp(prefix="paravox-dataset-"))
    environment = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path[1:])}
    best: Dict[str, Tuple[float, float]] = {}
    overheads: Dict[str, float] = {}

    def keep(key: str, measured: Tuple[float, float]) -> None:
        if key not in best or measured[0] < best[key][0]:
            best[key] = measured

    def command(*arguments: str) -> Callable[[], None]:
        line = [sys.executable, "-m", "paravox", *arguments, "--no-progress"]

        def run() -> None:
            subprocess.run(line, env=environment, stderr=subprocess.DEVNULL, check=False)

        return run

    cluster = LocalCluster(
        n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None
    )
    client = Client(cluster)
    try:
        inputs = work / "in"
        paths = repeated_folder(documents, args.count, inputs)
        in_memory = [contents[os.path.realpath(path)] for path in paths]

        for round_number in range(args.rounds):

            def in_process() -> None:
                for path in paths:
                    try:
                        paravox.convert(path)
                    except paravox.ParavoxError:
                        pass

            def from_memory() -> None:
                for data in in_memory:
                    try:
                        paravox.convert_bytes(data)
                    except paravox.ParavoxError:
                        pass

            keep("convert(path), in process", timed(in_process))
            keep("convert_bytes(data), in process", timed(from_memory))

            def to_parquet() -> None:
                paravox.convert_to_dataset(str(inputs), str(work / "x.parquet"), jobs=1)

            keep("convert_to_dataset(.parquet, jobs=1), in process", timed(to_parquet))
            for name, arguments in (
                ()
                if "commands" in args.skip
                else (
                    ("-o x.parquet --jobs 1", ["-o", str(work / "x.parquet"), "--jobs", "1"]),
                    ("-o md/ --jobs 1", ["-o", str(work / "md"), "--jobs", "1"]),
                    ("-o x.parquet --jobs 2", ["-o", str(work / "x.parquet"), "--jobs", "2"]),
                )
            ):
                shutil.rmtree(work / "md", ignore_errors=True)
                keep(f"paravox IN {name}", timed(command(str(inputs), *arguments)))

            def on_cluster() -> None:
                _, rows = paravox.dask.iter_rows(client, [str(inputs)])
                with open(work / "dask.parquet", "wb") as file:
                    writer = sink("parquet", file)
                    for row in rows:
                        writer.add(row)
                    writer.close()

            workers_before = sum(client.run(own_cpu_seconds).values())
            self_before = own_cpu_seconds()
            name = f"Dask iter_rows -> .parquet, {args.workers} workers"
            keep(name, timed(on_cluster))
            spent = sum(client.run(own_cpu_seconds).values()) - workers_before
            spent += own_cpu_seconds() - self_before
            reference = best["convert_to_dataset(.parquet, jobs=1), in process"][1]
            overhead = (spent - reference) / len(paths)
            overheads[name] = min(overhead, overheads.get(name, overhead))

            def frame() -> None:
                shutil.rmtree(work / "dataset", ignore_errors=True)
                paravox.dask.to_dataset([str(inputs)], str(work / "dataset"))

            if "to_dataset" not in args.skip:
                keep(f"Dask to_dataset, {args.workers} workers", timed(frame))
            print(f"round {round_number + 1} of {args.rounds} done", file=sys.stderr)

        peaks = {
            count: peak_kib(
                (
                    [str(inputs), "-o", str(work / f"peak{count}.parquet"), "--jobs", "1"]
                    if count == len(paths)
                    else [*paths[:count], "-o", str(work / f"peak{count}.parquet"), "--jobs", "1"]
                ),
                environment,
            )
            for count in (1_000, len(paths))
            if "peak" not in args.skip
        }
    finally:
        client.close()
        cluster.close()
        shutil.rmtree(work, ignore_errors=True)

    print(
        f"{len(paths)} documents ({len(documents)} shared documents repeated), best of "
        f"{args.rounds} rounds; {os.cpu_count()} cores, Python {platform.python_version()}, "
        f"paravox {paravox.__version__}\n"
    )
    reference = len(paths) / best["convert(path), in process"][0]
    print("| what | documents/s | against convert(path) | wall s | CPU s |")
    print("|---|---|---|---|---|")
    for what, (wall, cpu) in best.items():
        rate = len(paths) / wall
        print(f"| {what} | {rate:,.0f} | {rate / reference:.2f} | {wall:.2f} | {cpu:.2f} |")
    for what, overhead in overheads.items():
        print(f"\n{what}: overhead {overhead * 1e6:,.0f} µs of CPU per document")
    for count, peak in peaks.items():
        print(
            f"peak memory of -o x.parquet --jobs 1 over {count:,} documents: {peak / 1024:.0f} MiB"
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
