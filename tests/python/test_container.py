"""Opening documents: the file, the compound-file container, the FileHeader stream, the body
section streams and their inflation, as seen through both exported functions."""

from __future__ import annotations

import os
import re
import struct
import zlib

import pytest

import _paravox
import hwpbuilder as hb
from hwpbuilder import cfb

FUNCTIONS = [_paravox.hwp_debug_records, _paravox.hwp_to_markdown]
BOTH = pytest.mark.parametrize("function", FUNCTIONS, ids=lambda f: f.__name__)

BODY = hb.section("첫 문단", "second paragraph")
TOO_LARGE = "Parse error: 압축 해제 실패: inflated section exceeds 268435456 bytes"
CORRUPT = "Parse error: 압축 해제 실패: corrupt deflate stream"


def os_error(number: int) -> str:
    return f"{os.strerror(number)} (os error {number})"


def records_of(section: bytes) -> list[tuple[int, int, int]]:
    """(tag, level, size) of each whole record in `section`, read with the writer's layout."""
    out, pos = [], 0
    while len(section) - pos >= 4:
        (word,) = struct.unpack_from("<I", section, pos)
        size, start = word >> 20, pos + 4
        if size == 0xFFF:
            if len(section) - start < 4:
                break
            (size,) = struct.unpack_from("<I", section, start)
            start += 4
        if len(section) - start < size:
            break
        out.append((word & 0x3FF, (word >> 10) & 0x3FF, size))
        pos = start + size
    return out


@pytest.fixture
def write(tmp_path):
    """Writes bytes to a fresh file and returns its path as str."""
    counter = iter(range(1_000_000))

    def write_bytes(data: bytes, name: str | None = None) -> str:
        path = tmp_path / (name or f"doc{next(counter)}.hwp")
        path.write_bytes(data)
        return str(path)

    return write_bytes


def message(function, path: str) -> str:
    with pytest.raises(RuntimeError) as caught:
        function(path)
    assert type(caught.value) is RuntimeError
    assert len(caught.value.args) == 1
    return caught.value.args[0]


@pytest.fixture(scope="module")
def huge_directory() -> bytes:
    """A document whose directory holds 9,000 filler streams besides its own."""
    return hb.hwp_document([BODY], extra_streams=hb.filler_streams(9000))


class TestOpeningTheFile:
    @BOTH
    def test_missing_file(self, function, tmp_path):
        assert message(function, str(tmp_path / "missing.hwp")) == "IO error: " + os_error(2)

    @BOTH
    def test_nul_byte_in_the_path(self, function, write):
        path = write(hb.hwp_document([BODY]))
        assert (
            message(function, path + "\0.hwp")
            == "IO error: file name contained an unexpected NUL byte"
        )

    @BOTH
    def test_directory(self, function, tmp_path):
        assert message(function, str(tmp_path)) == "Compound file error: " + os_error(21)

    @BOTH
    def test_relative_path_is_resolved_against_the_working_directory(
        self, function, write, monkeypatch, tmp_path
    ):
        write(hb.hwp_document([BODY]), name="relative.hwp")
        monkeypatch.chdir(tmp_path)
        assert function("relative.hwp") == function(str(tmp_path / "relative.hwp"))

    def test_file_name_with_spaces_and_korean(self, write):
        path = write(hb.hwp_document([BODY]), name="문서 (사본).hwp")
        assert _paravox.hwp_debug_records(path) == records_of(BODY)


