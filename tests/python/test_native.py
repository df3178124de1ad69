"""paravox._native: documents by path and from memory, what is not a document, the exception
classes, argument errors, and conversion while other threads run; metadata alike."""

from __future__ import annotations

import io
import itertools
import mmap
import os
import random
import struct
import subprocess
import sys
import threading
import zipfile
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import _paravox
import pytest

import paravox
from hwpbuilder import bulk_section, file_header, hwp_document, section, write_cfb
from hwpbuilder import records as r
from paravox import _native
from paravox._convert import Options, convert_document

FULL, MINIMAL = Options(profile="full"), Options(profile="minimal")

CFB_MAGIC = bytes.fromhex("D0CF11E0A1B11AE1")
NOT_A_DOCUMENT = "Not an HWP or HWPX document: "
CORPUS_FOLDERS = ["features", "realworld", "bad", "hwpx/twins", "hwpx/files"]


def outcome(convert: Callable[[], tuple[str, ...]]) -> tuple[str, object, object]:
    """("ok", markdown, format) or (exception class name, message, format)."""
    try:
        markdown, fmt = convert()[:2]
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
        by_path = outcome(lambda: _native.convert_path(str(path), MINIMAL))
        data = path.read_bytes()
        assert outcome(lambda: _native.convert_buffer(data, MINIMAL)) == by_path
        assert outcome(
            lambda: (paravox.convert_bytes(bytearray(data), profile="minimal"), by_path[2])
        ) == by_path
        # Metadata is read from the same input by the same route, and refused alike.
        metadata = outcome(lambda: _native.metadata_path(str(path)))
        assert outcome(lambda: _native.metadata_buffer(data)) == metadata
        assert metadata[0] == by_path[0] and metadata[2] == by_path[2]
        if data.startswith(CFB_MAGIC) and by_path[0] != "DistributionDocumentError":
            # A compound file reads exactly as _paravox reads it, but for distribution documents.
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


NO_FILE_HEADER = 'Compound file error: No such stream: "/FileHeader"'
CFB_TOO_SMALL = "Compound file error: Invalid CFB file (100 bytes is too small)"
ZIP_DAMAGED = "Package error: not a ZIP archive (no readable central directory)"
HEADER_TOO_SHORT = "Parse error: FileHeader too short"
PASSWORD_MESSAGE = "Password-protected HWP files are not supported"
CEILING_MESSAGE = "Parse error: Markdown output exceeds 268435456 bytes"
NOT_A_ZIP_PACKAGE = "a ZIP archive without the application/hwp+zip mimetype"
HWPX_MIMETYPE_ONLY = zip_bytes([("mimetype", b"application/hwp+zip")])
HWPML = '<?xml version="1.0" encoding="UTF-8" standalone="no" ?><HWPML Version="2.8"><HEAD/>'
DRM = "a document encrypted by the MarkAny Document SAFER DRM client"
CEILING_TABLE = r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.TBL)) + r.record(
    r.TABLE, 2, struct.pack("<IHH10sH", 0, 65535, 65535, bytes(10), 65535)
)

# Files past 64 KiB are read through the block cache rather than whole.
PADDING = {"BinData/BIN0001.bmp": bytes(70_000)}
BAD_BYTE_ORDER = bytearray(hwp_document([section("x")]))
BAD_BYTE_ORDER[0x1C:0x1E] = b"\x34\x12"


def not_a_document(name: str, data: bytes, what: str) -> tuple[str, bytes, str, str, None]:
    return (name, data, "NotADocumentError", NOT_A_DOCUMENT + what, None)


OOXML = "an Office Open XML package (DOCX, XLSX or PPTX)"
DOCX = zip_bytes(
    [
        ("[Content_Types].xml", b"<Types/>"),
        ("_rels/.rels", b"<Relationships/>"),
        ("word/document.xml", b"<w/>"),
    ]
)
ODT = zip_bytes([("mimetype", b"application/vnd.oasis.opendocument.text"), ("content.xml", b"")])
EPUB = zip_bytes([("mimetype", b"application/epub+zip"), ("META-INF/container.xml", b"")])
HWPX_CUT = HWPX_MIMETYPE_ONLY[:-30]
HWP3 = b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05" + bytes(200)
HWPML_UTF16 = "\ufeff<!-- saved -->\n".encode("utf-16-le") + HWPML.encode("utf-16-le")
XML = b'<?xml version="1.0"?>\n<html><body>x</body></html>'
TEXT = "회의록\n첫째 안건: 예산\r\n\tok\n".encode() * 40
# Judged by its first 64 KiB, which end inside a character.
LONG_TEXT = b"ab" + "가".encode() * 30_000
TEXT_UTF16 = "\ufeff한글 문서가 아닙니다.\n".encode("utf-16-be")
DRM_WRAPPED = b"<MARKANY_DOCUMENTSAFER>\x04" + random_bytes(2000)
NOT_HWP_CFB = write_cfb({"WordDocument": b"w" * 600, "1Table": b"t" * 100})
WRONG_SIGNATURE = hwp_document([section("x")], header=b"HWP Document Filf" + bytes(40))
SHORT_HEADER = hwp_document([section("x")], header=b"HWP Document File" + bytes(10))
SIZE_LIE = hwp_document([section("x")], declared_sizes={"FileHeader": 10**8}, extra_streams=PADDING)
PASSWORD = hwp_document([section("x")], header=file_header(password=True), extra_streams=PADDING)
CEILING = hwp_document([section("a", CEILING_TABLE)])

