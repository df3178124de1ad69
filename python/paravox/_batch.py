"""Converting many documents in worker threads or processes, results in input order."""

from __future__ import annotations

import contextlib
import functools
import itertools
import multiprocessing
import os
import time
from collections import deque
from concurrent.futures import CancelledError, Executor, Future, ProcessPoolExecutor
from concurrent.futures import ThreadPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from multiprocessing.context import BaseContext
from typing import (
    Callable,
    Generator,
    Iterable,
    Iterator,
    List,
    Literal,
    Optional,
    Tuple,
    TypeVar,
    Union,
)

from ._convert import Converted, Options, Profile, StrOrBytesPath, convert_document, to_str_path
from ._convert import warn_partial

_Item = TypeVar("_Item")
_Result = TypeVar("_Result")
_P = TypeVar("_P", bound=StrOrBytesPath)

# Chunks kept in flight per worker: enough to keep every worker busy while the oldest chunk,
# whose results are due next, is still running; few enough that memory does not grow with the
# number of inputs.
_CHUNKS_PER_WORKER = 4
# Sending a chunk to a worker and its results back costs about a millisecond, more than
# converting a typical small document. Chunks are sized to take about this long, so that cost
# stays small, while a run of slow documents goes out one at a time and keeps workers balanced.
_CHUNK_SECONDS = 0.02
_MAX_CHUNK = 64

# Where the work runs: threads of this process (the conversion releases the interpreter lock,
# so they convert in parallel), or worker processes.
ExecutorKind = Literal["thread", "process"]
EXECUTORS: Tuple[ExecutorKind, ...] = ("thread", "process")
# Threads: on the shared documents at two jobs they used less processor time than worker
# processes for the same work, and were as fast or faster (bench/executors.py).
DEFAULT_EXECUTOR: ExecutorKind = "thread"