class TestNotACompoundFile:
    @pytest.mark.parametrize(
        "content, expected",
        [
            (b"", "Invalid CFB file (0 bytes is too small)"),
            (b"x" * 42, "Invalid CFB file (42 bytes is too small)"),
            (hb.hwp_document([BODY])[:511], "Invalid CFB file (511 bytes is too small)"),
            (
                b"plain text, not a document\n" * 19 + b"end",
                "Invalid CFB file (wrong magic number)",
            ),
            (b"PK\x03\x04" + bytes(1020), "Invalid CFB file (wrong magic number)"),
            (
                b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe0" + bytes(504),
                "Invalid CFB file (wrong magic number)",
            ),
        ],
        ids=["empty", "42 bytes", "511 bytes", "text", "zip", "one magic byte off"],
    )
    @BOTH
    def test_refused_before_the_container_is_read(self, function, write, content, expected):
        assert message(function, write(content)) == "Compound file error: " + expected

    def test_text_file_of_exactly_512_bytes(self, write):
        path = write(b"a" * 512)
        assert message(_paravox.hwp_debug_records, path) == (
            "Compound file error: Invalid CFB file (wrong magic number)"
        )


class TestDamagedContainer:
    """Directory damage is refused before the reader sees it; other damage carries the
    reader's own first message."""

    @staticmethod
    def built(**options) -> cfb.CfbFile:
        return hb.build_cfb(hb.hwp_streams([BODY], **options))

    @BOTH
    def test_directory_of_more_than_8192_entries(self, function, write, huge_directory):
        path = write(huge_directory)
        assert message(function, path) == (
            "Compound file error: Invalid CFB file (directory holds more than 8192 entries)"
        )

    @BOTH
    def test_directory_chain_that_loops(self, function, write):
        built = hb.build_cfb(hb.hwp_streams([BODY], extra_streams=hb.filler_streams(12)))
        first = built.directory_sectors[0]
        built.set_fat(built.directory_sectors[-1], first)
        assert message(function, write(built.to_bytes())) == (
            f"Compound file error: Invalid CFB file (directory sector chain loops back to sector "
            f"{first})"
        )

    @BOTH
    def test_directory_chain_that_leaves_the_file(self, function, write):
        built = self.built()
        built.set_fat(built.directory_sectors[-1], 100000)
        assert message(function, write(built.to_bytes())) == (
            "Compound file error: Invalid CFB file (directory sector 100000 lies outside the file)"
        )

    @BOTH
    def test_sector_size_other_than_512_or_4096(self, function, write):
        built = self.built()
        built.set_header_field(0x1E, 10, "<H")
        assert message(function, write(built.to_bytes())) == (
            "Compound file error: Invalid CFB file (sector size 2^10 is neither 512 nor 4096 "
            "bytes)"
        )

    @BOTH
    def test_reader_message_without_its_function_name(self, function, write):
        built = self.built()
        built.set_header_field(0x1C, 0x1234, "<H")  # byte order mark
        assert message(function, write(built.to_bytes())) == (
            "Compound file error: unsupported byte order: 0x34 0x12."
        )

    @BOTH
    def test_file_header_sectors_cut_off(self, function, write):
        built = self.built()
        assert built.entries["FileHeader"].in_mini
        mini_stream_start = built.entries[""].sectors[0]
        data = built.to_bytes()[: built.sector_offset(mini_stream_start)]
        # The reader numbers the sector its own way; the text is its own.
        assert re.fullmatch(
            r"IO error: unable to read sector: \d+\.", message(function, write(data))
        )

    @BOTH
    def test_file_header_size_past_the_end_of_the_file(self, function, write):
        data = hb.hwp_document([BODY], declared_sizes={"FileHeader": 10**6})
        assert message(function, write(data)) == (
            f'IO error: stream "/FileHeader" declares 1000000 bytes, more than the {len(data)} '
            f"bytes of the file"
        )

    def test_section_size_past_the_end_of_the_file(self, write):
        data = hb.hwp_document([BODY], declared_sizes={"BodyText/Section0": 0xFFFFFFFF})
        path = write(data)
        assert message(_paravox.hwp_debug_records, path) == (
            f'IO error: stream "/BodyText/Section0" declares 4294967295 bytes, more than the '
            f"{len(data)} bytes of the file"
        )
        assert _paravox.hwp_to_markdown(path) == ""

    def test_section_chain_that_ends_early(self, write):
        built = hb.build_cfb(hb.hwp_streams([hb.bulk_section(20000)], compressed=False))
        sectors = built.entries["BodyText/Section0"].sectors
        built.set_fat(sectors[5], cfb.ENDOFCHAIN)
        path = write(built.to_bytes())
        assert message(_paravox.hwp_debug_records, path) == "IO error: invalid sector identifier."
        assert _paravox.hwp_to_markdown(path) == ""


