"""The `paravox` command line, run as `python -m paravox` in a subprocess over real documents."""

from __future__ import annotations

import fcntl
import itertools
import json
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import termios
from dataclasses import dataclass
from pathlib import Path

import pytest

from paravox import cli

TEXT_CONTENT = b"This is a plain text file, not a compound file.\n" * 20  # 980 bytes

# Messages the converter gives for the broken inputs below.
EMPTY_MESSAGE = "Not an HWP or HWPX document: the file is empty"
TEXT_MESSAGE = "Not an HWP or HWPX document: plain text"
PASSWORD_MESSAGE = "Password-protected HWP files are not supported"


def run(
    *args: str | os.PathLike[str],
    cwd: Path,
    env: dict[str, str] | None = None,
    stdin: bytes | None = None,
    profile: str | None = "minimal",
):
    """Runs the command line; returns the completed process with stdout as bytes, stderr as text.
    The minimal profile by default, whose output the expected files hold; `profile=None` gives
    no --profile."""
    chosen = ["--profile", profile] if profile is not None else []
    completed = subprocess.run(
        [sys.executable, "-m", "paravox", *chosen, *map(str, args)],
        cwd=cwd,
        env={**os.environ, **(env or {})},
        input=stdin,
        capture_output=True,
        timeout=300,
    )
    completed.stderr = completed.stderr.decode("utf-8", "backslashreplace")
    return completed


def stderr_lines(completed) -> list[str]:
    return completed.stderr.splitlines()


def expected_file_bytes(corpus_dir: Path, folder: str, name: str) -> bytes:
    """What the command line writes for a corpus document: its Markdown, plus a final line feed."""
    stem = name[: -len(".hwp")]
    markdown = (corpus_dir / "expected" / folder / f"{stem}.md").read_bytes()
    return markdown + b"\n" if markdown else markdown


def files_under(folder: Path) -> set[str]:
    """Every file under `folder` (hidden ones included), as POSIX paths relative to it."""
    return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}


@dataclass
class Workspace:
    """tmp_path/in holds the inputs; the command runs in tmp_path with relative paths."""

    root: Path
    corpus_dir: Path
    good: dict[str, bytes]  # input path (relative to root) -> expected output bytes
    bad: dict[str, str]  # input path (relative to root) -> expected message

    def add(self, relative: str, folder: str, name: str) -> None:
        target = self.root / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.corpus_dir / folder / name, target)
        self.good[relative] = expected_file_bytes(self.corpus_dir, folder, name)


@pytest.fixture
def workspace(tmp_path: Path, corpus_dir: Path) -> Workspace:
    ws = Workspace(tmp_path, corpus_dir, {}, {})
    ws.add("in/표.hwp", "features", "표.hwp")
    ws.add("in/sub/table.hwp", "features", "table.hwp")
    ws.add("in/sub/deeper/수식.HWP", "features", "수식.hwp")
    ws.add("in/sub/deeper/000000000000140327.Hwp", "realworld", "000000000000140327.hwp")
    (tmp_path / "in" / "broken").mkdir()
    (tmp_path / "in" / "broken" / "empty.hwp").write_bytes(b"")
    (tmp_path / "in" / "broken" / "notes.HWP").write_bytes(TEXT_CONTENT)
    shutil.copyfile(
        corpus_dir / "features" / "password-12345.hwp", tmp_path / "in" / "password-12345.hwp"
    )
    (tmp_path / "in" / "readme.txt").write_text("not a document, not converted")
    ws.bad = {
        "in/broken/empty.hwp": EMPTY_MESSAGE,
        "in/broken/notes.HWP": TEXT_MESSAGE,
        "in/password-12345.hwp": PASSWORD_MESSAGE,
    }
    return ws


def output_name(relative_input: str) -> str:
    """in/sub/x.hwp -> sub/x.md (path below the folder `in`, extension replaced)."""
    below = relative_input[len("in/") :]
    return re.sub(r"\.hwpx?$", "", below, flags=re.IGNORECASE) + ".md"


