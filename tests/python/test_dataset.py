"""Dataset output: one row per document in a Parquet or JSON Lines file, local or in storage."""

import json
import os
import shutil
import socket
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Any, Dict, List, Optional

import pytest

import paravox
from paravox import _dataset
from paravox._convert import convert_document
from paravox.cli import main

# The columns that do not depend on timing.
STABLE = ["path", "format", "status", "message", "markdown", "input_bytes", "output_bytes"]


def local_result(source: Path) -> Dict[str, Any]:
    """What converting one document on its own gives, in the dataset's columns."""
    try:
        markdown, format, warnings = convert_document(source)
    except RuntimeError as error:
        return {
            "format": getattr(error, "format", None),
            "status": "error",
            "message": str(error),
            "markdown": None,
            "output_bytes": None,
        }
    return {
        "format": format,
        "status": "partial" if warnings else "ok",
        "message": "; ".join(message for _, message in warnings) or None,
        "markdown": markdown,
        "output_bytes": len(markdown.encode("utf-8")),
    }


def expected_row(source: Path, name: Optional[str] = None) -> Dict[str, Any]:
    row = {"path": name or str(source), "input_bytes": source.stat().st_size}
    row.update(local_result(source))
    return {key: row[key] for key in STABLE}


@pytest.fixture(scope="module")
def archive(corpus_dir: Path, tmp_path_factory: pytest.TempPathFactory) -> Path:
    """A folder of shared documents of both formats, broken files and a file that is no document."""
    folder = tmp_path_factory.mktemp("archive")
    picks = {
        "features": sorted((corpus_dir / "features").glob("*.hwp"))[:12],
        "realworld": sorted((corpus_dir / "realworld").glob("*.hwp"))[:6],
        "hwpx": sorted((corpus_dir / "hwpx" / "files").glob("*.hwpx"))[:4],
        "bad": sorted((corpus_dir / "bad").glob("*.hwp")),
    }
    for sub, files in picks.items():
        (folder / sub).mkdir()
        for file in files:
            shutil.copyfile(file, folder / sub / file.name)
    shutil.copyfile(picks["features"][0], folder / "features" / "UPPER.HWP")
    (folder / "empty.hwp").write_bytes(b"")
    (folder / "notes.hwpx").write_text("not a package\n")
    (folder / "readme.txt").write_text("not listed\n")
    return folder


def archive_documents(archive: Path) -> List[Path]:
    """The documents of `archive` in the order a run lists them."""
    found = [p for p in archive.rglob("*") if p.suffix.lower() in (".hwp", ".hwpx")]
    return sorted(found, key=lambda p: p.relative_to(archive).parts)


def read_rows(path: Path, reader: str) -> List[Dict[str, Any]]:
    if reader == "jsonl":
        lines = path.read_text(encoding="utf-8").splitlines()
        return [{key: json.loads(line)[key] for key in STABLE} for line in lines]
    if reader == "pyarrow":
        import pyarrow.parquet as pq

        return pq.read_table(path, columns=STABLE).to_pylist()
    duckdb = pytest.importorskip("duckdb")
    # DuckDB keeps the order of the rows in a plain scan.
    cursor = duckdb.sql(f"SELECT {', '.join(STABLE)} FROM '{path}'")
    return [dict(zip(STABLE, values)) for values in cursor.fetchall()]


