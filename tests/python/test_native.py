"""paravox._native: documents by path and from memory, what is not a document, the exception
classes, argument errors, and conversion while other threads run."""

from __future__ import annotations

import io
import mmap
import os
import random
import struct
import subprocess
import sys
import threading
import zipfile
from pathlib import Path
from typing import Callable

import _paravox
import pytest

import paravox
from hwpbuilder import file_header, hwp_document, paragraph, section, write_cfb
from hwpbuilder import bulk_section, table
from hwpbuilder import records as r
from paravox import _native
from paravox._convert import convert_with_format

CFB_MAGIC = bytes.fromhex("D0CF11E0A1B11AE1")
NOT_A_DOCUMENT = "Not an HWP or HWPX document: "
CORPUS_FOLDERS = ["features", "realworld", "bad", "hwpx/twins", "hwpx/files"]


def outcome(convert: Callable[[], tuple[str, str]]) -> tuple[str, object, object]:
    """("ok", markdown, format) or (exception class name, message, format)."""
    try:
        markdown, fmt = convert()
    except paravox.ParavoxError as error:
        assert error.args == (str(error),)
        return type(error).__name__, str(error), error.format
    return "ok", markdown, fmt


def corpus_documents() -> list[Path]:
    from conftest import CORPUS_DIR

    found: list[Path] = []
    for folder in CORPUS_FOLDERS:
        directory = CORPUS_DIR / folder
        if directory.is_dir():
            found += sorted(p for p in directory.iterdir() if p.is_file() and p.suffix != ".md")
    return found


class TestSharedDocuments:
    @pytest.mark.parametrize(
        "path", corpus_documents() or [None], ids=lambda p: "corpus-absent" if p is None else p.name
    )
    def test_bytes_and_path_agree(self, path):
        if path is None:
            pytest.skip("shared corpus of real documents not found")
        by_path = outcome(lambda: _native.convert_path(str(path)))
        data = path.read_bytes()
        assert outcome(lambda: _native.convert_buffer(data)) == by_path
        assert outcome(lambda: (paravox.convert_bytes(bytearray(data)), by_path[2])) == by_path
        if data.startswith(CFB_MAGIC):
            # A compound file reads exactly as _paravox reads it.
            try:
                expected = ("ok", _paravox.hwp_to_markdown(str(path)))
            except RuntimeError as error:
                expected = (by_path[0], str(error))
            assert by_path[:2] == expected


def zip_bytes(entries: list[tuple[str, bytes]], stored: tuple[str, ...] = ("mimetype",)) -> bytes:
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name, data in entries:
            method = zipfile.ZIP_STORED if name in stored else zipfile.ZIP_DEFLATED
            archive.writestr(zipfile.ZipInfo(name), data, compress_type=method)
    return out.getvalue()


def random_bytes(count: int) -> bytes:
    return random.Random(20261208).randbytes(count)


NOT_A_ZIP_PACKAGE = NOT_A_DOCUMENT + "a ZIP archive without the application/hwp+zip mimetype"
HWPX_MIMETYPE_ONLY = zip_bytes([("mimetype", b"application/hwp+zip")])
HWPML = '<?xml version="1.0" encoding="UTF-8" standalone="no" ?><HWPML Version="2.8"><HEAD/>'
DRM = NOT_A_DOCUMENT + "a document encrypted by the MarkAny Document SAFER DRM client"
CEILING_TABLE = r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.TBL)) + r.record(
    r.TABLE, 2, struct.pack("<IHH10sH", 0, 65535, 65535, bytes(10), 65535)
)

BAD_BYTE_ORDER = bytearray(hwp_document([section("x")]))
BAD_BYTE_ORDER[0x1C:0x1E] = b"\x34\x12"

