"""Tables of the shared corpus in the full profile: an independent reading of every table
(table_checker.py) finds each cell's text at its own row and column, and the twins (one
document saved in both formats) give the same Markdown."""

from __future__ import annotations

from pathlib import Path

import pytest

import table_checker
from conftest import CORPUS_DIR

paravox = pytest.importorskip("paravox")

CFB_MAGIC = bytes.fromhex("D0CF11E0A1B11AE1")
FOLDERS = ("features", "realworld", "hwpx/files", "hwpx/twins")


def documents() -> list[Path]:
    return [
        path
        for folder in FOLDERS
        for path in sorted((CORPUS_DIR / folder).glob("*.hwp*"))
        if path.suffix in (".hwp", ".hwpx")
    ]


def full(path: Path) -> str:
    return paravox.convert(path, profile="full")


class TestCorpusTables:
    def test_every_cell_with_text_stands_at_its_own_place(self, corpus_dir):
        totals = table_checker.Totals()
        for path in documents():
            try:
                markdown = full(path)
            except RuntimeError:
                continue  # a document that does not convert has no tables to check
            data = path.read_bytes()
            read = (table_checker.hwp_tables(data) if data.startswith(CFB_MAGIC)
                    else table_checker.hwpx_tables(data))
            table_checker.count_read(read, totals)
            table_checker.check(read, table_checker.shown_in(markdown), totals, path.name)
        print(
            f"\n{totals.read} tables read ({totals.read_unsound} not sound); shown as tables:"
            f" {totals.tables} ({totals.sound} sound, {totals.fell_back} in record order),"
            f" {totals.cells} cells, {totals.cells_with_text} with text,"
            f" {totals.found_in_place} found in place"
        )
        assert not totals.problems, "\n".join(totals.problems[:20])
        assert totals.tables > 500 and totals.found_in_place > 7000

    @pytest.mark.parametrize("headers_footers", [False, True])
    def test_twins_agree(self, corpus_dir, headers_footers):
        def full(path: Path) -> str:
            return paravox.convert(path, headers_footers=headers_footers)

        twins = sorted((corpus_dir / "hwpx" / "twins").glob("*.hwp"))
        assert len(twins) == 13
        differing = [p.name for p in twins if full(p) != full(p.with_suffix(".hwpx"))]
        assert not differing