class TestStreamNames:
    @pytest.mark.parametrize(
        "renames",
        [
            {"FileHeader": "fileheader"},
            {"FileHeader": "FILEHEADER", "BodyText": "bodytext"},
            {"BodyText": "BODYTEXT", "BodyText/Section0": "section0"},
        ],
        ids=["lower header", "upper header, lower storage", "upper storage, lower section"],
    )
    def test_names_differing_in_case_are_found(self, write, renames):
        path = write(hb.hwp_document([BODY], renames=renames))
        assert _paravox.hwp_debug_records(path) == records_of(BODY)

    @BOTH
    def test_missing_file_header(self, function, write):
        path = write(hb.hwp_document([BODY], omit=["FileHeader"]))
        assert message(function, path) == 'Compound file error: No such stream: "/FileHeader"'

    @BOTH
    def test_file_header_that_is_a_storage(self, function, write):
        path = write(
            hb.hwp_document(
                [BODY], omit=["FileHeader"], extra_streams={"FileHeader/Inner": hb.file_header()}
            )
        )
        assert message(function, path) == 'Compound file error: No such stream: "/FileHeader"'

    @pytest.mark.parametrize(
        "options",
        [
            {"omit": ["BodyText/Section0"]},
            {"omit": ["BodyText/Section0"], "storages": ["BodyText/Section0"]},
            {"section_names": ["Section1"]},
            {"section_names": ["Other/Section0"]},
        ],
        ids=["no section", "section is a storage", "only section 1", "outside BodyText"],
    )
    def test_missing_section_zero(self, write, options):
        path = write(hb.hwp_document([BODY], **options))
        assert message(_paravox.hwp_debug_records, path) == (
            'Compound file error: No such stream: "/BodyText/Section0"'
        )
        assert _paravox.hwp_to_markdown(path) == ""


class TestFileHeader:
    SIGNATURE = b"HWP Document File"

    @pytest.mark.parametrize(
        "header, expected",
        [
            (b"", "Invalid HWP signature"),
            (SIGNATURE[:16], "Invalid HWP signature"),
            (b"HWP document File" + bytes(23), "Invalid HWP signature"),
            (b"hwp document file" + bytes(239), "Invalid HWP signature"),
            (b"XWP Document File" + bytes(3), "Invalid HWP signature"),  # 20 bytes: not "too short"
            (SIGNATURE, "Parse error: FileHeader too short"),
            (SIGNATURE + bytes(13), "Parse error: FileHeader too short"),
            (SIGNATURE + bytes(22), "Parse error: FileHeader too short"),
            (hb.file_header(props=2), "Password-protected HWP files are not supported"),
            (hb.file_header(props=3), "Password-protected HWP files are not supported"),
            (hb.file_header(props=0xFFFFFFFF), "Password-protected HWP files are not supported"),
            (hb.file_header(props=2, length=40), "Password-protected HWP files are not supported"),
        ],
        ids=[
            "empty",
            "16 bytes",
            "wrong case, 40 bytes",
            "lower case",
            "20 bytes, wrong",
            "17 bytes",
            "30 bytes",
            "39 bytes",
            "props 2",
            "props 3",
            "all props",
            "40 bytes, props 2",
        ],
    )
    @BOTH
    def test_refused(self, function, write, header, expected):
        assert message(function, write(hb.hwp_document([BODY], header=header))) == expected

    @pytest.mark.parametrize(
        "header, compressed",
        [
            (hb.file_header(props=0, length=40), False),
            (hb.file_header(props=1, length=40), True),
            (hb.file_header(props=5), True),
            (hb.file_header(props=0xFFFFFFFD), True),
            (hb.file_header(props=4, version=0xDEADBEEF), False),
            (SIGNATURE + b"\x01" * 15 + struct.pack("<II", 0, 1), True),
            (hb.file_header(props=1, length=5000), True),
        ],
        ids=[
            "40 bytes, props 0",
            "40 bytes, props 1",
            "props 5",
            "all props but bit 1",
            "any version",
            "signature field not zero-padded",
            "long header",
        ],
    )
    def test_accepted_with_bit_zero_as_compression(self, write, header, compressed):
        path = write(hb.hwp_document([BODY], header=header, compressed=compressed))
        assert _paravox.hwp_debug_records(path) == records_of(BODY)
        assert _paravox.hwp_to_markdown(path) == "첫 문단\n\nsecond paragraph"  # needs conversion

    def test_bit_zero_decides_not_the_data(self, write):
        # Stored sections under a header that says "compressed" do not inflate.
        path = write(hb.hwp_document([BODY], compressed=False, header=hb.file_header(props=1)))
        assert message(_paravox.hwp_debug_records, path) == CORRUPT