class TestFolderConversion:
    @pytest.mark.parametrize(
        "pool",
        [["--jobs", "1"], ["--jobs", "2", "--executor", "thread"], ["--executor", "process"]],
        ids=["in-process", "threads", "processes"],
    )
    def test_converts_every_document_and_reports_failures(self, workspace, pool):
        completed = run("in", "-o", "out", *pool, "--no-progress", cwd=workspace.root)
        out = workspace.root / "out"

        assert completed.returncode == 1
        assert completed.stdout == b""
        # Only the documents that converted have outputs; no temporary or partial files remain.
        assert files_under(out) == {output_name(path) for path in workspace.good}
        for path, expected in workspace.good.items():
            assert (out / output_name(path)).read_bytes() == expected, path
        # One line per failure, in the order the documents were found, then the summary.
        lines = stderr_lines(completed)
        assert lines[:-1] == [
            f"{path}: {message}" for path, message in sorted(workspace.bad.items())
        ]
        assert lines[-1].startswith("paravox: 4 converted, 3 failed, 7 files in ")

    def test_all_converted_exits_zero(self, workspace):
        completed = run("in/sub", "-o", "out", "--no-progress", cwd=workspace.root)

        assert completed.returncode == 0
        assert files_under(workspace.root / "out") == {
            "table.md",
            "deeper/수식.md",
            "deeper/000000000000140327.md",
        }
        assert len(stderr_lines(completed)) == 1  # the summary alone
        assert "3 converted, 0 failed" in completed.stderr

    def test_folder_and_file_arguments_together(self, workspace):
        completed = run(
            "in/sub/deeper", "in/표.hwp", "in/broken/empty.hwp", "-o", "out", cwd=workspace.root
        )
        out = workspace.root / "out"

        assert completed.returncode == 1
        # A file argument is written under its own name, a folder's documents below their folder.
        assert files_under(out) == {"수식.md", "000000000000140327.md", "표.md"}
        assert (out / "표.md").read_bytes() == workspace.good["in/표.hwp"]
        assert stderr_lines(completed)[0] == f"in/broken/empty.hwp: {EMPTY_MESSAGE}"

    def test_file_argument_of_any_name_is_converted(self, workspace):
        shutil.copyfile(workspace.root / "in/sub/table.hwp", workspace.root / "table.data")
        completed = run("table.data", "-o", "out", cwd=workspace.root)

        assert completed.returncode == 0
        assert completed.stderr.startswith("paravox: 1 converted, 0 failed, 1 file in ")
        assert (workspace.root / "out" / "table.data.md").read_bytes() == workspace.good[
            "in/sub/table.hwp"
        ]

    def test_second_run_replaces_outputs(self, workspace):
        out = workspace.root / "out"
        out.mkdir()
        (out / "표.md").write_text("stale")
        completed = run("in", "-o", "out", cwd=workspace.root)

        assert completed.returncode == 1
        assert (out / "표.md").read_bytes() == workspace.good["in/표.hwp"]
        assert run("in", "-o", "out", cwd=workspace.root).returncode == 1
        assert files_under(out) == {output_name(path) for path in workspace.good}

    def test_folder_of_both_formats(self, workspace):
        twins = workspace.corpus_dir / "hwpx" / "twins"
        if not twins.is_dir():
            pytest.skip(f"no HWPX twins in {twins}")
        expected = workspace.corpus_dir / "hwpx" / "expected"
        mixed = workspace.root / "mixed"
        (mixed / "sub").mkdir(parents=True)
        # x.hwp and x.hwpx side by side both want mixed/x.md: the first one found writes it.
        shutil.copyfile(twins / "hwp2hwpx-table.hwp", mixed / "table.hwp")
        shutil.copyfile(twins / "hwp2hwpx-table.hwpx", mixed / "table.hwpx")
        shutil.copyfile(twins / "hwp2hwpx-equation.hwpx", mixed / "sub" / "equation.HWPX")
        completed = run("mixed", "-o", "out", "--report", "r.json", cwd=workspace.root)
        report = json.loads((workspace.root / "r.json").read_text("utf-8"))
        out = workspace.root / "out"

        assert completed.returncode == 1
        assert stderr_lines(completed)[0] == (
            "mixed/table.hwpx: output out/table.md is already written from mixed/table.hwp"
        )
        assert files_under(out) == {"table.md", "sub/equation.md"}
        for written, twin in [("table.md", "table"), ("sub/equation.md", "equation")]:
            markdown = (expected / f"hwp2hwpx-{twin}.md").read_bytes()
            assert (out / written).read_bytes() == (markdown + b"\n" if markdown else b"")
        assert [(e["path"], e["format"], e["status"]) for e in report["files"]] == [
            ("mixed/sub/equation.HWPX", "hwpx", "ok"),
            ("mixed/table.hwp", "hwp", "ok"),
            ("mixed/table.hwpx", None, "error"),  # refused before it was read
        ]

    def test_missing_argument_is_a_failure_and_the_rest_converts(self, workspace):
        completed = run(
            "in/sub/table.hwp",
            "nowhere.hwp",
            "in/표.hwp",
            "-o",
            "out",
            "--report",
            "r.json",
            cwd=workspace.root,
        )
        report = json.loads((workspace.root / "r.json").read_text("utf-8"))

        assert completed.returncode == 1
        assert stderr_lines(completed)[0] == "nowhere.hwp: No such file or directory"
        assert files_under(workspace.root / "out") == {"table.md", "표.md"}
        # The report keeps command-line order.
        assert [(e["path"], e["status"]) for e in report["files"]] == [
            ("in/sub/table.hwp", "ok"),
            ("nowhere.hwp", "error"),
            ("in/표.hwp", "ok"),
        ]

    def test_no_documents_found(self, tmp_path):
        (tmp_path / "empty").mkdir()
        (tmp_path / "empty" / "notes.txt").write_text("text")
        completed = run("empty", "-o", "out", cwd=tmp_path)

        assert completed.returncode == 1
        assert stderr_lines(completed) == ["paravox: no .hwp or .hwpx files found in empty"]
        assert not (tmp_path / "out").exists()

    def test_unwritable_output_fails_that_document_only(self, workspace):
        out = workspace.root / "out"
        out.mkdir()
        (out / "sub").write_text("a file where a folder is needed")
        completed = run("in", "-o", "out", "--jobs", "2", cwd=workspace.root)

        assert completed.returncode == 1
        failures = [line for line in stderr_lines(completed) if line.startswith("in/sub/")]
        assert [line.split(": ")[0] for line in failures] == [
            "in/sub/deeper/000000000000140327.Hwp",
            "in/sub/deeper/수식.HWP",
            "in/sub/table.hwp",
        ]
        assert all(": cannot write out/sub/" in line for line in failures)
        assert files_under(out) == {"sub", "표.md"}

    def test_longest_file_name(self, workspace):
        name = "긴" * 83 + "xy.hwp"  # 255 bytes, the most a file name may hold here
        shutil.copyfile(workspace.root / "in/표.hwp", workspace.root / name)
        completed = run(name, "-o", "out", cwd=workspace.root)

        assert completed.returncode == 0, completed.stderr
        assert files_under(workspace.root / "out") == {"긴" * 83 + "xy.md"}

    def test_non_utf8_file_names(self, workspace):
        folder = os.path.join(os.fsencode(workspace.root), b"euc")
        os.mkdir(folder)
        shutil.copyfile(
            workspace.root / "in/표.hwp", os.path.join(folder, "표.hwp".encode("euc-kr"))
        )
        completed = run("euc", "-o", "out", "--report", "report.json", cwd=workspace.root)

        assert completed.returncode == 0, completed.stderr
        out = os.path.join(os.fsencode(workspace.root), b"out")
        assert os.listdir(out) == ["표.md".encode("euc-kr")]
        with open(os.path.join(out, "표.md".encode("euc-kr")), "rb") as written:
            assert written.read() == workspace.good["in/표.hwp"]
        report = json.loads((workspace.root / "report.json").read_text("utf-8"))
        assert os.fsencode(report["files"][0]["path"]) == b"euc/" + "표.hwp".encode("euc-kr")


