"""The `paravox` command line: one document to standard output, or many into a folder."""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import errno
import functools
import os
import sys
import time
from dataclasses import dataclass
from typing import Iterator, List, Optional, Sequence, Set, Tuple, Union

from . import __version__
from ._batch import DEFAULT_EXECUTOR, EXECUTORS, ExecutorKind, default_jobs, ordered_map
from ._batch import process_context
from ._console import (
    EXIT_FAILED,
    EXIT_INTERRUPTED,
    EXIT_OK,
    EXIT_USAGE,
    STDIN,
    Batch,
    Report,
    ReportEntry,
    error,
)
from ._convert import OUTPUTS, PROFILES, Options, Outcome, convert_data_output, convert_output
from ._errors import failure_message
from ._pictures import list_pictures
from ._storage import DOCUMENT_SUFFIXES, list_local, new_file_mode, open_output

_EPILOG = """\
examples:
  paravox report.hwp                     print one document as Markdown
  paravox report.hwpx > report.md        ... and keep it in a file
  paravox - < report.hwp                 read the document from standard input
  paravox docs/ -o md/                   convert every .hwp and .hwpx under docs/ into
                                         md/, keeping sub-folders: docs/a/b.hwp -> md/a/b.md
  paravox docs/ extra.hwp -o md/ --jobs 4 --report md/report.json
  paravox report.hwp --profile minimal   tables cell after cell, as _paravox gives them
  paravox docs/ -o data/ --to json       the documents as data: data/a/b.json, one
                                         "paravox.document" (schema/document.schema.json)
  paravox report.hwp --front-matter      title, author and times first, as YAML
  find docs -name '*.hwp' -print0 | xargs -0 paravox -o md/

Folders are searched recursively for files ending in .hwp or .hwpx (any letter case).
A file named on the command line is converted whatever its name; the format is told
from the file's first bytes. Existing .md files are replaced; input files are never
overwritten. A document that cannot be converted is reported on standard error as
"path: message" and the batch goes on; nothing is written for it. A document of which
a part cannot be read (a damaged section, or one past the 256 MiB ceiling) is written
without that part and reported as "path: partial: what is missing and why"; with
--strict it fails instead.

exit status:
  0  every document was converted, some perhaps only in part
  1  some documents failed (with --strict, also those converted only in part), or no
     .hwp or .hwpx file was found
  2  bad usage: an unknown option, several files without -o, - with -o, an -o that
     is not a folder or cannot be created, a --report file that cannot be written
"""


@dataclass(frozen=True)
class _Task:
    """One document to convert into one output file (sent to a worker)."""

    source: str
    output: str
    mode: int  # permission bits of a newly written output
    pictures: bool = False  # write the pictures beside the output and link them


@dataclass(frozen=True)
class _Outcome:
    """What happened to one document (sent back from a worker)."""

    status: str  # "ok", "partial" (written without a part that could not be read) or "error"
    message: Optional[str]
    format: Optional[str]  # "hwp" or "hwpx"; None when not read or recognised as neither
    input_bytes: Optional[int]
    output_bytes: Optional[int]
    seconds: float


