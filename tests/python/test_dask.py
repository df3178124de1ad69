"""Converting on a Dask cluster of worker processes: same rows as a local run, nothing lost."""

import os
import signal
from pathlib import Path
from typing import Any, Dict, Iterator, List

import pytest

pytest.importorskip("pyarrow")
pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
paravox_dask = pytest.importorskip("paravox.dask")

import pyarrow.parquet as pq  # noqa: E402

import paravox  # noqa: E402
from paravox.cli import main  # noqa: E402

COUNTED = ["path", "format", "status", "message", "markdown", "input_bytes", "output_bytes"]
METADATA = ["title", "author", "created", "modified"]
# The columns that do not depend on timing.
STABLE = COUNTED + METADATA


@pytest.fixture(scope="module")
def client() -> Iterator[Any]:
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client


@pytest.fixture(scope="module")
def inputs(corpus_dir: Path) -> List[str]:
    """A slice of the shared documents: every feature document, the broken files, a missing one."""
    return [str(corpus_dir / "features"), str(corpus_dir / "bad"), str(corpus_dir / "missing.hwp")]


@pytest.fixture(scope="module")
def local_rows(inputs: List[str], tmp_path_factory: pytest.TempPathFactory) -> List[Dict[str, Any]]:
    out = tmp_path_factory.mktemp("local") / "local.parquet"
    paravox.convert_to_dataset(inputs, out, jobs=1)
    return pq.read_table(out, columns=STABLE).to_pylist()


def test_frame_and_dataset_equal_the_local_run(
    client: Any, inputs: List[str], local_rows: List[Dict[str, Any]], tmp_path: Path
) -> None:
    frame = paravox_dask.convert_frame(inputs, partition_size=16)
    assert frame.npartitions == -(-len(local_rows) // 16)
    assert list(frame.columns) == COUNTED + ["seconds"] + METADATA
    paravox_dask.to_dataset(frame, str(tmp_path / "dataset"))
    # part.0.parquet, part.1.parquet, ...: read back in partition order, the rows in input order.
    parts = sorted(os.listdir(tmp_path / "dataset"), key=lambda name: int(name.split(".")[1]))
    assert len(parts) == frame.npartitions
    read = [pq.read_table(tmp_path / "dataset" / p, columns=STABLE).to_pylist() for p in parts]
    assert [row for rows in read for row in rows] == local_rows
    assert pq.read_table(tmp_path / "dataset").num_rows == len(local_rows)


def test_command_line_on_a_scheduler_equals_the_local_run(
    client: Any, inputs: List[str], local_rows: List[Dict[str, Any]], tmp_path: Path, capsys: Any
) -> None:
    out = tmp_path / "cluster.parquet"
    status = main([*inputs, "-o", str(out), "--scheduler", client.scheduler.address])
    assert pq.read_table(out, columns=STABLE).to_pylist() == local_rows
    assert status == 1
    err = capsys.readouterr().err
    failures = [row for row in local_rows if row["status"] == "error"]
    assert failures
    for row in failures:
        assert f"{row['path']}: {row['message']}\n" in err
    assert f"{len(local_rows) - len(failures)} converted, {len(failures)} failed" in err


def test_a_worker_killed_mid_run_loses_nothing(
    client: Any, inputs: List[str], local_rows: List[Dict[str, Any]]
) -> None:
    total, rows = paravox_dask.iter_rows(client, inputs, partition_size=1)
    first = next(rows)
    # The worker holding the most work not yet read: tasks running or queued there, results
    # stored there, and perhaps the listing every partition reads.
    processing, stored = client.processing(), client.has_what()
    victim = max(processing, key=lambda w: len(processing[w]) + len(stored.get(w, ())))
    assert len(processing[victim]) + len(stored.get(victim, ())) > 0
    print(
        f"killing {victim}: {len(processing[victim])} running, {len(stored.get(victim, ()))} held"
    )
    pids = client.run(os.getpid)
    os.kill(pids[victim], signal.SIGKILL)

    received = [first, *rows]
    assert total == len(local_rows)
    assert [{key: row[key] for key in STABLE} for row in received] == local_rows


class _CrashOn(distributed.WorkerPlugin):
    """Makes every worker, restarted ones too, die when it converts a file named `name`."""

    def __init__(self, name: str) -> None:
        self.name = name

    def setup(self, worker: Any) -> None:
        from paravox import _dataset

        convert = _dataset.convert_document

        def crashing(source: Any, options: Any) -> Any:
            if os.path.basename(str(source)) == self.name:
                os._exit(1)
            return convert(source, options)

        _dataset.convert_document = crashing


def test_a_document_that_kills_every_worker_becomes_a_failed_row(
    client: Any, corpus_dir: Path, tmp_path: Path
) -> None:
    folder = tmp_path / "docs"
    folder.mkdir()
    documents = sorted((corpus_dir / "features").glob("*.hwp"))[:6]
    for document in documents:
        os.symlink(document, folder / document.name)
    os.symlink(documents[0], folder / "crash.hwp")
    paravox.convert_to_dataset([str(folder)], tmp_path / "local.parquet", jobs=1)
    expected = pq.read_table(tmp_path / "local.parquet", columns=STABLE).to_pylist()
    crashed = next(row for row in expected if row["path"].endswith("crash.hwp"))
    crashed.update(format=None, status="error", markdown=None, input_bytes=None, output_bytes=None)
    crashed.update(dict.fromkeys(METADATA))
    crashed["message"] = "the worker process died while handling this input (crashed or was killed)"

    # A task is given up after the first worker it kills (the default waits for three).
    allowed = client.run_on_scheduler(lambda dask_scheduler: dask_scheduler.allowed_failures)
    client.run_on_scheduler(lambda dask_scheduler: setattr(dask_scheduler, "allowed_failures", 0))
    client.register_plugin(_CrashOn("crash.hwp"), name="crash-on")
    try:
        _, rows = paravox_dask.iter_rows(client, [str(folder)], partition_size=3)
        received = [{key: row[key] for key in STABLE} for row in rows]
    finally:
        client.unregister_worker_plugin("crash-on")
        client.run_on_scheduler(
            lambda dask_scheduler: setattr(dask_scheduler, "allowed_failures", allowed)
        )
    assert received == expected