class TestInputsNeverOverwritten:
    def test_output_that_is_an_input_is_refused(self, workspace):
        out = workspace.root / "out"
        out.mkdir()
        # out/doc.md is a document given as input; doc.hwp would be written to out/doc.md.
        shutil.copyfile(workspace.root / "in/표.hwp", workspace.root / "doc.hwp")
        shutil.copyfile(workspace.root / "in/sub/table.hwp", out / "doc.md")
        completed = run("doc.hwp", "out/doc.md", "-o", "out", cwd=workspace.root)

        assert completed.returncode == 1
        assert stderr_lines(completed)[0] == (
            "doc.hwp: output out/doc.md is an input file; not overwritten"
        )
        assert (out / "doc.md").read_bytes() == (workspace.root / "in/sub/table.hwp").read_bytes()
        assert (out / "doc.md.md").read_bytes() == workspace.good["in/sub/table.hwp"]

    @pytest.mark.parametrize("link", [os.link, os.symlink], ids=["hard-link", "symbolic-link"])
    def test_output_linked_to_an_input_is_refused(self, workspace, link):
        out = workspace.root / "out"
        out.mkdir()
        link(workspace.root / "in/표.hwp", out / "table.md")  # the same file under two names
        completed = run("in/sub/table.hwp", "in/표.hwp", "-o", "out", cwd=workspace.root)

        assert completed.returncode == 1
        assert stderr_lines(completed)[0] == (
            "in/sub/table.hwp: output out/table.md is an input file; not overwritten"
        )
        assert (out / "table.md").read_bytes() == (workspace.root / "in/표.hwp").read_bytes()

    def test_two_documents_with_one_output_name(self, workspace):
        completed = run(
            "in/sub/table.hwp", "in/sub/table.hwp", "in", "-o", "out", cwd=workspace.root
        )

        # The same document named twice is converted once; another with the same output name fails.
        shutil.copyfile(workspace.root / "in/표.hwp", workspace.root / "table.hwp")
        clash = run("in/sub/table.hwp", "table.hwp", "-o", "out2", cwd=workspace.root)

        assert completed.returncode == 1
        assert stderr_lines(completed)[-1].startswith("paravox: 5 converted, 3 failed, 8 files")
        assert clash.returncode == 1
        assert stderr_lines(clash)[0] == (
            "table.hwp: output out2/table.md is already written from in/sub/table.hwp"
        )
        assert (workspace.root / "out2/table.md").read_bytes() == workspace.good["in/sub/table.hwp"]