# (id, the input's bytes, exception class, message (None: the one _paravox gives), format)
INPUTS = [
    not_a_document("empty", b"", "the file is empty"),
    not_a_document("pdf", b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "a PDF document"),
    not_a_document("docx", DOCX, OOXML),
    not_a_document("odt", ODT, "an OpenDocument package"),
    not_a_document("epub", EPUB, NOT_A_ZIP_PACKAGE),
    not_a_document("zip", zip_bytes([("notes.txt", b"hello")]), NOT_A_ZIP_PACKAGE),
    not_a_document("hwp3", HWP3, "an HWP 3.x document"),
    not_a_document("hml", HWPML.encode(), "an HWPML (.hml) XML document"),
    not_a_document("hml-utf16", HWPML_UTF16, "an HWPML (.hml) XML document"),
    not_a_document("xml", XML, "plain text"),
    not_a_document("text", TEXT, "plain text"),
    not_a_document("text-utf16", TEXT_UTF16, "plain text"),
    not_a_document("text-long", LONG_TEXT, "plain text"),
    not_a_document("drm", DRM_WRAPPED, DRM),
    not_a_document("random", random_bytes(600), "data of an unrecognised type"),
    ("cfb-not-hwp", NOT_HWP_CFB, "NotADocumentError", NO_FILE_HEADER, None),
    ("cfb-wrong-signature", WRONG_SIGNATURE, "NotADocumentError", "Invalid HWP signature", None),
    ("cfb-short", CFB_MAGIC + bytes(92), "DamagedDocumentError", CFB_TOO_SMALL, "hwp"),
    ("cfb-byte-order", BAD_BYTE_ORDER, "DamagedDocumentError", None, "hwp"),
    ("stream-size-lie", SIZE_LIE, "DamagedDocumentError", None, "hwp"),
    ("header-short", SHORT_HEADER, "DamagedDocumentError", HEADER_TOO_SHORT, "hwp"),
    ("zip-cut", HWPX_CUT, "DamagedDocumentError", ZIP_DAMAGED, "hwpx"),
    ("password", PASSWORD, "PasswordProtectedError", PASSWORD_MESSAGE, "hwp"),
    ("ceiling", CEILING, "DocumentTooLargeError", CEILING_MESSAGE, "hwp"),
]


class TestWhatIsNotADocument:
    @pytest.mark.parametrize(
        "data,error,message,fmt", [row[1:] for row in INPUTS], ids=[row[0] for row in INPUTS]
    )
    def test_class_message_and_format(self, tmp_path, data, error, message, fmt):
        path = tmp_path / "input.hwp"
        path.write_bytes(data)
        if message is None:
            with pytest.raises(RuntimeError) as binary:
                _paravox.hwp_to_markdown(str(path))
            message = str(binary.value)
        expected = (error, message, fmt)
        # Messages as _paravox gives them: the minimal profile (the full one holds no empty
        # table, so the 65,535 x 65,535 one is no longer past the ceiling there).
        assert outcome(lambda: convert_document(path, MINIMAL)) == expected
        assert outcome(lambda: (paravox.convert_bytes(data, profile="minimal"), "")) == expected
        with open(path, "rb") as file:
            assert outcome(lambda: convert_document(file, MINIMAL)) == expected
        # Reading metadata never builds the Markdown, so only the ceiling cannot stop it.
        if error == "DocumentTooLargeError":
            expected = ("ok", {}, "hwp")
        assert outcome(lambda: _native.metadata_path(str(path))) == expected
        assert outcome(lambda: _native.metadata_buffer(data)) == expected

    @pytest.mark.parametrize("name", ["010000000000141827.hwp", "010000000000585068.hwp"])
    def test_shared_files_that_are_not_documents(self, corpus_dir, name):
        message = NOT_A_DOCUMENT + (DRM if name != "010000000000585068.hwp" else "plain text")
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