@dataclass(frozen=True)
class _Entry:
    """One input in command-line order: a task to run, or a failure known before converting."""

    source: str
    task: Optional[_Task] = None
    failure: Optional[str] = None


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {value}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="paravox",
        description="Convert HWP and HWPX documents (Hangul word processor) into Markdown.",
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "inputs",
        nargs="+",
        metavar="FILE_OR_DIR",
        help="an .hwp or .hwpx document, - for standard input, "
        "or a folder searched recursively for documents",
    )
    parser.add_argument(
        "-o",
        "--output-dir",
        metavar="OUTDIR",
        help="write OUTDIR/<name>.md for every document (created when missing); "
        "without it, the one FILE is printed to standard output",
    )
    parser.add_argument(
        "-j",
        "--jobs",
        type=_positive_int,
        metavar="N",
        help="documents converted at once with -o (default: the number of cores, "
        "%(default)s here)",
        default=default_jobs(),
    )
    parser.add_argument(
        "--executor",
        choices=EXECUTORS,
        default=DEFAULT_EXECUTOR,
        help="with --jobs above 1, convert in worker threads of this process or in worker "
        "processes (default: %(default)s)",
    )
    parser.add_argument(
        "--progress",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="show a progress bar on standard error (default: when it is a terminal)",
    )
    parser.add_argument(
        "--report",
        metavar="FILE.json",
        help="with -o, write a JSON report of every input: format, status, message, output, "
        "sizes, time",
    )
    parser.add_argument(
        "--profile",
        choices=PROFILES,
        default="full",
        help="what the Markdown holds: full (tables as the document draws them, merged cells "
        "and nested tables in HTML, captions) or minimal (cells in record order, as _paravox "
        "gives them) (default: %(default)s)",
    )
    parser.add_argument(
        "--strict",
        action="store_true",
        help="fail a document of which a part cannot be read, rather than convert the rest of "
        "it and report it as partial",
    )
    parser.add_argument(
        "--to",
        choices=OUTPUTS,
        default="markdown",
        help="what is written for each document: its Markdown (<name>.md) or, in the full "
        "profile, the document as JSON (<name>.json); a dataset written with json gets a "
        "`document` column holding the JSON beside the Markdown (default: %(default)s)",
    )
    parser.add_argument(
        "--pictures",
        action="store_true",
        help="with -o: write each document's embedded pictures into a folder beside its "
        "Markdown (md/NAME/image1.png next to md/NAME.md) and link them there",
    )
    parser.add_argument(
        "--front-matter",
        action="store_true",
        help="put each document's metadata (title, author, times, ...) above its Markdown as "
        "YAML front matter",
    )
    parser.add_argument(
        "--headers-footers",
        action="store_true",
        help="write each distinct header and footer once, at the start of the section that "
        "defines it (full profile)",
    )
    parser.add_argument("--version", action="version", version=f"paravox {__version__}")
    from ._dataset_cli import add_arguments

    add_arguments(parser)  # dataset files and Dask clusters
    return parser


def _output_bytes(outcome: Outcome) -> bytes:
    """A document's JSON if it was asked for, else its Markdown, as written: UTF-8, ending
    with a line feed unless empty."""
    converted, document = outcome
    data = (document if document is not None else converted.markdown).encode("utf-8")
    return data + b"\n" if data else data


def _run_task(task: _Task, options: Options) -> _Outcome:
    """Converts one document into its output file (runs in a worker)."""
    start = time.perf_counter()
    try:
        input_bytes: Optional[int] = os.stat(task.source).st_size
    except OSError:
        input_bytes = None
    folder = os.path.splitext(os.path.basename(task.output))[0]
    try:
        if task.pictures:
            options = dataclasses.replace(options, picture_links=folder)
        outcome = convert_output(task.source, options)
        converted = outcome[0]
        data = _output_bytes(outcome)
        files: List[Tuple[str, bytes]] = []  # the pictures' file names and bytes
        if task.pictures:
            listed, read = list_pictures(task.source)
            files = [(picture.file_name, picture.data) for picture in listed]
            converted = converted._replace(warnings=converted.warnings + read.warnings)
    except Exception as error:
        return _Outcome(
            "error",
            failure_message(error),
            getattr(error, "format", None),
            input_bytes,
            None,
            time.perf_counter() - start,
        )
    try:
        written = task.output
        with open_output(written, mode=task.mode) as output:
            output.write(data)
        if files:
            pictures_dir = os.path.join(os.path.dirname(task.output), folder)
            os.makedirs(pictures_dir, exist_ok=True)
            for file_name, picture_data in files:
                written = os.path.join(pictures_dir, file_name)
                with open_output(written, mode=task.mode) as output:
                    output.write(picture_data)
    except OSError as error:
        message = f"cannot write {written}: {failure_message(error)}"
        seconds = time.perf_counter() - start
        return _Outcome("error", message, converted.format, input_bytes, None, seconds)
    status = "partial" if converted.warnings else "ok"
    seconds = time.perf_counter() - start
    return _Outcome(
        status, converted.missing, converted.format, input_bytes, len(data), seconds
    )