class TestReport:
    def test_lists_every_input(self, workspace):
        completed = run("in", "-o", "out", "--report", "report/run.json", cwd=workspace.root)
        report = json.loads((workspace.root / "report/run.json").read_text("utf-8"))

        assert completed.returncode == 1
        entries = {entry["path"]: entry for entry in report["files"]}
        assert list(entries) == sorted(list(workspace.good) + list(workspace.bad))
        for path, expected in workspace.good.items():
            entry = entries[path]
            assert (entry["format"], entry["status"], entry["message"]) == ("hwp", "ok", None)
            assert entry["output"] == "out/" + output_name(path)
            assert entry["input_bytes"] == (workspace.root / path).stat().st_size
            assert entry["output_bytes"] == len(expected)
            assert 0 <= entry["seconds"] < 60
        for path, message in workspace.bad.items():
            entry = entries[path]
            assert (entry["status"], entry["message"], entry["output"]) == ("error", message, None)
            # Only the password-protected document was recognised as a document at all.
            assert entry["format"] == ("hwp" if "password" in path else None)
            assert entry["input_bytes"] == (workspace.root / path).stat().st_size
            assert entry["output_bytes"] is None
        summary = report["summary"]
        assert (summary["converted"], summary["failed"], summary["interrupted"]) == (4, 3, False)
        assert summary["output_dir"] == "out"
        assert not any(p.name.endswith(".part") for p in (workspace.root / "report").iterdir())

    def test_missing_input_in_report(self, workspace):
        run("nowhere.hwp", "-o", "out", "--report", "r.json", cwd=workspace.root)
        report = json.loads((workspace.root / "r.json").read_text("utf-8"))

        assert report["files"] == [
            {
                "path": "nowhere.hwp",
                "format": None,
                "status": "error",
                "message": "No such file or directory",
                "output": None,
                "input_bytes": None,
                "output_bytes": None,
                "seconds": 0.0,
            }
        ]

    def test_kept_and_marked_when_interrupted(self, workspace, monkeypatch, capsys):
        run_outcomes = cli._outcomes

        def interrupted_after_four(*args, **kwargs):
            yield from itertools.islice(run_outcomes(*args, **kwargs), 4)
            raise KeyboardInterrupt

        monkeypatch.setattr(cli, "_outcomes", interrupted_after_four)
        monkeypatch.chdir(workspace.root)
        status = cli.main(["in", "-o", "out", "--jobs", "1", "--report", "r.json"])
        report = json.loads((workspace.root / "r.json").read_text("utf-8"))

        assert status == 130
        assert [entry["path"] for entry in report["files"]] == sorted(
            list(workspace.good) + list(workspace.bad)
        )[:4]
        summary = report["summary"]
        assert (summary["converted"], summary["failed"], summary["interrupted"]) == (1, 3, True)
        assert capsys.readouterr().err.splitlines()[-1] == (
            "paravox: interrupted after 4 of 7 files (1 converted, 3 failed); "
            "the report lists them in r.json"
        )

    def test_unwritable_report_is_bad_usage(self, workspace):
        (workspace.root / "taken").write_text("a file where a folder is needed")
        completed = run("in", "-o", "out", "--report", "taken/r.json", cwd=workspace.root)

        assert completed.returncode == 2
        assert completed.stderr.startswith("paravox: cannot write report taken/r.json: ")
        assert not (workspace.root / "out").exists()


