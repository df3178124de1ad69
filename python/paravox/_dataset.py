"""Many documents into one dataset file: Parquet (through pyarrow) or JSON Lines, one row each.

Rows are written as they come, in row groups of bounded size, so memory does not grow with the
number of documents.
"""

from __future__ import annotations

import collections
import functools
import json
import os
import time
from datetime import datetime
from typing import (
    IO,
    Any,
    Callable,
    Dict,
    Iterable,
    Iterator,
    List,
    NamedTuple,
    Optional,
    Tuple,
    Union,
)

from ._batch import DEFAULT_EXECUTOR, ExecutorKind, check_executor, default_jobs, ordered_map
from . import _native
from ._batch import process_context
from ._convert import (
    Options,
    Outcome,
    Output,
    Profile,
    StrOrBytesPath,
    convert_data_output,
    convert_document,
    convert_output,
)
from ._convert import metadata_values, to_str_path
from ._errors import failure_message
from ._storage import (
    Listed,
    import_optional,
    is_url,
    list_documents,
    open_output,
    read_urls,
)

FORMATS = ("parquet", "jsonl")

# One row per input document. Plain types only (string, int64, double, timestamp in
# microseconds and UTC), so that every Parquet reader takes the file as it is.
COLUMNS: Tuple[Tuple[str, str], ...] = (
    ("path", "string"),
    ("format", "string"),  # "hwp", "hwpx", or null when the input was neither
    ("status", "string"),  # "ok", "partial" (a part could not be read) or "error"
    ("message", "string"),  # why a document is partial or failed; null when converted whole
    ("markdown", "string"),  # null when not converted
    ("input_bytes", "int64"),  # null when the input could not be read
    ("output_bytes", "int64"),  # UTF-8 bytes of `markdown`
    ("seconds", "double"),
    # What the document says about itself (paravox.metadata); null when absent or not read.
    ("title", "string"),
    ("author", "string"),
    ("created", "timestamp"),
    ("modified", "timestamp"),
)
_METADATA_COLUMNS = ("title", "author", "created", "modified")

# With Options(to="json"), a last column: the document's JSON (paravox.document); null when
# not converted.
DOCUMENT_COLUMN = ("document", "string")

Row = Dict[str, Any]

# A row group is written when it holds this many rows or this much Markdown, whichever comes
# first: large enough for readers to scan quickly, small enough to keep memory flat.
_ROW_GROUP_ROWS = 1024
_ROW_GROUP_BYTES = 32 << 20
# Documents in storage read at once by one worker: enough to hide a store's latency per request.
_URL_BATCH = 32


class DatasetCounts(NamedTuple):
    converted: int  # converted whole
    failed: int
    partial: int  # converted in part: a part of the document could not be read


def _pyarrow() -> Tuple[Any, Any]:
    pyarrow, parquet = import_optional(
        ["pyarrow", "pyarrow.parquet"],
        "Parquet output needs pyarrow: pip install 'paravox[parquet]'",
    )
    return pyarrow, parquet


def columns(options: Options) -> Tuple[Tuple[str, str], ...]:
    """The columns of a dataset converted with `options`."""
    return COLUMNS + ((DOCUMENT_COLUMN,) if options.to == "json" else ())


def arrow_schema(names: Tuple[Tuple[str, str], ...] = COLUMNS) -> Any:
    pa, _ = _pyarrow()
    types = {
        "string": pa.string(),
        "int64": pa.int64(),
        "double": pa.float64(),
        "timestamp": pa.timestamp("us", tz="UTC"),
    }
    return pa.schema([(name, types[kind]) for name, kind in names])


def format_of(out: str, format: Optional[str] = None) -> Optional[str]:
    """The dataset format `out` is written in: `format` if given, else from the suffix."""
    if format is not None:
        if format not in FORMATS:
            raise ValueError(f"format must be one of {', '.join(FORMATS)}, not {format!r}")
        return format
    name = out.rstrip("/").lower()
    if name.endswith(".parquet"):
        return "parquet"
    if name.endswith(".jsonl"):
        return "jsonl"
    return None


