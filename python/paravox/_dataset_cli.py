"""The command line's dataset routes: -o FILE.parquet / FILE.jsonl, on this machine or on Dask."""

from __future__ import annotations

import argparse
import contextlib
import logging
import os
import re
import time
from typing import Any, Iterator, Optional, Tuple

from ._batch import ExecutorKind
from ._console import EXIT_FAILED, EXIT_USAGE, STDIN, Batch, Report, ReportEntry, error
from ._convert import Options
from ._dataset import FORMATS, Row, check_format_available, format_of, rows, sink
from ._errors import failure_message
from ._storage import MissingDependencyError, is_url, list_documents, open_output

_LOCAL_CLUSTER = re.compile(r"^local(?::([1-9][0-9]*))?$")


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--format",
        choices=FORMATS,
        help="write one dataset file -o FILE with a row per document (default: by the suffix "
        "of -o, .parquet or .jsonl)",
    )
    engine = parser.add_mutually_exclusive_group()
    engine.add_argument(
        "--cluster",
        metavar="local[:N]",
        help="convert on a Dask cluster of N worker processes started here (default N: --jobs)",
    )
    engine.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="convert on the running Dask cluster whose scheduler is at ADDRESS",
    )


def wanted(args: argparse.Namespace) -> bool:
    """Whether the command line asks for a dataset file or a Dask cluster."""
    output = args.output_dir
    return (
        args.format is not None
        or args.cluster is not None
        or args.scheduler is not None
        or (output is not None and format_of(output) is not None)
    )


def _local_rows(
    inputs: list[str], jobs: int, executor: ExecutorKind, options: Options
) -> Tuple[int, Iterator[Row], Any]:
    listed = list_documents(inputs)
    converted = rows(listed, jobs, executor=executor, options=options)
    return len(listed), converted, contextlib.nullcontext()


def _dask_rows(
    inputs: list[str],
    cluster: Optional[str],
    scheduler: Optional[str],
    jobs: int,
    options: Options,
) -> Tuple[int, Iterator[Row], Any]:
    from .dask import distributed, iter_rows

    Client, LocalCluster = distributed.Client, distributed.LocalCluster

    stack = contextlib.ExitStack()
    try:
        if scheduler is not None:
            client = stack.enter_context(Client(scheduler))
        else:
            match = _LOCAL_CLUSTER.match(cluster or "")
            workers = int(match.group(1)) if match and match.group(1) else jobs
            local = stack.enter_context(
                LocalCluster(
                    n_workers=workers,
                    threads_per_worker=1,
                    processes=True,
                    # Any free port for the scheduler's web page: no clash with another cluster.
                    dashboard_address=":0",
                    # This command reports for the cluster it starts; Dask's own warnings
                    # (e.g. about workers slow to stop) would only repeat or confuse that.
                    silence_logs=logging.ERROR,
                )
            )
            client = stack.enter_context(Client(local))
        total, converted = iter_rows(client, inputs, options=options)
    except BaseException:
        stack.close()
        raise
    return total, converted, stack


def _report_entry(row: Row, output: Optional[str]) -> ReportEntry:
    """The report's entry for a row: as in a run into a folder, `output` being the dataset."""
    return {
        "path": row["path"],
        "format": row["format"],
        "status": row["status"],
        "message": row["message"],
        "output": output,
        "input_bytes": row["input_bytes"],
        "output_bytes": row["output_bytes"],
        "seconds": round(row["seconds"], 6),
    }


def main(
    parser: argparse.ArgumentParser, args: argparse.Namespace, progress: bool, options: Options
) -> int:
    inputs: list[str] = args.inputs
    out: Optional[str] = args.output_dir
    if out is None:
        parser.error("--format, --cluster and --scheduler need -o FILE.parquet or FILE.jsonl")
    chosen = format_of(out, args.format)
    if chosen is None:
        parser.error(f"-o {out}: with --cluster or --scheduler, -o names a .parquet or .jsonl file")
    if STDIN in inputs:
        parser.error("- (standard input) is converted to standard output only; leave out -o")
    if options.to == "json" and (args.cluster is not None or args.scheduler is not None):
        parser.error("--to json writes local datasets only; leave out --cluster and --scheduler")
    if args.cluster is not None and not _LOCAL_CLUSTER.match(args.cluster):
        parser.error(f"--cluster {args.cluster}: give local or local:N")
    if not is_url(out) and os.path.isdir(out):
        parser.error(f"-o {out}: is a folder, not a {chosen} file")
    try:
        check_format_available(chosen)
        if args.cluster is not None or args.scheduler is not None:
            from . import dask as _  # noqa: F401  says which extra is missing, before any work
    except MissingDependencyError as missing:
        error(str(missing))
        return EXIT_USAGE

    start = time.perf_counter()
    report: Optional[Report] = None
    if args.report is not None:
        try:
            report = Report(args.report)
        except OSError as failure:
            error(f"cannot write report {args.report}: {failure_message(failure)}")
            return EXIT_USAGE

    batch = Batch(report)
    interrupted = False
    try:
        if args.cluster is not None or args.scheduler is not None:
            total, results, engine = _dask_rows(
                inputs, args.cluster, args.scheduler, args.jobs, options
            )
        else:
            total, results, engine = _local_rows(inputs, args.jobs, args.executor, options)
        with engine, open_output(out) as file, batch.start(total, progress):
            writer = sink(chosen, file, options)
            try:
                for row in results:
                    writer.add(row)
                    batch.add(_report_entry(row, None if row["status"] == "error" else out))
            except KeyboardInterrupt:
                # Keep what was done: the file holds the rows finished so far.
                interrupted = True
            writer.close()
    except OSError as failure:  # the output cannot be written
        if report is not None:
            report.discard()
        error(f"cannot write {out}: {failure_message(failure)}")
        return EXIT_FAILED
    except BaseException:
        if report is not None:
            report.discard()
        raise

    return batch.finish(
        {"output": out, "format": chosen},
        seconds=time.perf_counter() - start,
        interrupted=interrupted,
        inputs=inputs,
        destination=out,
        kept=f"; {out} holds them",
    )
