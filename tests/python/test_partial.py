"""Documents read only in part, through every route (the API's warning and strict error, the
command line, datasets and Dask), and distribution documents, refused by the package alone."""

from __future__ import annotations

import json
import re
import subprocess
import sys
import warnings
from pathlib import Path

import _paravox
import pytest

import paravox
from hwpbuilder import corrupt_deflate, file_header, hwp_document, section
from hwpbuilder import hwpx as hx

FIRST, WHOLE = "첫째 구역", "온전한 문서"
SECOND = hx.xml_part(hx.section(hx.paragraph("둘째")))
# name, bytes, format, the warning's message (a regular expression)
PARTIAL = [
    (
        "damaged.hwp",
        hwp_document([section(FIRST), section("둘째")],
                     extra_streams={"BodyText/Section1": corrupt_deflate()}),
        "hwp",
        re.escape("Text from /BodyText/Section1 on is missing: "
                  "Parse error: 압축 해제 실패: corrupt deflate stream"),
    ),
    (
        "severed.hwpx",
        hx.hwpx_document([hx.section(hx.paragraph(FIRST)), SECOND[: len(SECOND) // 2]]),
        "hwpx",
        r"Text from Contents/section1\.xml on is missing: Package error: "
        r"Contents/section1\.xml is not well-formed XML \(line \d+: .+\)",
    ),
]


@pytest.fixture
def folder(tmp_path: Path) -> Path:
    """in/ holding both partial documents, then one read whole."""
    (tmp_path / "in").mkdir()
    for name, data, _, _ in PARTIAL:
        (tmp_path / "in" / name).write_bytes(data)
    (tmp_path / "in" / "whole.hwp").write_bytes(hwp_document([section(WHOLE)]))
    return tmp_path / "in"


def partial_warnings(caught: list[warnings.WarningMessage]) -> list[str]:
    return [str(w.message) for w in caught if w.category is paravox.PartialDocumentWarning]


@pytest.mark.parametrize("name, data, fmt, lost", PARTIAL, ids=[row[0] for row in PARTIAL])
@pytest.mark.parametrize("source", ["path", "file", "bytes"])
def test_api_warns_and_strict_raises(tmp_path, name, data, fmt, lost, source):
    (tmp_path / name).write_bytes(data)

    def convert(**options):
        if source == "bytes":
            return paravox.convert_bytes(bytearray(data), **options)
        with open(tmp_path / name, "rb") as file:
            return paravox.convert(file if source == "file" else tmp_path / name, **options)

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert convert() == FIRST
    [warning] = caught
    assert warning.category is paravox.PartialDocumentWarning and warning.message.kind == "damaged"
    assert re.fullmatch(lost, str(warning.message)) and warning.filename == __file__
    with pytest.raises(paravox.DamagedDocumentError) as raised:
        convert(strict=True)
    assert re.fullmatch(lost, str(raised.value)) and raised.value.format == fmt


@pytest.mark.parametrize("executor", ["thread", "process"])
def test_convert_many_warns_as_each_result_is_yielded(folder, executor):
    paths = [folder / "whole.hwp", *(folder / name for name, *_ in PARTIAL)]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        seen = [(markdown, len(partial_warnings(caught)))
                for _, markdown in paravox.convert_many(paths, jobs=2, executor=executor)]
    assert seen == [(WHOLE, 0), (FIRST, 1), (FIRST, 2)]
    strict = list(paravox.convert_many(paths, jobs=2, executor=executor, strict=True))
    for (_, _, _, lost), path, message, (_, error) in zip(
        PARTIAL, paths[1:], partial_warnings(caught), strict[1:]
    ):
        assert message.startswith(f"{path}: ") and re.fullmatch(lost, message[len(f"{path}: "):])
        assert isinstance(error, paravox.DamagedDocumentError) and re.fullmatch(lost, str(error))


def run(*args: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "paravox", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("strict", [False, True], ids=["partial", "strict"])
def test_command_line(folder, strict):
    flags = ["--strict"] if strict else []
    completed = run("in", "-o", "out", "--report", "r.json", *flags, cwd=folder.parent)
    alone = run("in/damaged.hwp", *flags, cwd=folder.parent)
    report = json.loads((folder.parent / "r.json").read_text("utf-8"))

    assert (completed.returncode, alone.returncode) == ((1, 1) if strict else (0, 0))
    head = "" if strict else "partial: "
    *lines, summary = completed.stderr.splitlines()
    assert len(lines) == len(PARTIAL)
    for (name, _, fmt, lost), line, entry in zip(PARTIAL, lines, report["files"]):
        message = line.removeprefix(f"in/{name}: {head}")
        assert message != line and re.fullmatch(lost, message)
        status = "error" if strict else "partial"
        assert (entry["status"], entry["format"], entry["message"]) == (status, fmt, message)
        assert (entry["output"] is None) == strict
    counts = "1 converted, 2 failed" if strict else "1 converted, 2 partial, 0 failed"
    assert summary.startswith(f"paravox: {counts}, 3 files in ")
    assert [report["summary"][k] for k in ("converted", "partial", "failed")] == (
        [1, 0, 2] if strict else [1, 2, 0])
    written = sorted(p.name for p in (folder.parent / "out").iterdir())
    assert written == (["whole.md"] if strict else ["damaged.md", "severed.md", "whole.md"])
    assert alone.stdout == ("" if strict else FIRST + "\n")
    assert alone.stderr == lines[0] + "\n"


@pytest.mark.parametrize("strict", [False, True], ids=["partial", "strict"])
@pytest.mark.parametrize("route", ["local", "dask"])
def test_dataset_rows(folder, tmp_path, strict, route):
    if route == "local":
        counts = paravox.convert_to_dataset(folder, tmp_path / "r.jsonl", jobs=2, strict=strict)
        assert counts == ((1, 2, 0) if strict else (1, 0, 2))
        lines = (tmp_path / "r.jsonl").read_text("utf-8").splitlines()
        rows = [json.loads(line) for line in lines]
    else:
        dask = pytest.importorskip("dask")
        paravox_dask = pytest.importorskip("paravox.dask")
        frame = paravox_dask.convert_frame([str(folder)], npartitions=2, strict=strict)
        with dask.config.set(scheduler="threads"):
            computed = frame.compute()
        rows = computed.astype(object).where(computed.notna(), None).to_dict("records")
    assert [(row["status"], row["markdown"]) for row in rows] == [
        *[("error", None) if strict else ("partial", FIRST)] * 2, ("ok", WHOLE)]
    for (_, _, fmt, lost), row in zip(PARTIAL, rows):
        assert row["format"] == fmt and re.fullmatch(lost, row["message"])


PLACEHOLDER = "이 문서는 상위 버전의 배포용 문서입니다."
DISTRIBUTION = re.escape(
    "Distribution HWP documents are not supported: the text is stored encrypted, for viewing only"
)


@pytest.mark.parametrize("props", [0b101, 0b100], ids=["compressed", "stored"])
def test_distribution_document_refused_by_the_package_alone(tmp_path, props):
    data = hwp_document([section(PLACEHOLDER)], compressed=bool(props & 1),
                        header=file_header(props=props))
    (tmp_path / "d.hwp").write_bytes(data)
    for convert in (lambda: paravox.convert(tmp_path / "d.hwp"),
                    lambda: paravox.convert_bytes(data)):
        with pytest.raises(paravox.DistributionDocumentError, match=DISTRIBUTION) as raised:
            convert()
        assert raised.value.format == "hwp"
    assert _paravox.hwp_to_markdown(str(tmp_path / "d.hwp")) == PLACEHOLDER


def test_shared_distribution_document(corpus_dir):
    path = corpus_dir / "features" / "viewtext.hwp"
    with pytest.raises(paravox.DistributionDocumentError, match=DISTRIBUTION):
        paravox.convert(path)
    expected = (corpus_dir / "expected" / "features" / "viewtext.md").read_text("utf-8")
    assert _paravox.hwp_to_markdown(str(path)) == expected