def default_jobs() -> int:
    """The number of processor cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return max(1, len(os.sched_getaffinity(0)))
    return os.cpu_count() or 1


def process_context() -> BaseContext:
    """How worker processes are started: by a fresh server process where the platform has one,
    so that they never inherit threads of this process (a progress bar's, a pool's)."""
    if "forkserver" in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("forkserver")
    return multiprocessing.get_context("spawn")


def _outcome(function: Callable[[_Item], _Result], item: _Item) -> Union[_Result, Exception]:
    """Runs `function(item)` and returns its result or the exception it raised."""
    try:
        return function(item)
    except Exception as error:  # returned, not raised: one bad input must not end a batch
        return error


def _run_chunk(
    function: Callable[[_Item], _Result], chunk: List[_Item]
) -> Tuple[List[Union[_Result, Exception]], float]:
    """Runs `function` over a chunk in a worker; returns the outcomes and the seconds taken."""
    start = time.perf_counter()
    outcomes = [_outcome(function, item) for item in chunk]
    return outcomes, time.perf_counter() - start


_Chunk = Tuple[List[_Item], "Future[Tuple[List[Union[_Result, Exception]], float]]"]


def _worker_died() -> BrokenProcessPool:
    return BrokenProcessPool(
        "the worker process died while handling this input (crashed or was killed)"
    )


def _submit(
    pool: Executor, function: Callable[[_Item], _Result], chunk: List[_Item]
) -> Future[Tuple[List[Union[_Result, Exception]], float]]:
    """Submits one chunk; on a pool that broke meanwhile, returns a future failed with that."""
    try:
        return pool.submit(_run_chunk, function, chunk)
    except BrokenProcessPool as error:
        failed: Future[Tuple[List[Union[_Result, Exception]], float]] = Future()
        failed.set_exception(error)
        return failed


def _settled(
    future: Future[Tuple[List[Union[_Result, Exception]], float]], size: int
) -> Optional[Tuple[List[Union[_Result, Exception]], float]]:
    """The outcomes of a chunk and its seconds, or None when its worker died or it never ran."""
    try:
        return future.result()
    except (BrokenProcessPool, CancelledError):
        return None
    except Exception as error:  # e.g. results that could not be sent back
        return [error] * size, 0.0


def ordered_map(
    function: Callable[[_Item], _Result],
    items: Iterable[_Item],
    jobs: int,
    mp_context: Optional[BaseContext] = None,
    executor: ExecutorKind = "process",
) -> Generator[Tuple[_Item, Union[_Result, Exception]], None, None]:
    """Yields `(item, function(item) or the exception it raised)` for each item, in input order.

    With `jobs` 1 everything runs in this process and thread. Otherwise `function` runs in a
    pool of `jobs` worker threads (`executor="thread"`) or worker processes (`"process"`; then
    `function`, the items and the results must be picklable); items are read from `items` only
    as workers free up, and only a bounded number of results is held. When a worker process
    dies, the inputs it may have been handling are run again one at a time in a fresh pool, so
    that the one that kills its worker gets a `BrokenProcessPool` as its outcome and every other
    input is still handled. Threads cannot die that way; what escapes `function` in a thread
    without being an `Exception` (`SystemExit`, say) is raised here, as with `jobs` 1.
    """
    if jobs == 1:
        for item in items:
            yield item, _outcome(function, item)
        return

    def new_pool() -> Executor:
        if executor == "thread":
            return ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="paravox")
        return ProcessPoolExecutor(max_workers=jobs, mp_context=mp_context)

    pending_items = iter(items)
    in_flight: deque[_Chunk[_Item, _Result]] = deque()
    chunk_size = 1  # grows once the time per item is known
    items_done, seconds_spent = 0, 0.0
    pool = new_pool()
    try:
        while True:
            while len(in_flight) < jobs * _CHUNKS_PER_WORKER:
                chunk = list(itertools.islice(pending_items, chunk_size))
                if not chunk:
                    break
                in_flight.append((chunk, _submit(pool, function, chunk)))
            if not in_flight:
                return

            chunk, future = in_flight.popleft()
            settled = _settled(future, len(chunk))
            if settled is not None:
                outcomes, seconds = settled
                items_done += len(chunk)
                seconds_spent += seconds
                per_item = max(seconds_spent / items_done, 1e-6)
                chunk_size = max(1, min(_MAX_CHUNK, int(_CHUNK_SECONDS / per_item)))
                yield from zip(chunk, outcomes)
                continue

            # The pool is broken: every chunk that had not finished is suspect.
            suspects = [(chunk, future)] + list(in_flight)
            in_flight.clear()
            pool.shutdown(wait=True, cancel_futures=True)
            pool = new_pool()
            for suspect_chunk, suspect_future in suspects:
                settled = _settled(suspect_future, len(suspect_chunk))
                if settled is not None:
                    yield from zip(suspect_chunk, settled[0])
                    continue
                for item in suspect_chunk:
                    single = _settled(_submit(pool, function, [item]), 1)
                    if single is None:
                        single = [_worker_died()], 0.0
                        pool.shutdown(wait=True)
                        pool = new_pool()
                    yield item, single[0][0]
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


def check_executor(executor: object) -> ExecutorKind:
    """`executor` if it names a kind of pool; raises ValueError otherwise."""
    for kind in EXECUTORS:
        if executor == kind:
            return kind
    raise ValueError(f"executor must be 'thread' or 'process', got {executor!r}")


def convert_many(
    paths: Iterable[_P],
    jobs: Optional[int] = None,
    executor: ExecutorKind = DEFAULT_EXECUTOR,
    *,
    profile: Profile = "full",
    strict: bool = False,
    headers_footers: bool = False,
    front_matter: bool = False,
) -> Iterator[Tuple[_P, Union[str, Exception]]]:
    """Converts many documents in parallel, yielding `(path, markdown or exception)` in input order.

    `jobs` is the number of workers (default: the number of processor cores); with `jobs=1` the
    documents are converted one after another in the calling thread. `executor` is "thread"
    (the default: threads of this process; the conversion releases the interpreter lock, so
    they convert in parallel) or "process" (worker processes). A document that cannot be
    converted yields the exception instead of its Markdown (a `paravox.ParavoxError`, see
    `convert`); nothing is raised for it, and the other documents go on. A document converted
    only in part yields its Markdown, and its `paravox.PartialDocumentWarning` (the message
    starting with the path) is issued as it is yielded; with `strict=True` it yields the error
    instead, as `convert` raises it. `profile`, `front_matter` and `headers_footers` are as for
    `convert`. Paths are read lazily, so a long iterable of paths is fine.

    Worker processes are started with the interpreter's default method; under "spawn" or
    "forkserver" a script that calls this with `executor="process"` needs the usual
    `if __name__ == "__main__":` guard.
    """
    if jobs is None:
        jobs = default_jobs()
    if isinstance(jobs, bool) or not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    if jobs < 1:
        raise ValueError(f"jobs must be at least 1, got {jobs}")
    options = Options(
        profile=profile, strict=strict, front_matter=front_matter, headers_footers=headers_footers
    )
    function = functools.partial(convert_document, options=options)
    return _markdown_of(ordered_map(function, paths, jobs, executor=check_executor(executor)))


def _markdown_of(
    results: Generator[Tuple[_P, Union[Converted, Exception]], None, None],
) -> Iterator[Tuple[_P, Union[str, Exception]]]:
    """The results of convert_many, warning of each partial document as it is yielded."""
    with contextlib.closing(results):  # stops the workers when the caller stops early
        for path, result in results:
            if isinstance(result, Exception):
                yield path, result
                continue
            warn_partial(result, to_str_path(path), stacklevel=2)
            yield path, result.markdown
