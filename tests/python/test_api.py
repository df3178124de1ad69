"""The `paravox` package: convert, records and convert_many over real documents."""

from __future__ import annotations

import datetime
import io
import json
import os
import shutil
from concurrent.futures.process import BrokenProcessPool
from pathlib import Path
from typing import Iterator

import _paravox
import pytest

import paravox
from paravox import _batch

# (folder, name) of corpus documents used below; expected outputs live in expected/<folder>/.
GOOD_DOCUMENTS = [
    ("features", "표.hwp"),
    ("features", "table.hwp"),
    ("features", "수식.hwp"),
    ("realworld", "000000000000140327.hwp"),
]
EMPTY_NAME = "empty.hwp"
TEXT_NAME = "notes.HWP"
TEXT_CONTENT = b"This is a plain text file, not a compound file.\n" * 20  # 980 bytes


def expected_markdown(corpus_dir: Path, folder: str, name: str) -> str:
    return (corpus_dir / "expected" / folder / (name[: -len(".hwp")] + ".md")).read_text("utf-8")


def expected_records(corpus_dir: Path, folder: str, name: str) -> list[tuple[int, int, int]]:
    lines = (corpus_dir / "expected" / folder / (name[: -len(".hwp")] + ".records")).read_text()
    rows = [tuple(int(number) for number in line.split()) for line in lines.splitlines()]
    return [(tag, level, size) for tag, level, size in rows]


class PathLikeOnly:
    """An os.PathLike that is neither str nor Path, as user code may define."""

    def __init__(self, path: str) -> None:
        self.path = path

    def __fspath__(self) -> str:
        return self.path


@pytest.fixture
def documents(tmp_path: Path, corpus_dir: Path) -> dict[str, Path]:
    """Inputs by kind: real documents and files named like documents that are not."""
    empty = tmp_path / EMPTY_NAME
    empty.write_bytes(b"")
    text = tmp_path / TEXT_NAME
    text.write_bytes(TEXT_CONTENT)
    return {
        "empty": empty,
        "text": text,
        "missing": tmp_path / "nonexistent.hwp",
        "password": corpus_dir / "features" / "password-12345.hwp",
        "table": corpus_dir / "features" / "table.hwp",
        "표": corpus_dir / "features" / "표.hwp",
        "equation": corpus_dir / "features" / "수식.hwp",
        "realworld": corpus_dir / "realworld" / "000000000000140327.hwp",
    }


# The package names what a file that is not a document appears to be; `records` reads through
# _paravox, whose messages are those of the compound-file reader.
FAILURES = [
    ("missing", "IO error: No such file or directory (os error 2)"),
    ("empty", "Not an HWP or HWPX document: the file is empty"),
    ("text", "Not an HWP or HWPX document: plain text"),
    ("password", "Password-protected HWP files are not supported"),
]
# (document, exception class, message); the same from the file's bytes but for "missing".
RECORDS_FAILURES = [
    ("missing", paravox.FileReadError, "IO error: No such file or directory (os error 2)"),
    ("empty", paravox.NotADocumentError, "Compound file error: Invalid CFB file (0 bytes is too small)"),
    ("text", paravox.NotADocumentError, "Compound file error: Invalid CFB file (wrong magic number)"),
    ("password", paravox.PasswordProtectedError, "Password-protected HWP files are not supported"),
]


PATH_FORMS = [
    pytest.param(str, id="str"),
    pytest.param(Path, id="Path"),
    pytest.param(os.fsencode, id="bytes"),
    pytest.param(PathLikeOnly, id="PathLike"),
]


class TestConvert:
    @pytest.mark.parametrize("folder,name", GOOD_DOCUMENTS)
    @pytest.mark.parametrize("form", PATH_FORMS)
    def test_matches_expected_output(self, corpus_dir, folder, name, form):
        path = form(str(corpus_dir / folder / name))
        assert paravox.convert(path, profile="minimal") == expected_markdown(corpus_dir, folder, name)

    @pytest.mark.parametrize("kind,message", FAILURES)
    def test_failures_raise_runtime_error_with_message(self, documents, kind, message):
        with pytest.raises(RuntimeError) as caught:
            paravox.convert(documents[kind])
        assert caught.value.args == (message,)

    @pytest.mark.parametrize("value", [None, 3, 2.5, ["a.hwp"]], ids=repr)
    def test_non_path_arguments_raise_type_error(self, value):
        with pytest.raises(TypeError):
            paravox.convert(value)

    def test_non_utf8_file_name(self, corpus_dir, tmp_path):
        # "표.hwp" in EUC-KR, as unpacked from an archive made on an older Korean system.
        name = "표.hwp".encode("euc-kr")
        target = os.path.join(os.fsencode(tmp_path), name)
        shutil.copyfile(corpus_dir / "features" / "표.hwp", target)
        expected = expected_markdown(corpus_dir, "features", "표.hwp")
        assert paravox.convert(target, profile="minimal") == expected
        assert paravox.convert(os.fsdecode(target), profile="minimal") == expected
        assert paravox.records(Path(os.fsdecode(target))) == expected_records(
            corpus_dir, "features", "표.hwp"
        )

    def test_missing_non_utf8_file_name(self, tmp_path):
        target = os.path.join(os.fsencode(tmp_path), b"\xc7\xa5.hwp")
        with pytest.raises(RuntimeError) as caught:
            paravox.convert(target)
        assert caught.value.args == ("IO error: No such file or directory (os error 2)",)