class TestSectionStreams:
    @staticmethod
    def document(section0: bytes, *more: bytes, compressed: bool = True) -> bytes:
        """A document whose section streams are stored exactly as given."""
        names = [f"BodyText/Section{i}" for i in range(1 + len(more))]
        return hb.hwp_document(
            [], compressed=compressed, extra_streams=dict(zip(names, (section0, *more)))
        )

    def test_uncompressed_section_is_taken_as_stored(self, write):
        section = hb.section("a", "b") + hb.record(99, 3, b"xyz")
        path = write(hb.hwp_document([section], compressed=False))
        assert _paravox.hwp_debug_records(path) == records_of(section)

    def test_records_of_every_tag_and_level(self, write):
        # Triples recur with a period of 3,072 records, among others that differ from them in
        # one field only: equal ones may share a tuple, no other may.
        section = b"".join(
            hb.record(k * 7919 % 1024, k * 31 % 1024, bytes(k % 3)) for k in range(20_000)
        ) + hb.record(1023, 1023, bytes(5000))
        path = write(hb.hwp_document([section], compressed=False))
        assert _paravox.hwp_debug_records(path) == records_of(section)

    @pytest.mark.parametrize(
        "stream, expected",
        [
            (b"", []),
            (hb.deflate_raw(BODY) + b"trailing bytes", records_of(BODY)),
            (hb.deflate_raw(BODY) + hb.deflate_raw(hb.section("other")), records_of(BODY)),
            (hb.deflate_raw(BODY, level=0), records_of(BODY)),
        ],
        ids=["empty", "trailing bytes", "two streams", "stored blocks"],
    )
    def test_compressed_section(self, write, stream, expected):
        assert _paravox.hwp_debug_records(write(self.document(stream))) == expected

    def test_every_cut_of_a_compressed_section_gives_leading_records(self, write):
        section = hb.bulk_section(6000)
        packed = hb.deflate_raw(section)
        full = records_of(section)
        previous = 0
        for keep in range(0, len(packed) + 1, max(1, len(packed) // 40)):
            got = _paravox.hwp_debug_records(write(self.document(packed[:keep])))
            assert got == full[: len(got)], f"cut at {keep}"
            assert len(got) >= previous
            previous = len(got)
        assert _paravox.hwp_debug_records(write(self.document(packed))) == full

    @pytest.mark.parametrize(
        "stream",
        [
            hb.CORRUPT_DEFLATE,
            hb.corrupt_deflate(BODY),
            bytes([0x01, 0x05, 0x00, 0x00, 0x00])
            + b"hello",  # stored length without its complement
        ],
        ids=["reserved block type", "reserved type after a stored block", "bad stored length"],
    )
    def test_corrupt_section(self, write, stream):
        path = write(self.document(stream))
        assert message(_paravox.hwp_debug_records, path) == CORRUPT
        assert _paravox.hwp_to_markdown(path) == ""

    def test_records_come_from_section_zero_only(self, write):
        first, second = hb.section("only this"), hb.section("not this", "nor this")
        path = write(hb.hwp_document([first, second]))
        assert _paravox.hwp_debug_records(path) == records_of(first)


class TestSectionLoop:
    """hwp_to_markdown ends at the first section that cannot be read; these need the
    conversion of paragraphs."""

    def test_failing_section_zero_gives_empty_text(self, write):
        path = write(TestSectionStreams.document(hb.CORRUPT_DEFLATE, hb.deflate_raw(BODY)))
        assert _paravox.hwp_to_markdown(path) == ""

    def test_gap_hides_later_sections(self, write):
        sections = [hb.section("zero"), hb.section("one"), hb.section("three")]
        path = write(hb.hwp_document(sections, section_names=["Section0", "Section1", "Section3"]))
        assert _paravox.hwp_to_markdown(path) == "zero\n\none"

    def test_corrupt_later_section_keeps_earlier_ones(self, write):
        path = write(
            TestSectionStreams.document(
                hb.deflate_raw(hb.section("zero")),
                hb.deflate_raw(hb.section("one")),
                hb.CORRUPT_DEFLATE,
                hb.deflate_raw(hb.section("three")),
            )
        )
        assert _paravox.hwp_to_markdown(path) == "zero\n\none"


@pytest.fixture(scope="module")
def zero_bomb() -> bytes:
    """Raw DEFLATE of 300 MB of zero bytes (about 300 KB)."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_RLE)
    chunk = bytes(1 << 20)
    return b"".join([compressor.compress(chunk) for _ in range(300)] + [compressor.flush()])


class TestDecompressionBomb:
    def test_bomb_as_section_zero_is_refused(self, write, zero_bomb):
        path = write(TestSectionStreams.document(zero_bomb))
        assert message(_paravox.hwp_debug_records, path) == TOO_LARGE

    def test_bomb_as_section_one_ends_the_document_after_section_zero(self, write, zero_bomb):
        path = write(TestSectionStreams.document(hb.deflate_raw(hb.section("before")), zero_bomb))
        assert _paravox.hwp_to_markdown(path) == "before"

    def test_uncompressed_sections_are_not_capped(self, write):
        # Without compression a section is bounded by the file; the cap is for inflation.
        section = hb.section("x") * 10
        path = write(hb.hwp_document([section], compressed=False))
        assert len(_paravox.hwp_debug_records(path)) == len(records_of(section))


def test_no_descriptor_is_left_open(write, tmp_path, huge_directory):
    good = write(hb.hwp_document([BODY]))
    inputs = [
        good,
        str(tmp_path / "missing.hwp"),
        write(b"x" * 100),
        write(b"y" * 600),
        write(huge_directory),
        write(hb.hwp_document([BODY], header=hb.file_header(props=3))),
        write(hb.hwp_document([BODY], header=b"HWP Document File")),
        write(hb.hwp_document([BODY], omit=["BodyText/Section0"])),
        write(TestSectionStreams.document(hb.CORRUPT_DEFLATE)),
        str(tmp_path),
    ]
    before = sorted(os.listdir("/proc/self/fd"))
    outcomes = {"ok": 0, "error": 0}
    for call in range(1000):
        function = FUNCTIONS[call % 2]
        try:
            function(inputs[(call // 2) % len(inputs)])
            outcomes["ok"] += 1
        except RuntimeError:
            outcomes["error"] += 1
    assert sorted(os.listdir("/proc/self/fd")) == before
    assert outcomes["ok"] >= 100 and outcomes["error"] >= 700
