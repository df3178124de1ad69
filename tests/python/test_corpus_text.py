"""The full profile keeps the text of the shared documents: counted over the whole set, at least
99.5 % of the letters and digits an independent reading finds (text_checker.py: every paragraph
of the body, notes, cells and drawing objects, each distinct header and footer once; memos and
hidden comments left out) are in the Markdown with headers and footers on."""

from __future__ import annotations

import warnings

import pytest

import text_checker
from test_corpus_tables import CFB_MAGIC, documents

paravox = pytest.importorskip("paravox")


def test_full_profile_keeps_the_letters_and_digits(corpus_dir):
    kept = {".hwp": 0, ".hwpx": 0}
    total = {".hwp": 0, ".hwpx": 0}
    for path in documents():
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                markdown = paravox.convert(path, headers_footers=True)
        except RuntimeError:
            continue  # a document that does not convert is checked elsewhere
        data = path.read_bytes()
        read = text_checker.hwp_letters if data.startswith(CFB_MAGIC) else text_checker.hwpx_letters
        expected = read(data, furniture=True)
        kept[path.suffix] += text_checker.kept(expected, markdown)
        total[path.suffix] += sum(expected.values())
    for suffix in kept:
        print(f"\n{suffix}: {kept[suffix]} of {total[suffix]} letters and digits kept "
              f"({100 * kept[suffix] / max(total[suffix], 1):.3f} %)")
    assert min(total.values()) > 50_000
    assert sum(kept.values()) >= 0.995 * sum(total.values())