def _printable(name: str) -> str:
    """`name` as a string every writer takes: undecodable bytes of a file name as escapes."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return name.encode("utf-8", "backslashreplace").decode("utf-8")
    return name


def failed_row(source: str, message: str, input_bytes: Optional[int] = None) -> Row:
    return {
        "path": _printable(source),
        "format": None,
        "status": "error",
        "message": message,
        "markdown": None,
        "input_bytes": input_bytes,
        "output_bytes": None,
        "seconds": 0.0,
        **dict.fromkeys(_METADATA_COLUMNS),
        "document": None,
    }


def _metadata_columns(read: Callable[[], Tuple[Dict[str, Union[str, int]], str]]) -> Row:
    """The metadata columns from `read()` (a `_native` metadata reading); nulls when it fails."""
    try:
        values = metadata_values(read()[0])
    except Exception:  # the document converted; its metadata is only left out
        values = {}
    return {name: values.get(name) for name in _METADATA_COLUMNS}


def _row(
    source: str,
    convert: Callable[[], Outcome],
    read_metadata: Callable[[], Tuple[Dict[str, Union[str, int]], str]],
    input_bytes: Optional[int],
    seconds: float,
) -> Row:
    """The row of `source` from `convert()` and `read_metadata()`, its time added to `seconds`;
    never raises."""
    start = time.perf_counter()
    try:
        converted, document = convert()
    except Exception as error:  # a row, not an exception: one bad input must not end a run
        row = failed_row(source, failure_message(error), input_bytes)
        row["format"] = getattr(error, "format", None)
        row["seconds"] = seconds + time.perf_counter() - start
        return row
    return {
        "path": _printable(source),
        "format": converted.format,
        "status": "partial" if converted.warnings else "ok",
        "message": converted.missing,
        "markdown": converted.markdown,
        "input_bytes": input_bytes,
        "output_bytes": len(converted.markdown.encode("utf-8")),
        **_metadata_columns(read_metadata),
        "seconds": seconds + time.perf_counter() - start,
        "document": document,
    }


def convert_row(source: str, options: Options = Options()) -> Row:
    """Converts the document at the local path `source` into its row; never raises."""
    start = time.perf_counter()
    try:
        input_bytes: Optional[int] = os.stat(source).st_size
    except OSError:
        input_bytes = None  # the conversion says why it cannot read the file
    return _row(
        source,
        # Through this module's convert_document, which a test's worker plugin replaces.
        lambda: convert_output(source, options)
        if options.to == "json"
        else (convert_document(source, options), None),
        lambda: _native.metadata_path(source),
        input_bytes,
        time.perf_counter() - start,
    )


def _from_memory(
    source: str, content: Union[bytes, Exception], seconds: float, options: Options
) -> Row:
    if isinstance(content, Exception):
        row = failed_row(source, failure_message(content))
        row["seconds"] = seconds
        return row
    return _row(
        source,
        lambda: convert_data_output(content, options),
        lambda: _native.metadata_buffer(content),
        len(content),
        seconds,
    )


def convert_rows(
    sources: List[str],
    storage_options: Optional[Dict[str, Any]] = None,
    options: Options = Options(),
) -> List[Row]:
    """The rows of documents named by local paths or storage URLs; never raises.

    URLs are read together, so that the store's latency is paid once for all of them; each
    row's seconds hold its share of that reading.
    """
    urls = [source for source in sources if is_url(source)]
    contents: Dict[str, Union[bytes, Exception]] = {}
    read_share = 0.0
    if urls:
        start = time.perf_counter()
        contents = read_urls(urls, storage_options)
        read_share = (time.perf_counter() - start) / len(urls)
    return [
        (
            _from_memory(source, contents[source], read_share, options)
            if is_url(source)
            else convert_row(source, options)
        )
        for source in sources
    ]


def _batches(sources: List[str]) -> Iterator[List[str]]:
    """Runs of up to _URL_BATCH URLs, read at once; a local path goes on its own."""
    batch: List[str] = []
    for source in sources:
        if batch and (len(batch) == _URL_BATCH or not is_url(source)):
            yield batch
            batch = []
        batch.append(source)
        if not is_url(source):
            yield batch
            batch = []
    if batch:
        yield batch


def slice_rows(
    listed: List[Listed],
    start: int,
    stop: int,
    storage_options: Optional[Dict[str, Any]] = None,
    options: Options = Options(),
) -> List[Row]:
    """The rows of `listed[start:stop]`, converted here (a task on a Dask worker)."""
    part = listed[start:stop]
    sources = [name for name, failure in part if failure is None]
    converted = iter(convert_rows(sources, storage_options, options))
    return [
        failed_row(name, failure) if failure is not None else next(converted)
        for name, failure in part
    ]


def listed_name(listed: List[Listed], index: int) -> str:
    return listed[index][0]


def rows(
    listed: List[Listed],
    jobs: int,
    storage_options: Optional[Dict[str, Any]] = None,
    executor: ExecutorKind = DEFAULT_EXECUTOR,
    options: Options = Options(),
) -> Iterator[Row]:
    """The rows of the listed inputs, in order; documents are converted by `jobs` workers."""
    sources = [name for name, failure in listed if failure is None]
    jobs = min(jobs, len(sources)) or 1
    context = process_context() if jobs > 1 and executor == "process" else None
    function = functools.partial(convert_rows, storage_options=storage_options, options=options)
    converted = ordered_map(function, _batches(sources), jobs, context, executor)
    done: Iterator[Row] = iter(())
    try:
        for name, failure in listed:
            if failure is not None:
                yield failed_row(name, failure)
                continue
            row = next(done, None)
            if row is None:
                batch, outcome = next(converted)
                if isinstance(outcome, Exception):  # the worker itself died
                    outcome = [failed_row(source, failure_message(outcome)) for source in batch]
                done = iter(outcome)
                row = next(done)
            yield row
    finally:
        converted.close()  # stops the workers on an early exit


class _ParquetSink:
    def __init__(self, file: IO[bytes], names: Tuple[Tuple[str, str], ...]) -> None:
        self._pa, parquet = _pyarrow()
        self._schema = arrow_schema(names)
        self._writer = parquet.ParquetWriter(file, self._schema, compression="zstd")
        self._columns: Dict[str, List[Any]] = {name: [] for name, _ in names}
        self._bytes = 0

    def add(self, row: Row) -> None:
        for name, values in self._columns.items():
            values.append(row[name])
        self._bytes += row["output_bytes"] or 0
        if len(self._columns["path"]) >= _ROW_GROUP_ROWS or self._bytes >= _ROW_GROUP_BYTES:
            self._flush()

    def _flush(self) -> None:
        count = len(self._columns["path"])
        if count:
            table = self._pa.Table.from_pydict(self._columns, schema=self._schema)
            self._writer.write_table(table, row_group_size=count)
            for values in self._columns.values():
                values.clear()
            self._bytes = 0

    def close(self) -> None:
        self._flush()
        self._writer.close()


def _json_value(value: Any) -> Any:
    """`value` as JSON holds it: a UTC datetime as ISO 8601 ending in "Z"."""
    if isinstance(value, datetime):
        return value.isoformat().replace("+00:00", "Z")
    return value


class _JsonLinesSink:
    def __init__(self, file: IO[bytes], names: Tuple[Tuple[str, str], ...]) -> None:
        self._file = file
        self._names = [name for name, _ in names]

    def add(self, row: Row) -> None:
        values = {name: _json_value(row[name]) for name in self._names}
        line = json.dumps(values, ensure_ascii=False)
        self._file.write(line.encode("utf-8") + b"\n")

    def close(self) -> None:
        pass


def sink(
    format: str, file: IO[bytes], options: Options = Options()
) -> Union[_ParquetSink, _JsonLinesSink]:
    names = columns(options)
    return _ParquetSink(file, names) if format == "parquet" else _JsonLinesSink(file, names)


def check_format_available(format: str) -> None:
    """Raises MissingDependencyError before any work when `format` cannot be written."""
    if format == "parquet":
        _pyarrow()


def input_names(inputs: Union[StrOrBytesPath, Iterable[StrOrBytesPath]]) -> List[str]:
    if isinstance(inputs, (str, bytes, os.PathLike)):
        inputs = [inputs]
    return [to_str_path(name) for name in inputs]


def convert_to_dataset(
    inputs: Union[StrOrBytesPath, Iterable[StrOrBytesPath]],
    out: StrOrBytesPath,
    *,
    format: Optional[str] = None,
    jobs: Optional[int] = None,
    executor: ExecutorKind = DEFAULT_EXECUTOR,
    storage_options: Optional[Dict[str, Any]] = None,
    profile: Profile = "full",
    strict: bool = False,
    to: Output = "markdown",
    front_matter: bool = False,
    headers_footers: bool = False,
) -> DatasetCounts:
    """Converts documents into one dataset file `out`, one row per input document.

    `inputs` are documents, folders and storage URL prefixes (s3://bucket/prefix/,
    memory://..., anything fsspec opens); folders and prefixes stand for the .hwp and .hwpx
    files below them. `out` is a local path or a storage URL; it is written as Parquet or
    JSON Lines, by `format` ("parquet" or "jsonl") or else by its suffix. Its columns: path,
    format, status ("ok", "partial" or "error"), message, markdown, input_bytes, output_bytes,
    seconds, title, author, created, modified (the last four from `paravox.metadata`, null when
    absent). A document that cannot be converted is a row with status "error" and its message;
    nothing is raised for it. A document of which a part could not be read is a row with
    status "partial", the Markdown of the rest, and what is missing and why as its message;
    with `strict=True` it is an "error" row instead. `jobs` workers convert in parallel
    (default: the number of cores), in worker processes or threads as `executor` says, as for
    `convert_many`; memory:// URLs are seen by threads only, since each process has its own.
    `storage_options` go to fsspec for the URLs of inputs and `out`. `profile` and
    `front_matter` and `headers_footers` are as for `paravox.convert`. `to="json"` adds a last
    column, document: the JSON `paravox.read(...).to_json()` gives (null for a failed document).
    Returns how many documents were converted whole, how many failed and how many were
    converted in part.
    """
    options = Options(
        profile=profile,
        strict=strict,
        to=to,
        front_matter=front_matter,
        headers_footers=headers_footers,
    )
    names = input_names(inputs)
    target = to_str_path(out)
    chosen = format_of(target, format)
    if chosen is None:
        raise ValueError(f"cannot tell the format of {target!r}: name it .parquet or .jsonl")
    check_format_available(chosen)
    listed = list_documents(names, storage_options)
    jobs = default_jobs() if jobs is None else jobs
    if jobs < 1:
        raise ValueError(f"jobs must be at least 1, got {jobs}")
    executor = check_executor(executor)
    counts = collections.Counter[str]()
    with open_output(target, storage_options) as file:
        writer = sink(chosen, file, options)
        for row in rows(listed, jobs, storage_options, executor, options):
            writer.add(row)
            counts[row["status"]] += 1
        writer.close()
    return DatasetCounts(counts["ok"], counts["error"], counts["partial"])
