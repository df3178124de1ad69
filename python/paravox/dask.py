"""Converting archives on a Dask cluster (`pip install 'paravox[dask]'`).

    >>> from dask.distributed import Client
    >>> import paravox.dask
    >>> client = Client("tcp://scheduler:8786")
    >>> frame = paravox.dask.convert_frame(["s3://archive/2019/"])
    >>> paravox.dask.to_dataset(frame, "s3://datasets/2019-markdown/")

Workers list the inputs and read the documents themselves; the client sends names and gets
rows. A document that cannot be converted is a row with status "error", never a failed task, and
when a worker dies its partitions are computed again by Dask, so every input is in the result
exactly once.
"""

from __future__ import annotations

import collections
import importlib
import math
from typing import Any, Deque, Dict, Iterable, Iterator, List, Optional, Tuple, Type, Union

from ._convert import Options, Profile, StrOrBytesPath
from ._dataset import COLUMNS, Row, arrow_schema, failed_row, input_names, listed_name, slice_rows
from ._storage import Listed, import_optional, list_documents

# Imported by name, so that the package type-checks whether or not they are installed.
dask, dd, pd, distributed = import_optional(
    ["dask", "dask.dataframe", "pandas", "distributed"],
    "paravox.dask needs Dask and pandas: pip install 'paravox[dask]'",
)

__all__ = ["convert_frame", "to_dataset"]

# Rows per partition unless the caller says otherwise: enough that the scheduler's cost per task
# (about a millisecond) is small per document, few enough that a partition's Markdown fits
# comfortably in a worker's memory and a lost worker costs little to redo.
PARTITION_SIZE = 256

_PANDAS_TYPES = {
    "string": "string",
    "int64": "Int64",
    "double": "float64",
    "timestamp": "datetime64[us, UTC]",
}

Inputs = Union[StrOrBytesPath, Iterable[StrOrBytesPath]]
# Types of the libraries above, which are not checked here.
DataFrame = Any  # dask.dataframe.DataFrame
PandasFrame = Any  # pandas.DataFrame
Client = Any  # distributed.Client
Future = Any  # distributed.Future


def _frame(rows: List[Row]) -> PandasFrame:
    columns = {name: [row[name] for row in rows] for name, _ in COLUMNS}
    return pd.DataFrame(columns).astype({name: _PANDAS_TYPES[kind] for name, kind in COLUMNS})


def convert_frame(
    inputs: Inputs,
    *,
    partition_size: int = PARTITION_SIZE,
    npartitions: Optional[int] = None,
    storage_options: Optional[Dict[str, Any]] = None,
    profile: Profile = "full",
    strict: bool = False,
    front_matter: bool = False,
    headers_footers: bool = False,
) -> DataFrame:
    """A Dask DataFrame of the inputs' documents, one row each, with the dataset's columns.

    `inputs` are documents, folders and storage URL prefixes, `profile`, `front_matter` and
    `headers_footers` say what the Markdown holds and `strict` what a document of which a part
    could not be read becomes, as for `paravox.convert_to_dataset`; paths must
    be readable where the workers run. The inputs are listed by one task and each
    partition converts its slice of that listing, so the documents are read by the workers.
    Without `npartitions`, the listing is counted first (on a worker when a distributed client
    is active; only the count comes back) to make partitions of about `partition_size` rows.
    """
    options = Options(
        profile=profile, strict=strict, front_matter=front_matter, headers_footers=headers_footers
    )
    names = input_names(inputs)
    listing = dask.delayed(list_documents, pure=True)(names, storage_options)
    if npartitions is None:
        if partition_size < 1:
            raise ValueError(f"partition_size must be at least 1, got {partition_size}")
        count = dask.delayed(len, pure=True)(listing).compute()
        npartitions = max(1, math.ceil(count / partition_size))
    elif npartitions < 1:
        raise ValueError(f"npartitions must be at least 1, got {npartitions}")
    parts = [
        dask.delayed(_frame_of_share, pure=True)(listing, i, npartitions, storage_options, options)
        for i in range(npartitions)
    ]
    return dd.from_delayed(parts, meta=_frame([]), verify_meta=False)