class TestRecords:
    @pytest.mark.parametrize("folder,name", GOOD_DOCUMENTS)
    @pytest.mark.parametrize("form", PATH_FORMS)
    def test_matches_expected_records(self, corpus_dir, folder, name, form):
        path = form(str(corpus_dir / folder / name))
        assert paravox.records(path) == expected_records(corpus_dir, folder, name)

    @pytest.mark.parametrize("folder,name", GOOD_DOCUMENTS)
    def test_bytes_and_files_read_as_paths(self, corpus_dir, folder, name):
        path = corpus_dir / folder / name
        expected = expected_records(corpus_dir, folder, name)
        assert paravox.records_bytes(bytearray(path.read_bytes())) == expected
        with open(path, "rb") as file:
            assert paravox.records(file) == expected

    @pytest.mark.parametrize("kind,error,message", RECORDS_FAILURES)
    def test_failures_raise_typed_errors_with_the_readers_messages(
        self, documents, kind, error, message
    ):
        with pytest.raises(error) as caught:
            paravox.records(str(documents[kind]))
        assert caught.value.args == (message,)
        if kind != "missing":
            with pytest.raises(error) as caught:
                paravox.records_bytes(documents[kind].read_bytes())
            assert caught.value.args == (message,)


def mixed_inputs(corpus_dir: Path, documents: dict[str, Path]) -> list[tuple[object, object]]:
    """(path as passed, expected Markdown or expected RuntimeError message), good and bad mixed,
    as str and as Path, some repeated."""
    failures = dict(FAILURES)

    def expected(kind: str) -> str:
        if kind in failures:
            return failures[kind]
        path = documents[kind]
        return expected_markdown(corpus_dir, path.parent.name, path.name)

    kinds = ["표", "empty", "table", "realworld", "text", "equation"]
    kinds += ["missing", "table", "password", "realworld", "표", "empty", "equation", "table"]
    kinds += ["realworld"] * 6 + ["text"]
    return [
        (str(documents[kind]) if index % 2 else documents[kind], expected(kind))
        for index, kind in enumerate(kinds)
    ]


POOLS = [
    pytest.param({"jobs": 1}, id="in-process"),
    pytest.param({"jobs": 2, "executor": "thread"}, id="threads"),
    pytest.param({"jobs": 2, "executor": "process"}, id="processes"),
]


class TestMetadata:
    def test_values_and_utc_times_from_paths_and_files(self, corpus_dir):
        """The same document saved in both formats: one author, one creation time, in UTC."""
        twin = corpus_dir / "hwpx" / "twins" / "hwp2hwpx-new_number.hwp"
        binary, package = paravox.metadata(twin), paravox.metadata(str(twin.with_suffix(".hwpx")))
        with open(twin, "rb") as file:
            assert paravox.metadata(file) == binary
        assert binary["author"] == package["author"] == "sungkyunpark"
        assert "title" not in binary  # empty in both
        created = datetime.datetime(2023, 10, 5, 3, 27, 6, tzinfo=datetime.timezone.utc)
        assert package["created"] == binary["created"].replace(microsecond=0) == created
        with pytest.raises(TypeError, match=r"^metadata\(\) needs a file opened in binary mode"):
            paravox.metadata(io.StringIO("text"))