class TestStandardOutput:
    @pytest.mark.parametrize(
        "locale_env",
        [
            {},
            {"LC_ALL": "C", "LANG": "C", "PYTHONUTF8": "0", "PYTHONCOERCECLOCALE": "0"},
        ],
        ids=["default-locale", "C-locale"],
    )
    def test_prints_markdown_as_utf8(self, workspace, locale_env):
        completed = run("in/표.hwp", cwd=workspace.root, env=locale_env)

        assert completed.returncode == 0
        assert completed.stdout == workspace.good["in/표.hwp"]
        assert completed.stderr == ""
        assert not (workspace.root / "in" / "표.md").exists()

    def test_full_profile_by_default(self, workspace, corpus_dir):
        document = corpus_dir / "hwpx" / "twins" / "hwp2hwpx-table.hwpx"
        full = run(document, cwd=workspace.root, profile=None)
        minimal = run(document, cwd=workspace.root)

        assert full.stdout == run(document, cwd=workspace.root, profile="full").stdout
        assert full.stdout.startswith(b'<table><tr><th rowspan="2">1<br>2</th>')
        expected = corpus_dir / "hwpx" / "expected" / "hwp2hwpx-table.md"
        assert minimal.stdout == expected.read_bytes() + b"\n"

    @pytest.mark.parametrize(
        "path,message",
        [
            ("in/broken/empty.hwp", EMPTY_MESSAGE),
            ("in/broken/notes.HWP", TEXT_MESSAGE),
            ("in/password-12345.hwp", PASSWORD_MESSAGE),
        ],
    )
    def test_failure(self, workspace, path, message):
        completed = run(path, cwd=workspace.root)

        assert completed.returncode == 1
        assert completed.stdout == b""
        assert stderr_lines(completed) == [f"{path}: {message}"]

    @pytest.mark.parametrize(
        "content,status,stdout,stderr",
        [
            ("in/표.hwp", 0, "in/표.hwp", []),
            ("in/broken/notes.HWP", 1, None, [f"-: {TEXT_MESSAGE}"]),
            (None, 1, None, [f"-: {EMPTY_MESSAGE}"]),
        ],
        ids=["document", "not-a-document", "nothing"],
    )
    def test_standard_input(self, workspace, content, status, stdout, stderr):
        data = (workspace.root / content).read_bytes() if content else b""
        completed = run("-", cwd=workspace.root, stdin=data)

        assert completed.returncode == status
        assert completed.stdout == (workspace.good[stdout] if stdout else b"")
        assert stderr_lines(completed) == stderr


@pytest.mark.parametrize("output", [[], ["-o", "out"]], ids=["stdout", "folder"])
def test_missing_input_gets_the_same_line_in_both_modes(workspace, output):
    completed = run("in/nowhere.hwp", *output, cwd=workspace.root)

    assert completed.returncode == 1
    assert stderr_lines(completed)[0] == "in/nowhere.hwp: No such file or directory"
    assert not (workspace.root / "out").exists()