def _frame_of_share(
    listed: List[Listed],
    index: int,
    partitions: int,
    storage_options: Optional[Dict[str, Any]],
    options: Options,
) -> PandasFrame:
    """The rows of the `index`th of `partitions` equal shares of the listing."""
    count = len(listed)
    start, stop = count * index // partitions, count * (index + 1) // partitions
    return _frame(slice_rows(listed, start, stop, storage_options, options))


def to_dataset(
    frame_or_inputs: Union[DataFrame, Inputs],
    out: str,
    *,
    storage_options: Optional[Dict[str, Any]] = None,
    **convert_options: Any,
) -> None:
    """Writes a partitioned Parquet dataset into the folder or URL prefix `out`.

    `frame_or_inputs` is a frame from `convert_frame`, or inputs for it (with `convert_options`
    passed on). Each partition becomes one file written by the worker that computed it.
    """
    if isinstance(frame_or_inputs, dd.DataFrame):
        frame = frame_or_inputs
    else:
        frame = convert_frame(frame_or_inputs, storage_options=storage_options, **convert_options)
    frame.to_parquet(
        out,
        write_index=False,
        schema=arrow_schema(),
        compression="zstd",
        storage_options=storage_options,
    )


def _killed_worker_type() -> Type[BaseException]:
    killed: Type[BaseException] = importlib.import_module("distributed.scheduler").KilledWorker
    return killed


def iter_rows(
    client: Client,
    inputs: Inputs,
    *,
    partition_size: Optional[int] = None,
    storage_options: Optional[Dict[str, Any]] = None,
    options: Options = Options(),
) -> Tuple[int, Iterator[Row]]:
    """The number of rows, and the rows in input order, converted on `client`'s cluster.

    Partitions are submitted a few at a time ahead of the one being read, so that neither
    the client nor the workers hold more than a bounded number of rows. A partition whose
    worker died is computed again by Dask; one that kept killing its workers is split into
    single documents, and the document that kills every worker it runs on becomes a failed row.
    """
    names = input_names(inputs)
    listing = client.submit(list_documents, names, storage_options, pure=False)
    count: int = client.submit(len, listing, pure=False).result()
    threads = max(1, sum(client.nthreads().values()))
    if partition_size is None:
        partition_size = max(1, min(PARTITION_SIZE, math.ceil(count / (4 * threads))))
    bounds = [
        (start, min(start + partition_size, count)) for start in range(0, count, partition_size)
    ]
    return count, _iter_partitions(client, listing, bounds, 4 * threads, storage_options, options)


def _iter_partitions(
    client: Client,
    listing: Future,
    bounds: List[Tuple[int, int]],
    window: int,
    storage_options: Optional[Dict[str, Any]],
    options: Options,
) -> Iterator[Row]:
    killed = _killed_worker_type()

    def submit(start: int, stop: int) -> Future:
        return client.submit(
            slice_rows, listing, start, stop, storage_options, options, pure=False, retries=0
        )

    in_flight: Deque[Tuple[int, int, Future]] = collections.deque()
    pending = iter(bounds)
    try:
        while True:
            while len(in_flight) < window:
                bound = next(pending, None)
                if bound is None:
                    break
                in_flight.append((*bound, submit(*bound)))
            if not in_flight:
                return
            start, stop, future = in_flight.popleft()
            try:
                rows: Optional[List[Row]] = future.result()
            except killed:
                rows = None
            finally:
                future.release()
            if rows is not None:
                yield from rows
                continue
            for index in range(start, stop):
                single = submit(index, index + 1)
                try:
                    rows = single.result()
                except killed:
                    name = client.submit(listed_name, listing, index, pure=False).result()
                    rows = [failed_row(name, _WORKER_DIED)]
                yield from rows
    finally:
        for _, _, future in in_flight:
            future.cancel()
        listing.release()


_WORKER_DIED = "the worker process died while handling this input (crashed or was killed)"