# (id, the input's bytes, exception class, message (None: the one _paravox gives), format)
INPUTS = [
    ("empty", b"", "NotADocumentError", NOT_A_DOCUMENT + "the file is empty", None),
    ("pdf", b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "NotADocumentError",
     NOT_A_DOCUMENT + "a PDF document", None),
    ("docx", zip_bytes([("[Content_Types].xml", b"<Types/>"), ("word/document.xml", b"<w/>")]),
     "NotADocumentError", NOT_A_DOCUMENT + "an Office Open XML package (DOCX, XLSX or PPTX)", None),
    ("odt", zip_bytes([("mimetype", b"application/vnd.oasis.opendocument.text"),
                       ("content.xml", b"<office:document-content/>")]),
     "NotADocumentError", NOT_A_DOCUMENT + "an OpenDocument package", None),
    ("epub", zip_bytes([("mimetype", b"application/epub+zip"), ("META-INF/container.xml", b"")]),
     "NotADocumentError", NOT_A_ZIP_PACKAGE, None),
    ("zip", zip_bytes([("notes.txt", b"hello")]), "NotADocumentError", NOT_A_ZIP_PACKAGE, None),
    ("zip-cut", HWPX_MIMETYPE_ONLY[: len(HWPX_MIMETYPE_ONLY) - 30], "DamagedDocumentError",
     "Package error: not a ZIP archive (no readable central directory)", "hwpx"),
    ("hwp3", b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05" + bytes(200),
     "NotADocumentError", NOT_A_DOCUMENT + "an HWP 3.x document", None),
    ("hml", HWPML.encode(), "NotADocumentError", NOT_A_DOCUMENT + "an HWPML (.hml) XML document",
     None),
    ("hml-utf16", "\ufeff<!-- saved -->\n".encode("utf-16-le") + HWPML.encode("utf-16-le"),
     "NotADocumentError", NOT_A_DOCUMENT + "an HWPML (.hml) XML document", None),
    ("xml", b'<?xml version="1.0"?>\n<html><body>x</body></html>', "NotADocumentError",
     NOT_A_DOCUMENT + "plain text", None),
    ("text", "회의록\n첫째 안건: 예산\r\n\tok\n".encode() * 40, "NotADocumentError",
     NOT_A_DOCUMENT + "plain text", None),
    ("text-utf16", "\ufeff한글 문서가 아닙니다.\n".encode("utf-16-be"), "NotADocumentError",
     NOT_A_DOCUMENT + "plain text", None),
    ("drm", b"<MARKANY_DOCUMENTSAFER>\x04" + random_bytes(2000), "NotADocumentError", DRM, None),
    ("random", random_bytes(600), "NotADocumentError",
     NOT_A_DOCUMENT + "data of an unrecognised type", None),
    ("cfb-not-hwp", write_cfb({"WordDocument": b"w" * 600, "1Table": b"t" * 100}),
     "NotADocumentError", 'Compound file error: No such stream: "/FileHeader"', None),
    ("cfb-wrong-signature", hwp_document([section("x")], header=b"HWP Document Filf" + bytes(40)),
     "NotADocumentError", "Invalid HWP signature", None),
    ("cfb-short", CFB_MAGIC + bytes(92), "DamagedDocumentError",
     "Compound file error: Invalid CFB file (100 bytes is too small)", "hwp"),
    ("cfb-byte-order", BAD_BYTE_ORDER, "DamagedDocumentError", None, "hwp"),
    ("stream-size-lie", hwp_document([section("x")], declared_sizes={"FileHeader": 10**8}),
     "DamagedDocumentError", None, "hwp"),
    ("header-short", hwp_document([section("x")], header=b"HWP Document File" + bytes(10)),
     "DamagedDocumentError", "Parse error: FileHeader too short", "hwp"),
    ("password", hwp_document([section("x")], header=file_header(password=True)),
     "PasswordProtectedError", "Password-protected HWP files are not supported", "hwp"),
    ("ceiling", hwp_document([section("a", CEILING_TABLE)]), "DocumentTooLargeError",
     "Parse error: Markdown output exceeds 268435456 bytes", "hwp"),
]


class TestWhatIsNotADocument:
    @pytest.mark.parametrize("data,error,message,fmt", [row[1:] for row in INPUTS],
                             ids=[row[0] for row in INPUTS])
    def test_class_message_and_format(self, tmp_path, data, error, message, fmt):
        path = tmp_path / "input.hwp"
        path.write_bytes(data)
        if message is None:
            with pytest.raises(RuntimeError) as binary:
                _paravox.hwp_to_markdown(str(path))
            message = str(binary.value)
        expected = (error, message, fmt)
        assert outcome(lambda: convert_with_format(path)) == expected
        assert outcome(lambda: (paravox.convert_bytes(data), "")) == expected
        with open(path, "rb") as file:
            assert outcome(lambda: convert_with_format(file)) == expected

    @pytest.mark.parametrize("name", ["010000000000141827.hwp", "010000000000585068.hwp"])
    def test_shared_files_that_are_not_documents(self, corpus_dir, name):
        message = DRM if name != "010000000000585068.hwp" else NOT_A_DOCUMENT + "plain text"
        with pytest.raises(paravox.NotADocumentError) as caught:
            paravox.convert(corpus_dir / "bad" / name)
        assert (caught.value.args, caught.value.format) == ((message,), None)

    def test_files_that_cannot_be_read(self, tmp_path):
        for path, text in [
            (tmp_path / "missing.hwp", "No such file or directory (os error 2)"),
            (tmp_path, "Is a directory (os error 21)"),
            (f"{tmp_path}/a\0b.hwp", "file name contained an unexpected NUL byte"),
        ]:
            with pytest.raises(paravox.FileReadError) as caught:
                paravox.convert(path)
            assert (caught.value.args, caught.value.format) == ((f"IO error: {text}",), None)

    def test_exceptions_survive_pickling_with_their_format(self):
        import pickle

        error = paravox.DamagedDocumentError("Parse error: FileHeader too short", format="hwp")
        copy = pickle.loads(pickle.dumps(error))
        assert (type(copy), copy.args, copy.format) == (type(error), error.args, "hwp")
        assert issubclass(paravox.ParavoxError, RuntimeError)