class TestUsage:
    @pytest.mark.parametrize(
        "args,message",
        [
            ([], "the following arguments are required: FILE_OR_DIR"),
            (["in/표.hwp", "in/sub/table.hwp"], "give -o OUTDIR to convert more than one file"),
            (["in"], "in is a folder; give -o OUTDIR to convert the documents in it"),
            (["in/표.hwp", "--report", "r.json"], "--report needs -o OUTDIR"),
            (["in", "-o", "in/readme.txt"], "-o in/readme.txt: not a folder"),
            (["in", "-o", "out", "--jobs", "0"], "argument -j/--jobs: must be at least 1: 0"),
            (["in", "-o", "out", "--jobs", "many"], "argument -j/--jobs: not a whole number"),
            (["in", "-o", "out", "--colour"], "unrecognized arguments: --colour"),
            (["in", "-o", "out", "--executor", "gpu"], "argument --executor: invalid choice"),
            (
                ["in", "-o", "out", "--profile", "html"],
                "argument --profile: invalid choice: 'html' (choose from 'full', 'minimal')",
            ),
            (["-", "-o", "out"], "- (standard input) is converted to standard output only"),
        ],
    )
    def test_bad_usage_exits_2_and_writes_nothing(self, workspace, args, message):
        before = files_under(workspace.root)
        completed = run(*args, cwd=workspace.root)

        assert completed.returncode == 2
        assert completed.stdout == b""
        assert completed.stderr.startswith("usage: paravox ")
        assert f"paravox: error: {message}" in completed.stderr
        assert files_under(workspace.root) == before

    def test_output_folder_that_cannot_be_created(self, workspace):
        (workspace.root / "taken").write_text("a file where a folder is needed")
        completed = run("in", "-o", "taken/out", "--report", "r.json", cwd=workspace.root)

        assert completed.returncode == 2
        assert stderr_lines(completed) == ["paravox: cannot create -o taken/out: Not a directory"]
        assert not (workspace.root / "r.json").exists()
        assert not any(p.name.endswith(".part") for p in workspace.root.iterdir())

    def test_version(self, tmp_path):
        completed = run("--version", cwd=tmp_path)
        package_version = subprocess.run(
            [sys.executable, "-c", "import paravox; print(paravox.__version__)"],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.strip()

        assert completed.returncode == 0
        assert completed.stdout.decode() == f"paravox {package_version}\n"

    def test_help_shows_examples_and_exit_statuses(self, tmp_path):
        completed = run("--help", cwd=tmp_path)
        text = completed.stdout.decode()

        assert completed.returncode == 0
        assert "paravox docs/ -o md/" in text
        assert "exit status:" in text
        for option in (
            "-o OUTDIR",
            "--jobs N",
            "--executor {thread,process}",
            "--progress, --no-progress",
            "--report FILE.json",
            "--profile {full,minimal}",
        ):
            assert option in text


class TestProgress:
    @pytest.mark.parametrize(
        "flags,shown",
        [([], False), (["--progress"], True), (["--no-progress"], False)],
        ids=["not-a-terminal", "forced-on", "forced-off"],
    )
    def test_progress_bar_on_stderr(self, workspace, flags, shown):
        completed = run("in", "-o", "out", *flags, cwd=workspace.root)

        assert completed.returncode == 1
        bar = re.search(r"7/7 \[[^\]]*file/s, 3 failed\]", completed.stderr)
        assert (bar is not None) == shown, completed.stderr
        # Failure lines stay whole lines (between carriage returns) with the bar drawn around them.
        screen_lines = re.split(r"[\r\n]", completed.stderr)
        for path, message in workspace.bad.items():
            assert f"{path}: {message}" in screen_lines

    def test_drawn_at_a_default_width_when_the_terminal_reports_none(self, workspace):
        # Some pseudo-terminals report 0 columns and 0 rows.
        leader, follower = pty.openpty()
        fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 0, 0, 0, 0))
        with subprocess.Popen(
            [sys.executable, "-m", "paravox", "in/sub", "-o", "out", "--progress"],
            cwd=workspace.root,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=follower,
        ) as child:
            os.close(follower)
            screen = b""
            while chunk := _read_terminal(leader):
                screen += chunk
        os.close(leader)
        text = screen.decode("utf-8", "replace")

        assert child.returncode == 0, text
        bars = [line for line in re.split(r"[\r\n]", text) if "3/3 [" in line]
        assert bars and all(len(line) == 80 for line in bars), text


def _read_terminal(fd: int) -> bytes:
    """What the terminal shows next; empty once the other side is closed."""
    try:
        return os.read(fd, 65536)
    except OSError:  # EIO: every process holding the terminal is gone
        return b""