PATH, BUFFER = "convert_path", "convert_buffer"
# (function, positional arguments, keyword arguments, exception, message after "function() ")
CHOICES = 'must be "full" or "minimal"'


@dataclass(frozen=True)
class Unchecked:
    """Options as a caller could forge them past Options' own checks."""

    profile: object = "full"
    strict: object = False


UNEXPECTED_OPTIONS = "got an unexpected keyword argument 'options'"
ONE_ARGUMENT = "takes 1 positional argument but 2 were given"
ARGUMENT_ERRORS = [
    (PATH, (), {}, TypeError, "missing required argument: 'path'"),
    (PATH, ("a",), {}, TypeError, "missing required argument: 'options'"),
    (PATH, ("a", FULL, 3), {}, TypeError, "takes 2 positional arguments but 3 were given"),
    (
        PATH,
        ("a", "full"),
        {},
        TypeError,
        "argument 'options' must be paravox conversion options, not 'str'",
    ),
    (PATH, ("a", Unchecked("html")), {}, ValueError, f"options.profile {CHOICES}, not 'html'"),
    (BUFFER, (b"", Unchecked(None)), {}, ValueError, f"options.profile {CHOICES}, not None"),
    (PATH, ("a", FULL), {"file": "a"}, TypeError, "got an unexpected keyword argument 'file'"),
    (PATH, ("a", FULL), {"path": "b"}, TypeError, "got multiple values for argument 'path'"),
    (PATH, (Path("a"), FULL), {}, TypeError, "argument 'path' must be str or bytes, not 'PosixPath'"),
    (
        PATH,
        (bytearray(b"a"), FULL),
        {},
        TypeError,
        "argument 'path' must be str or bytes, not 'bytearray'",
    ),
    # A type defined in C is named with its module, as the interpreter's own messages do.
    (
        PATH,
        (itertools.count(), FULL),
        {},
        TypeError,
        "argument 'path' must be str or bytes, not 'itertools.count'",
    ),
    (BUFFER, (), {}, TypeError, "missing required argument: 'data'"),
    (BUFFER, (b"", FULL), {"options": FULL}, TypeError, "got multiple values for argument 'options'"),
    (BUFFER, ("%PDF-", FULL), {}, TypeError, "argument 'data' must be a bytes-like object, not 'str'"),
    (BUFFER, (memoryview(b"%PDF-1.7")[::2], FULL), {}, BufferError, None),
    ("metadata_path", (), {"options": None}, TypeError, UNEXPECTED_OPTIONS),
    ("metadata_buffer", (b"x", None), {}, TypeError, ONE_ARGUMENT),
]


class TestArguments:
    @pytest.mark.parametrize("function,args,kwargs,error,message", ARGUMENT_ERRORS)
    def test_refused(self, function, args, kwargs, error, message):
        with pytest.raises(error) as caught:
            getattr(_native, function)(*args, **kwargs)
        if message is not None:
            assert str(caught.value) == f"{function}() {message}"

    def test_convert_takes_paths_and_binary_files_only(self):
        with pytest.raises(TypeError):
            paravox.convert(3)
        with pytest.raises(TypeError) as caught:
            paravox.convert(io.StringIO("text"))
        assert str(caught.value) == (
            "convert() needs a file opened in binary mode ('rb'), not text mode"
        )

    def test_every_buffer_kind_and_keyword(self, tmp_path):
        pdf = b"%PDF-1.7\n" + bytes(100)
        path = tmp_path / "a.pdf"
        path.write_bytes(pdf)
        with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as m:
            for data in [pdf, bytearray(pdf), memoryview(pdf), m, memoryview(b"xx" + pdf)[2:]]:
                with pytest.raises(paravox.NotADocumentError, match="a PDF document"):
                    _native.convert_buffer(data=data, options=FULL)
        with pytest.raises(paravox.NotADocumentError, match="a PDF document"):
            _native.convert_path(options=MINIMAL, path=os.fsencode(path))


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
from paravox._convert import Options
fifo = {str(tmp_path / "pipe")!r}
os.mkfifo(fifo)
def write():
    with open(fifo, "wb") as out:
        out.write(hwp_document([section("through a pipe")]))
threading.Thread(target=write).start()
print(_native.convert_path(fifo, Options(profile="minimal")))
"""
        done = subprocess.run(
            [sys.executable, "-c", program], capture_output=True, text=True, timeout=60
        )
        assert done.stdout.strip() == "('through a pipe', 'hwp', ())", done.stderr