class TestArguments:
    @pytest.mark.parametrize(
        "call,error,message",
        [
            (lambda: _native.convert_path(), TypeError,
             "convert_path() missing 1 required argument: 'path'"),
            (lambda: _native.convert_path("a", "b"), TypeError,
             "convert_path() takes 1 positional argument but 2 were given"),
            (lambda: _native.convert_path(file="a"), TypeError,
             "convert_path() got an unexpected keyword argument 'file'"),
            (lambda: _native.convert_path("a", path="b"), TypeError,
             "convert_path() got multiple values for argument 'path'"),
            (lambda: _native.convert_path(Path("a.hwp")), TypeError,
             "convert_path() argument 'path' must be str or bytes, not 'PosixPath'"),
            (lambda: _native.convert_path(bytearray(b"a.hwp")), TypeError,
             "convert_path() argument 'path' must be str or bytes, not 'bytearray'"),
            (lambda: _native.convert_buffer(), TypeError,
             "convert_buffer() missing 1 required argument: 'data'"),
            (lambda: _native.convert_buffer("%PDF-"), TypeError,
             "convert_buffer() argument 'data' must be a bytes-like object, not 'str'"),
            (lambda: _native.convert_buffer(memoryview(b"%PDF-1.7")[::2]), BufferError, None),
            (lambda: paravox.convert(3), TypeError, None),
            (lambda: paravox.convert(io.StringIO("text")), TypeError,
             "convert() needs a file opened in binary mode ('rb'), not text mode"),
        ],
    )
    def test_refused(self, call, error, message):
        with pytest.raises(error) as caught:
            call()
        if message is not None:
            assert str(caught.value) == message

    def test_every_buffer_kind_and_keyword(self, tmp_path):
        pdf = b"%PDF-1.7\n" + bytes(100)
        path = tmp_path / "a.pdf"
        path.write_bytes(pdf)
        with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as m:
            for data in [pdf, bytearray(pdf), memoryview(pdf), m, memoryview(b"xx" + pdf)[2:]]:
                with pytest.raises(paravox.NotADocumentError, match="a PDF document"):
                    _native.convert_buffer(data=data)
        with pytest.raises(paravox.NotADocumentError, match="a PDF document"):
            _native.convert_path(path=os.fsencode(path))


class TestInterpreterLock:
    def test_other_threads_run_while_a_buffer_converts(self):
        """While convert_buffer holds the bytearray's export (and only then) resizing it fails;
        a thread that sees that failure ran while the conversion was under way."""
        document = bytearray(hwp_document([bulk_section(40_000_000)]))
        sightings = 0
        done = threading.Event()

        def watch() -> None:
            nonlocal sightings
            while not done.is_set():
                try:
                    document.append(0)
                    document.pop()
                except BufferError:
                    sightings += 1

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            markdown = paravox.convert_bytes(document)
        finally:
            done.set()
            watcher.join()
        assert markdown.startswith("대량 문서의 문단입니다.")
        assert sightings > 0

    def test_a_path_read_from_a_pipe_that_another_thread_writes(self, tmp_path):
        """convert_path blocks reading a FIFO until a Python thread writes the document into
        it: with the lock held, that thread could never run. Run apart, so that a regression
        times out instead of hanging the suite."""
        program = f"""
import os, sys, threading
sys.path[:0] = {sys.path!r}
from hwpbuilder import hwp_document, section
from paravox import _native
fifo = {str(tmp_path / "pipe")!r}
os.mkfifo(fifo)
def write():
    with open(fifo, "wb") as out:
        out.write(hwp_document([section("through a pipe")]))
threading.Thread(target=write).start()
print(_native.convert_path(fifo))
"""
        done = subprocess.run(
            [sys.executable, "-c", program], capture_output=True, text=True, timeout=60
        )
        assert done.stdout.strip() == "('through a pipe', 'hwp')", done.stderr
