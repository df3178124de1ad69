"""What the command line shows and leaves behind for a run: exit statuses, the "paravox: ..."
lines, a line per document that failed, the progress bar, the JSON report and the closing
summary. Both of the command line's routes (a folder of Markdown files and a dataset file) use
it; nothing else does."""

from __future__ import annotations

import json
import os
import sys
from typing import Dict, NoReturn, Optional, Sequence, Tuple

from tqdm import tqdm

from . import __version__
from ._errors import failure_message
from ._storage import DOCUMENT_SUFFIXES, AtomicFile

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

# The path that means standard input.
STDIN = "-"

# The progress bar's terminal size where the terminal does not say.
_DEFAULT_COLUMNS = 80
_DEFAULT_ROWS = 24

# One document's entry in the report: path, format, status, message, output, input_bytes,
# output_bytes, seconds.
ReportEntry = Dict[str, object]


def error(text: str) -> None:
    """Says `text` on standard error as the command's own message."""
    print(f"paravox: {text}", file=sys.stderr)


class Report:
    """The JSON report, written entry by entry beside `path` and put in place by `finish`."""

    def __init__(self, path: str) -> None:
        self.path = path
        self._file = AtomicFile(path)
        self._write('{"files": [')
        self._count = 0

    def _write(self, text: str) -> None:
        # Undecodable file names keep their lone surrogates as JSON escapes.
        self._file.file.write(text.encode("utf-8", "backslashreplace"))

    def add(self, entry: ReportEntry) -> None:
        separator = ",\n  " if self._count else "\n  "
        self._write(separator + json.dumps(entry, ensure_ascii=False))
        self._count += 1

    def finish(self, summary: Dict[str, object]) -> None:
        self._write('\n],\n"summary": ' + json.dumps(summary, ensure_ascii=False) + "}\n")
        self._file.commit()

    def discard(self) -> None:
        self._file.discard()


def _progress_shape() -> Optional[Tuple[int, int]]:
    """The progress bar's fixed (columns, rows), or None to follow the terminal as it changes."""
    try:
        size = os.get_terminal_size(sys.stderr.fileno())
    except (AttributeError, OSError, ValueError):  # not a terminal, or no standard error
        return None
    if size.columns > 0 and size.lines > 0:
        return None
    # Some pseudo-terminals (serial consoles, some containers') report a size of 0, which would
    # leave the bar no width and no line to be drawn on.
    return (size.columns or _DEFAULT_COLUMNS, size.lines or _DEFAULT_ROWS)


def _plural(count: int, noun: str) -> str:
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"


def _format_bytes(count: int) -> str:
    size = float(count)
    for unit in ("B", "KB", "MB", "GB"):
        if size < 1024 or unit == "GB":
            return f"{size:.0f} {unit}" if unit == "B" else f"{size:.1f} {unit}"
        size /= 1024
    raise AssertionError("unreachable")


class Batch:
    """The console's side of a run: the progress bar, a line on standard error for each document
    that failed, the report's entries (when there is a `report`) and the counts the closing
    summary gives."""

    def __init__(self, report: Optional[Report]) -> None:
        self.report = report
        self.total = self.converted = self.partial = self.failed = self.written = 0
        self._bar: Optional["tqdm[NoReturn]"] = None

    def start(self, total: int, progress: bool) -> "tqdm[NoReturn]":
        """The progress bar of `total` documents, shown on standard error if `progress`; close
        it (a `with` block) when the run ends."""
        self.total = total
        shape = _progress_shape() if progress else None
        self._bar = tqdm(
            total=total,
            unit="file",
            file=sys.stderr,
            disable=not progress,
            ncols=shape[0] if shape else None,
            nrows=shape[1] if shape else None,
            dynamic_ncols=shape is None,
        )
        self._bar.set_postfix_str("0 failed", refresh=False)
        return self._bar

    def add(self, entry: ReportEntry) -> None:
        """Counts one document by its report entry ("ok", "partial" or "error") and shows what
        became of it."""
        assert self._bar is not None, "start() shows the bar first"
        status = entry["status"]
        if status == "ok":
            self.converted += 1
        elif status == "partial":
            self.partial += 1
        else:
            self.failed += 1
        output_bytes = entry["output_bytes"]
        self.written += output_bytes if isinstance(output_bytes, int) else 0
        if status != "ok":
            reason = f"partial: {entry['message']}" if status == "partial" else entry["message"]
            # Above the bar, which is drawn again below the line.
            tqdm.write(f"{entry['path']}: {reason}", file=sys.stderr)
            self._bar.set_postfix_str(self._counts(with_converted=False), refresh=False)
        self._bar.update(1)
        if self.report is not None:
            self.report.add(entry)

    def _counts(self, with_converted: bool = True) -> str:
        """"N converted, N partial, N failed", the partial ones only when there are any."""
        counts = [f"{self.converted} converted"] if with_converted else []
        counts += [f"{self.partial} partial"] if self.partial else []
        return ", ".join(counts + [f"{self.failed} failed"])

    def finish(
        self,
        destination_keys: Dict[str, object],
        *,
        seconds: float,
        interrupted: bool,
        inputs: Sequence[str],
        destination: str,
        kept: str,
    ) -> int:
        """Puts the report in place and says on standard error how the run ended; the exit
        status.

        `destination_keys` open the report's summary; `kept`, said after an interruption,
        tells where the documents finished so far are.
        """
        exit_status = EXIT_FAILED if self.failed or not self.total else EXIT_OK
        if self.report is not None:
            try:
                self.report.finish(
                    {
                        "paravox": __version__,
                        **destination_keys,
                        "converted": self.converted,
                        "partial": self.partial,
                        "failed": self.failed,
                        "seconds": round(seconds, 3),
                        "interrupted": interrupted,
                    }
                )
            except OSError as failure:
                error(f"cannot write report {self.report.path}: {failure_message(failure)}")
                exit_status = EXIT_FAILED
        if interrupted:
            if self.total:
                done = self.converted + self.partial + self.failed
                done_text = f"after {done} of {_plural(self.total, 'file')} "
                done_text += f"({self._counts()}){kept}"
            else:
                done_text = "while looking for documents"
            error(f"interrupted {done_text}")
            return EXIT_INTERRUPTED
        if not self.total:
            suffixes = " or ".join(DOCUMENT_SUFFIXES)
            error(f"no {suffixes} files found in " + ", ".join(inputs))
        else:
            rate = self.total / seconds if seconds > 0 else 0.0
            error(
                f"{self._counts()}, {_plural(self.total, 'file')} in "
                f"{seconds:.1f} s ({rate:.0f} files/s), {_format_bytes(self.written)} of "
                f"Markdown written to {destination}"
            )
        return exit_status