def _output_name(name: str, extension: str) -> str:
    """x.hwp / x.HWPX -> x.md; any other name gets .md added (notes.txt -> notes.txt.md);
    likewise for .json."""
    for suffix in DOCUMENT_SUFFIXES:
        if name.lower().endswith(suffix):
            return name[: -len(suffix)] + extension
    return name + extension


def _file_identity(path: str) -> Optional[Tuple[int, int]]:
    try:
        status = os.stat(path)
    except OSError:
        return None
    return status.st_dev, status.st_ino


def _plan(
    inputs: Sequence[str], output_dir: str, mode: int, extension: str, pictures: bool = False
) -> List[_Entry]:
    """Every input document with its output path, in command-line order.

    An output that is one of the inputs or that a previous document already claims becomes a
    failure; the same input reached twice for the same output is converted once.
    """
    found: List[Union[_Entry, Tuple[str, str]]] = []  # failures, and (source, output) pairs
    for argument in inputs:
        folder = os.path.isdir(argument)
        for source, failure in list_local(argument):
            if failure is not None:
                found.append(_Entry(source, failure=failure))
                continue
            # A folder's documents keep their place below it; a file is named for itself.
            name = os.path.relpath(source, argument) if folder else os.path.basename(source)
            found.append((source, os.path.join(output_dir, _output_name(name, extension))))

    pairs = [item for item in found if isinstance(item, tuple)]
    # An output can only destroy an input if it already exists as that very file (under its own
    # name, or through a symbolic or hard link), so file identities are what is compared.
    input_identities = {identity for source, _ in pairs if (identity := _file_identity(source))}
    claimed: dict[str, str] = {}  # normalised output -> source that writes it
    seen: Set[Tuple[object, str]] = set()
    entries: List[_Entry] = []
    for item in found:
        if isinstance(item, _Entry):
            entries.append(item)
            continue
        source, output = item
        output_key = os.path.normpath(os.path.abspath(output))
        source_key = _file_identity(source) or os.path.normpath(os.path.abspath(source))
        if (source_key, output_key) in seen:
            continue
        seen.add((source_key, output_key))
        if _file_identity(output) in input_identities:
            failure = f"output {output} is an input file; not overwritten"
            entries.append(_Entry(source, failure=failure))
        elif output_key in claimed:
            failure = f"output {output} is already written from {claimed[output_key]}"
            entries.append(_Entry(source, failure=failure))
        else:
            claimed[output_key] = source
            entries.append(_Entry(source, task=_Task(source, output, mode, pictures)))
    return entries


# The failure line's message for a path argument that names nothing, in either mode.
_MISSING = os.strerror(errno.ENOENT)


def _convert_to_stdout(source: str, options: Options) -> int:
    try:
        if source == STDIN:
            outcome = convert_data_output(sys.stdin.buffer.read(), options)
        elif not os.path.lexists(source):
            raise FileNotFoundError(errno.ENOENT, _MISSING, source)
        else:
            outcome = convert_output(source, options)
        converted = outcome[0]
        data = _output_bytes(outcome)
    except Exception as failure:
        print(f"{source}: {failure_message(failure)}", file=sys.stderr)
        return EXIT_FAILED
    if converted.missing is not None:
        print(f"{source}: partial: {converted.missing}", file=sys.stderr)
    try:
        sys.stdout.flush()
        sys.stdout.buffer.write(data)  # UTF-8 whatever the locale says
        sys.stdout.buffer.flush()
    except BrokenPipeError:
        # The reader went away (e.g. `| head`); keep Python from complaining again at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_FAILED
    return EXIT_OK


def _outcomes(
    entries: Sequence[_Entry], jobs: int, executor: ExecutorKind, options: Options
) -> Iterator[Tuple[_Entry, _Outcome]]:
    """Runs the tasks of `entries` and yields every entry with its outcome, in order."""
    tasks = [entry.task for entry in entries if entry.task is not None]
    jobs = min(jobs, len(tasks)) or 1
    context = process_context() if jobs > 1 and executor == "process" else None
    run = functools.partial(_run_task, options=options)
    results = ordered_map(run, tasks, jobs, context, executor)
    with contextlib.closing(results):  # stops the workers on an early exit
        for entry in entries:
            if entry.task is None:
                yield entry, _Outcome("error", entry.failure, None, None, None, 0.0)
                continue
            _, result = next(results)
            if isinstance(result, Exception):  # the worker process itself died
                yield entry, _Outcome("error", failure_message(result), None, None, None, 0.0)
            else:
                yield entry, result