class TestConvertMany:
    @pytest.mark.parametrize("pool", POOLS + [pytest.param({}, id="default")])
    def test_yields_every_input_in_order_with_exceptions_as_values(
        self, corpus_dir, documents, pool
    ):
        rows = mixed_inputs(corpus_dir, documents)
        paths = [path for path, _ in rows]
        results = list(paravox.convert_many(iter(paths), profile="minimal", **pool))

        assert [path for path, _ in results] == paths
        for (path, outcome), (_, expected) in zip(results, rows):
            if isinstance(outcome, Exception):
                assert isinstance(outcome, RuntimeError), path
                assert outcome.args == (expected,), path
            else:
                assert outcome == expected, path

    def test_same_results_in_process_threads_and_processes(self, corpus_dir, documents):
        paths = [path for path, _ in mixed_inputs(corpus_dir, documents)]

        def comparable(pool: dict[str, object]) -> list[object]:
            return [
                (
                    (type(r).__name__, r.args, getattr(r, "format", None))
                    if isinstance(r, Exception)
                    else r
                )
                for _, r in paravox.convert_many(paths, **pool)
            ]

        in_process, threads, processes = (comparable(p.values[0]) for p in POOLS)
        assert in_process == threads == processes

    @pytest.mark.parametrize("pool", POOLS)
    def test_no_paths(self, pool):
        assert list(paravox.convert_many([], **pool)) == []

    @pytest.mark.parametrize(
        "arguments,error",
        [
            ({"jobs": 0}, ValueError),
            ({"jobs": -2}, ValueError),
            ({"jobs": "2"}, TypeError),
            ({"jobs": 1.0}, TypeError),
            ({"jobs": True}, TypeError),
            ({"executor": "processes"}, ValueError),
            ({"executor": None}, ValueError),
        ],
    )
    def test_bad_arguments_raise_at_the_call(self, arguments, error):
        with pytest.raises(error):
            paravox.convert_many(["a.hwp"], **arguments)

    @pytest.mark.parametrize("executor", ["thread", "process"])
    def test_paths_are_read_as_workers_free_up(self, corpus_dir, executor):
        consumed = 0
        total = 2000

        def paths() -> Iterator[Path]:
            nonlocal consumed
            for _ in range(total):
                consumed += 1
                yield corpus_dir / "features" / "table.hwp"

        results = paravox.convert_many(paths(), jobs=2, executor=executor, profile="minimal")
        _, first = next(results)
        assert first == expected_markdown(corpus_dir, "features", "table.hwp")
        results.close()
        assert consumed < 100, f"{consumed} of {total} paths were taken before the first result"


def exit_on_poison(item: str) -> str:
    """Kills its worker process for the item "poison"; echoes any other item."""
    if item == "poison":
        os._exit(3)
    if item == "raise":
        raise ValueError("bad item")
    return item.upper()


class TestOrderedMapWorkerDeath:
    def test_a_dead_worker_fails_only_its_own_input(self):
        # Early inputs go out one per task; by the second poison, tasks carry many inputs.
        items = ["a", "b", "poison", "c", "raise", "d"]
        items += [f"x{i}" for i in range(500)] + ["poison"] + [f"y{i}" for i in range(100)]
        # Workers from a server process: a fork of this threaded test process (its pools'
        # feeder threads) can deadlock in a lock another thread held, under AddressSanitizer
        # most often.
        results = list(
            _batch.ordered_map(exit_on_poison, items, jobs=2, mp_context=_batch.process_context())
        )

        assert [item for item, _ in results] == items
        for item, outcome in results:
            if item == "poison":
                assert isinstance(outcome, BrokenProcessPool)
            elif item == "raise":
                assert isinstance(outcome, ValueError) and outcome.args == ("bad item",)
            else:
                assert outcome == item.upper()


def twin_with_merged_cells(corpus_dir: Path) -> Path:
    return corpus_dir / "hwpx" / "twins" / "hwp2hwpx-table.hwp"


def dataset_markdown(path: Path, tmp_path: Path, **profile: str) -> str:
    out = tmp_path / "rows.jsonl"
    paravox.convert_to_dataset([path], out, jobs=1, **profile)
    return json.loads(out.read_text(encoding="utf-8"))["markdown"]


def dask_frame(path: Path, tmp_path: Path, **profile: str) -> object:
    return pytest.importorskip("paravox.dask").convert_frame([path], **profile)


# Each route, given a path and the profile argument (none: the default).
ROUTES = {
    "convert": lambda path, tmp, **profile: paravox.convert(path, **profile),
    "convert_bytes": lambda path, tmp, **profile: paravox.convert_bytes(path.read_bytes(), **profile),
    "convert_many": lambda path, tmp, **profile: next(paravox.convert_many([path], **profile))[1],
    "convert_to_dataset": dataset_markdown,
}


class TestProfile:
    @pytest.mark.parametrize("route", ROUTES.values(), ids=ROUTES.keys())
    def test_full_by_default_and_minimal_as_paravox_gives_it(self, corpus_dir, tmp_path, route):
        path = twin_with_merged_cells(corpus_dir)
        minimal = route(path, tmp_path, profile="minimal")
        assert minimal == _paravox.hwp_to_markdown(str(path))
        full = route(path, tmp_path, profile="full")
        assert full.startswith("<table><tr><th rowspan=\"2\">") and full != minimal
        assert route(path, tmp_path) == full

    @pytest.mark.parametrize(
        "route", [*ROUTES.values(), dask_frame], ids=[*ROUTES.keys(), "dask.convert_frame"]
    )
    def test_a_profile_of_another_name_is_refused_at_the_call(self, tmp_path, route):
        document = tmp_path / "a.hwp"
        document.write_bytes(b"")
        with pytest.raises(ValueError) as caught:
            route(document, tmp_path, profile="Full")
        assert str(caught.value) == "profile must be \"full\" or \"minimal\", not 'Full'"