class TestDatasetFile:
    @pytest.mark.parametrize(
        "suffix, reader", [(".parquet", "pyarrow"), (".parquet", "duckdb"), (".jsonl", "jsonl")]
    )
    def test_rows_equal_converting_each_document(
        self, archive: Path, tmp_path: Path, suffix: str, reader: str, capsys: Any
    ) -> None:
        pytest.importorskip("pyarrow")
        out = tmp_path / ("archive" + suffix)
        missing = tmp_path / "missing.hwp"
        status = main([str(archive), str(missing), "-o", str(out), "--jobs", "2"])

        documents = archive_documents(archive)
        expected = [expected_row(p) for p in documents]
        expected.append(dict.fromkeys(STABLE) | {"path": str(missing), "status": "error"})
        expected[-1]["message"] = "No such file or directory"
        assert read_rows(out, reader) == expected
        assert status == 1
        failures = [row for row in expected if row["status"] == "error"]
        err = capsys.readouterr().err
        for row in failures:
            assert f"{row['path']}: {row['message']}\n" in err
        converted = len(expected) - len(failures)
        assert f"{converted} converted, {len(failures)} failed, {len(expected)} files" in err

    def test_parquet_types_and_bounded_row_groups(
        self, archive: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch
    ) -> None:
        pq = pytest.importorskip("pyarrow.parquet")
        monkeypatch.setattr(_dataset, "_ROW_GROUP_ROWS", 5)
        out = tmp_path / "x.parquet"
        counts = paravox.convert_to_dataset(archive, out, jobs=1)
        rows = len(archive_documents(archive))
        assert counts.converted + counts.partial + counts.failed == rows
        file = pq.ParquetFile(out)
        assert str(file.schema_arrow) == (
            "path: string\nformat: string\nstatus: string\nmessage: string\nmarkdown: string\n"
            "input_bytes: int64\noutput_bytes: int64\nseconds: double\ntitle: string\n"
            "author: string\ncreated: timestamp[us, tz=UTC]\nmodified: timestamp[us, tz=UTC]"
        )
        assert file.metadata.num_row_groups == -(-rows // 5)
        assert all(s >= 0 for s in file.read(columns=["seconds"]).column(0).to_pylist())

    @pytest.mark.parametrize("suffix", [".parquet", ".jsonl"])
    def test_metadata_columns_hold_what_metadata_reads(
        self, archive: Path, tmp_path: Path, suffix: str
    ) -> None:
        pytest.importorskip("pyarrow")
        out = tmp_path / ("x" + suffix)
        paravox.convert_to_dataset(archive, out, jobs=1)
        if suffix == ".jsonl":
            rows = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
        else:
            import pyarrow.parquet as pq

            rows = pq.read_table(out).to_pylist()
        dated = 0
        for document, row in zip(archive_documents(archive), rows):
            try:
                expected = paravox.metadata(document)
            except RuntimeError:
                expected = {}
            for key in ("created", "modified"):
                if key in expected and suffix == ".jsonl":
                    expected[key] = expected[key].isoformat().replace("+00:00", "Z")
            values = {key: row[key] for key in ("title", "author", "created", "modified")}
            assert values == {key: expected.get(key) for key in values}, document
            dated += row["created"] is not None
        assert dated > 10

    def test_missing_pyarrow_is_one_line(
        self, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, capsys: Any
    ) -> None:
        monkeypatch.setitem(sys.modules, "pyarrow", None)  # makes `import pyarrow` fail
        assert main([str(tmp_path), "-o", str(tmp_path / "x.parquet")]) == 2
        assert capsys.readouterr().err == (
            "paravox: Parquet output needs pyarrow: pip install 'paravox[parquet]'\n"
        )
        assert not (tmp_path / "x.parquet").exists()


class TestStorageUrls:
    @pytest.mark.parametrize("suffix, reader", [(".parquet", "pyarrow"), (".jsonl", "jsonl")])
    def test_memory_urls_in_and_out(
        self, archive: Path, tmp_path: Path, suffix: str, reader: str
    ) -> None:
        fsspec = pytest.importorskip("fsspec")
        if suffix == ".parquet":
            pytest.importorskip("pyarrow")
        memory = fsspec.filesystem("memory")
        documents = archive_documents(archive)
        for p in documents:
            memory.pipe(f"/docs/{p.relative_to(archive).as_posix()}", p.read_bytes())
        memory.pipe("/docs/readme.txt", b"not listed")
        try:
            counts = paravox.convert_to_dataset(
                ["memory://docs/"], "memory://out/x" + suffix, jobs=2, executor="thread"
            )
            (tmp_path / ("x" + suffix)).write_bytes(memory.cat("/out/x" + suffix))
        finally:
            memory.rm("/docs", recursive=True)
            memory.rm("/out", recursive=True)
        rows = read_rows(tmp_path / ("x" + suffix), reader)
        names = [f"memory://docs/{p.relative_to(archive).as_posix()}" for p in documents]
        assert rows == [expected_row(p, name) for p, name in zip(documents, names)]
        assert counts.converted == sum(row["status"] == "ok" for row in rows)

    def test_s3_against_a_local_server(self, archive: Path, tmp_path: Path) -> None:
        pytest.importorskip("pyarrow")
        pytest.importorskip("s3fs")
        server_module = pytest.importorskip("moto.server")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        server = server_module.ThreadedMotoServer(ip_address="127.0.0.1", port=port, verbose=False)
        try:
            server.start()
        except Exception as error:  # e.g. flask missing
            pytest.skip(f"cannot start an S3 server on 127.0.0.1: {error}")
        try:
            import s3fs

            endpoint = f"http://127.0.0.1:{port}"
            options = {
                "key": "testing",
                "secret": "testing",
                "client_kwargs": {
                    "endpoint_url": endpoint,
                    "region_name": "us-east-1",
                },
            }
            s3 = s3fs.S3FileSystem(**options)
            import boto3  # moto's own dependency

            boto3.client(
                "s3",
                endpoint_url=endpoint,
                aws_access_key_id="testing",
                aws_secret_access_key="testing",
                region_name="us-east-1",
            ).create_bucket(Bucket="archive")
            documents = archive_documents(archive)
            for p in documents:
                s3.pipe(f"archive/2019/{p.relative_to(archive).as_posix()}", p.read_bytes())
            # Two worker processes, which open their own connections to read the documents.
            paravox.convert_to_dataset(
                ["s3://archive/2019/"],
                "s3://archive/out/2019.parquet",
                jobs=2,
                executor="process",
                storage_options=options,
            )
            s3.get("archive/out/2019.parquet", str(tmp_path / "2019.parquet"))
        finally:
            server.stop()
        names = [f"s3://archive/2019/{p.relative_to(archive).as_posix()}" for p in documents]
        expected = [expected_row(p, name) for p, name in zip(documents, names)]
        assert read_rows(tmp_path / "2019.parquet", "pyarrow") == expected


# A child process converts `count` links to one document with pyarrow writing as it goes, and
# prints its peak resident memory in KiB.
_PEAK_SCRIPT = textwrap.dedent("""
    import os, resource, sys
    import paravox
    document, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(folder)
    for i in range(count):
        os.symlink(document, os.path.join(folder, f"{i:05d}.hwp"))
    paravox.convert_to_dataset(folder, folder + ".parquet", jobs=1)
    print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
    """)


def test_memory_stays_flat_over_20000_rows(corpus_dir: Path, tmp_path: Path) -> None:
    pytest.importorskip("pyarrow")
    # A document with a lot of text: keeping every row would cost over 150 MB at 20,000 rows.
    document = corpus_dir / "features" / "multicolumns.hwp"
    markdown_bytes = len(paravox.convert(document).encode("utf-8"))
    assert markdown_bytes * 20_000 > 150 << 20

    def peak_kib(count: int) -> int:
        result = subprocess.run(
            [
                sys.executable,
                "-c",
                _PEAK_SCRIPT,
                str(document),
                str(tmp_path / str(count)),
                str(count),
            ],
            capture_output=True,
            text=True,
            check=True,
            env=os.environ,
        )
        return int(result.stdout)

    small, large = peak_kib(500), peak_kib(20_000)
    assert large - small < 60 << 10, (small, large)


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["a.hwp", "--format", "jsonl"], "--format, --cluster and --scheduler need -o FILE."),
        (["a.hwp", "-o", "md", "--cluster", "local"], "-o md: with --cluster or --scheduler, -o"),
        (["a.hwp", "-o", "a.jsonl", "--cluster", "remote:2"], "--cluster remote:2: give local or"),
        (["-", "-o", "a.jsonl"], "- (standard input) is converted to standard output only"),
    ],
)
def test_dataset_usage_errors(
    arguments: List[str], message: str, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, capsys: Any
) -> None:
    monkeypatch.chdir(tmp_path)
    with pytest.raises(SystemExit) as exit:
        main(arguments)
    assert exit.value.code == 2
    assert message in capsys.readouterr().err
    assert os.listdir(tmp_path) == []