def _report_entry(entry: _Entry, outcome: _Outcome) -> ReportEntry:
    return {
        "path": entry.source,
        "format": outcome.format,
        "status": outcome.status,
        "message": outcome.message,
        "output": entry.task.output if outcome.status != "error" and entry.task else None,
        "input_bytes": outcome.input_bytes,
        "output_bytes": outcome.output_bytes,
        "seconds": round(outcome.seconds, 6),
    }


def _convert_to_folder(
    inputs: Sequence[str],
    output_dir: str,
    jobs: int,
    executor: ExecutorKind,
    progress: bool,
    report_path: Optional[str],
    options: Options,
    pictures: bool = False,
) -> int:
    start = time.perf_counter()
    report: Optional[Report] = None
    if report_path is not None:
        try:
            report = Report(report_path)
        except OSError as failure:
            error(f"cannot write report {report_path}: {failure_message(failure)}")
            return EXIT_USAGE

    batch = Batch(report)
    interrupted = False
    try:
        extension = ".json" if options.to == "json" else ".md"
        entries = _plan(inputs, output_dir, new_file_mode(), extension, pictures)
        if any(entry.task is not None for entry in entries):
            try:
                os.makedirs(output_dir, exist_ok=True)
            except OSError as failure:
                if report is not None:
                    report.discard()
                error(f"cannot create -o {output_dir}: {failure_message(failure)}")
                return EXIT_USAGE
        with batch.start(len(entries), progress):
            for entry, outcome in _outcomes(entries, jobs, executor, options):
                batch.add(_report_entry(entry, outcome))
    except KeyboardInterrupt:
        # Keep what was done: the report lists the documents finished so far.
        interrupted = True
    except BaseException:
        if report is not None:
            report.discard()
        raise

    return batch.finish(
        {"output_dir": output_dir},
        seconds=time.perf_counter() - start,
        interrupted=interrupted,
        inputs=inputs,
        destination=output_dir,
        kept=f"; the report lists them in {report.path}" if report else "",
    )


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line with `argv` (default: sys.argv[1:]) and returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    inputs: List[str] = args.inputs
    if args.to == "json" and args.profile != "full":
        parser.error("--to json writes the full profile's document; leave out --profile minimal")
    options = Options(
        profile=args.profile,
        strict=args.strict,
        to=args.to,
        front_matter=args.front_matter,
        headers_footers=args.headers_footers,
    )
    try:
        from . import _dataset_cli

        if _dataset_cli.wanted(args):
            progress = sys.stderr.isatty() if args.progress is None else args.progress
            return _dataset_cli.main(parser, args, progress, options)
        if args.output_dir is None:
            if len(inputs) > 1:
                parser.error("give -o OUTDIR to convert more than one file")
            if inputs[0] != STDIN and os.path.isdir(inputs[0]):
                parser.error(
                    f"{inputs[0]} is a folder; give -o OUTDIR to convert the documents in it"
                )
            if args.report is not None:
                parser.error("--report needs -o OUTDIR")
            if args.pictures:
                parser.error("--pictures needs -o OUTDIR")
            return _convert_to_stdout(inputs[0], options)

        if STDIN in inputs:
            parser.error(
                "- (standard input) is converted to standard output only; leave out -o "
                "(name a file that is called - as ./-)"
            )
        if os.path.exists(args.output_dir) and not os.path.isdir(args.output_dir):
            parser.error(f"-o {args.output_dir}: not a folder")
        if args.pictures and args.profile != "full":
            parser.error("--pictures needs --profile full")
        progress = sys.stderr.isatty() if args.progress is None else args.progress
        return _convert_to_folder(
            inputs,
            args.output_dir,
            args.jobs,
            args.executor,
            progress,
            args.report,
            options,
            args.pictures,
        )
    except KeyboardInterrupt:
        error("interrupted")
        return EXIT_INTERRUPTED
