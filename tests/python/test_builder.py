"""Tests of the fixture builder itself: its compound files must be real ones (libolecf reads
them back byte for byte), its records must have the exact header layout, and its documents
must have the record layout of real HWP files."""

from __future__ import annotations

import shutil
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import pytest

import hwpbuilder as hb
from cfb_reader import CfbReader
from hwpbuilder import cfb

REPO_DIR = Path(__file__).resolve().parents[2]
HAVE_OLECF = shutil.which("olecfinfo") is not None and shutil.which("olecfexport") is not None
needs_olecf = pytest.mark.skipif(
    not HAVE_OLECF, reason="olecfinfo/olecfexport (libolecf-utils) not installed"
)


def olecf_export(tmp_path: Path, data: bytes) -> Path:
    """Write `data`, check it with olecfinfo and export it; return the export directory."""
    path = tmp_path / "doc.cfb"
    path.write_bytes(data)
    info = subprocess.run(["olecfinfo", str(path)], capture_output=True, text=True)
    assert info.returncode == 0, info.stderr
    target = tmp_path / "out"
    export = subprocess.run(
        ["olecfexport", "-t", str(target), str(path)], capture_output=True, text=True
    )
    assert export.returncode == 0, export.stderr
    return tmp_path / "out.export"


def exported_streams(export_dir: Path) -> dict[str, bytes]:
    # olecfexport writes each item as a directory holding StreamData.bin; storages get an
    # empty one too.
    out = {}
    for f in export_dir.rglob("StreamData.bin"):
        rel = f.parent.relative_to(export_dir).as_posix()
        out[rel] = f.read_bytes()
    return out


# Stream sets covering the mini stream, the regular FAT, both sides of the cutoff, empty
# streams, nesting, non-ASCII names, thousands of entries and more than 109 FAT sectors.
STREAM_SETS = {
    "mini only": {"FileHeader": b"H" * 256, "DocInfo": b"d" * 10, "BodyText/Section0": b"s"},
    "mixed": {
        "FileHeader": b"H" * 256,
        "DocInfo": bytes(range(256)) * 30,
        "BodyText/Section0": b"x" * 4095,
        "BodyText/Section1": b"y" * 4096,
        "BodyText/Section2": b"",
        "BinData/BIN0001.png": b"\x89PNG" * 2000,
    },
    "korean names": {"그림/가나다": "한글 내용".encode("utf-16-le"), "PrvText": b"t" * 700},
    "many entries": hb.filler_streams(3000, size=40) | {"Big": b"b" * 20000},
    "deep": {"a/b/c/d/e/f/g": b"deep" * 2000, "a/b/x": b"1", "a/y": b"2" * 5000},
    "over 109 FAT sectors": {
        "FileHeader": b"H" * 256,
        "BodyText/Section0": bytes(range(251)) * 40000,
    },
}


@needs_olecf
class TestCfbAgainstLibolecf:
    @pytest.mark.parametrize("streams", STREAM_SETS.values(), ids=STREAM_SETS.keys())
    def test_export_round_trips_every_stream(self, tmp_path, streams):
        exported = exported_streams(olecf_export(tmp_path, hb.write_cfb(streams)))
        for path, data in streams.items():
            assert exported[path] == data, path

    def test_large_file_needs_difat_sectors(self):
        data = hb.write_cfb(STREAM_SETS["over 109 FAT sectors"])
        reader = CfbReader(data)
        assert reader.fat_count > 109 and reader.difat_count >= 1

    def test_hwp_document_lists_its_streams(self, tmp_path):
        path = hb.write_document(tmp_path / "doc.hwp", [hb.section("가"), hb.section("나")])
        info = subprocess.run(["olecfinfo", path], capture_output=True, text=True)
        assert info.returncode == 0, info.stderr
        for name in ("FileHeader", "DocInfo", "BodyText", "Section0", "Section1"):
            assert name in info.stdout

    def test_real_document_layout_is_understood(self, corpus_dir):
        # Our reader follows the same layout in a document written by the word processor.
        reader = CfbReader((corpus_dir / "features" / "table.hwp").read_bytes())
        assert reader.stream("FileHeader").startswith(hb.HWP_SIGNATURE)
        records = split_records(
            zlib.decompressobj(-15).decompress(reader.stream("BodyText/Section0"))
        )
        assert (77, 2) in [(t, lvl) for t, lvl, _ in records]


class TestCfbLayout:
    def test_header_fields(self):
        r = CfbReader(hb.write_cfb({"A": b"a"}))
        assert (
            r.magic,
            r.minor,
            r.major,
            r.byte_order,
            r.sector_shift,
            r.mini_shift,
            r.mini_cutoff,
            r.dir_sector_count,
        ) == (cfb.MAGIC, 0x3E, 3, 0xFFFE, 9, 6, 4096, 0)

    @pytest.mark.parametrize(
        "size, in_mini", [(1, True), (4095, True), (4096, False), (100_000, False)]
    )
    def test_mini_cutoff_decides_placement(self, size, in_mini):
        built = hb.build_cfb({"S": b"q" * size})
        assert built.entries["S"].in_mini is in_mini
        assert CfbReader(built.to_bytes()).stream("S") == b"q" * size

    @pytest.mark.parametrize(
        "a, b",
        [
            ("B", "AA"),  # shorter first, whatever the letters
            ("abc", "ABD"),  # then by upper-cased code units
            ("Section9", "Section10"),
            ("Z", "가"),  # U+AC00 sorts after ASCII
        ],
    )
    def test_name_order(self, a, b):
        assert hb.name_key(a) < hb.name_key(b)

    def test_case_only_differences_compare_equal(self):
        assert hb.name_key("bodytext") == hb.name_key("BodyText")

    @pytest.mark.parametrize("count", [1, 2, 3, 7, 8, 100, 1000])
    def test_sibling_tree_is_an_ordered_red_black_tree(self, count):
        streams = hb.filler_streams(count, prefix="s")
        r = CfbReader(hb.write_cfb(streams))
        names = [r.entries[i]["name"] for i in r.children(0)]
        assert names == sorted(streams, key=hb.name_key)
        root_child = r.entries[0]["child"]
        assert r.entries[root_child]["color"] == cfb.BLACK
        # A balanced tree of n nodes has fewer than 2*log2(n+1) levels.
        assert r.black_height(root_child) <= count.bit_length() + 1

    def test_chain_shape_is_an_ordered_right_leaning_list(self):
        streams = hb.filler_streams(50, prefix="s")
        r = CfbReader(hb.write_cfb(streams, tree_shape="chain"))
        order = r.children(0)
        assert [r.entries[i]["name"] for i in order] == sorted(streams, key=hb.name_key)
        assert r.entries[0]["child"] == order[0]
        assert all(
            r.entries[a]["right"] == b and r.entries[a]["left"] == cfb.NOSTREAM
            for a, b in zip(order, order[1:])
        )

    def test_entries_resolve_through_the_tree(self):
        streams = STREAM_SETS["mixed"]
        r = CfbReader(hb.write_cfb(streams))
        assert {p: r.stream(p) for p in streams} == streams

    def test_storage_clsid(self):
        clsid = bytes(range(16))
        built = hb.build_cfb({"A/B": b"x"}, storages_clsid={"A": clsid})
        offset = built.entries["A"].offset
        assert built.data[offset + 80 : offset + 96] == clsid


class TestCfbDamage:
    def test_loop_in_regular_chain(self):
        data = hb.write_cfb({"A": b"a" * 9000}, loop_chains=["A"])
        with pytest.raises(ValueError, match="chain loops"):
            CfbReader(data).stream("A")

    def test_loop_in_mini_chain(self):
        data = hb.write_cfb({"A": b"a" * 300}, loop_chains=["A"])
        with pytest.raises(ValueError, match="chain loops"):
            CfbReader(data).stream("A")

    def test_declared_size_beyond_the_file(self):
        data = hb.write_cfb({"A": b"a" * 9000}, declared_sizes={"A": 10**9})
        entry = CfbReader(data).find("A")
        assert entry["size"] == 10**9 > len(data)

    def test_rename_keeps_position_but_changes_case(self):
        data = hb.write_cfb({"BodyText/Section0": b"s"}, renames={"BodyText": "BODYTEXT"})
        r = CfbReader(data)
        assert [r.entries[i]["name"] for i in r.children(0)] == ["BODYTEXT"]
        assert r.stream("BodyText/Section0") == b"s"

    def test_many_entries_need_many_directory_sectors(self):
        built = hb.build_cfb(hb.filler_streams(5000))
        assert len(built.directory_sectors) == -(-5001 // 4)


# --- records -------------------------------------------------------------------------------------


def split_records(data: bytes) -> list[tuple[int, int, bytes]]:
    out, pos = [], 0
    while pos + 4 <= len(data):
        word = int.from_bytes(data[pos : pos + 4], "little")
        size, pos = word >> 20, pos + 4
        if size == 0xFFF:
            size, pos = int.from_bytes(data[pos : pos + 4], "little"), pos + 4
        out.append((word & 0x3FF, (word >> 10) & 0x3FF, data[pos : pos + size]))
        pos += size
    assert pos == len(data), "records do not end at the end of the data"
    return out


def shape(data: bytes) -> list[tuple[int, int]]:
    return [(tag, level) for tag, level, _ in split_records(data)]


class TestRecordHeader:
    @pytest.mark.parametrize(
        "tag, level, size, header",
        [
            (67, 1, 1, "43041000"),
            (66, 0, 0, "42000000"),
            (1023, 1023, 0, "ffff0f00"),
            (71, 2, 4094, "4708e0ff"),
            (71, 2, 4095, "4708f0ffff0f0000"),
            (67, 1, 70000, "4304f0ff70110100"),
        ],
    )
    def test_header_bytes(self, tag, level, size, header):
        rec = hb.record(tag, level, bytes(size))
        assert rec[: len(header) // 2].hex() == header
        assert len(rec) == len(header) // 2 + size

    def test_forced_extended_header_for_a_small_size(self):
        assert hb.record_header(67, 0, 5, extended=True).hex() == "4300f0ff05000000"

    @pytest.mark.parametrize("tag, level", [(1024, 0), (0, 1024), (-1, 0)])
    def test_out_of_range(self, tag, level):
        with pytest.raises(ValueError):
            hb.record(tag, level)


class TestPayloads:
    @pytest.mark.parametrize(
        "items, units",
        [
            (("AB",), [0x41, 0x42]),
            (("😀",), [0xD83D, 0xDE00]),
            ((hb.ctrl(13),), [13]),
            ((hb.tab(),), [9, 0, 0, 0, 0, 0, 0, 9]),
            ((hb.field_start(hb.CLK),), [3, 0x6C6B, 0x2563, 0, 0, 0, 0, 3]),
            ((hb.field_end(),), [4, 0, 0, 0, 0, 0, 0, 4]),
            ((hb.unit(0xD800), "A"), [0xD800, 0x41]),
        ],
    )
    def test_para_text_units(self, items, units):
        assert hb.para_text(*items) == struct.pack(f"<{len(units)}H", *units)

    def test_para_text_raw_odd_byte(self):
        assert hb.para_text("A", hb.raw(b"\x42")) == b"A\x00B"

    def test_control_ids(self):
        assert (hb.TBL, hb.GSO, hb.EQED, hb.CLK) == (0x74626C20, 0x67736F20, 0x65716564, 0x25636C6B)

    @pytest.mark.parametrize(
        "direction, modified", [("", False), ("이름을 입력하세요", True), ("Hello", False)]
    )
    def test_click_here_header(self, direction, modified):
        payload = hb.click_here_header(direction, modified)
        cid, prop, byte8, length = struct.unpack_from("<IIBH", payload, 0)
        command = payload[11 : 11 + 2 * length].decode("utf-16-le")
        assert (cid, byte8, bool(prop & 0x8000)) == (hb.CLK, 9, modified)
        assert f"Direction:wstring:{len(direction)}:{direction}" in command
        assert len(payload) > 11 + 2 * length

    def test_click_here_command_override(self):
        payload = hb.click_here_header(command="X")
        assert payload[9:13] == b"\x01\x00X\x00"

    def test_ctrl_data_name(self):
        payload = hb.ctrl_data_name("이름")
        assert struct.unpack_from("<H", payload, 10)[0] == 2
        assert payload[12:].decode("utf-16-le") == "이름"

    def test_eqedit(self):
        payload = hb.eqedit("a+b")
        assert struct.unpack_from("<H", payload, 4)[0] == 3
        assert payload[6:12].decode("utf-16-le") == "a+b"
        assert len(payload) > 12

    def test_table_record(self):
        payload = hb.table_record(3, [3, 1, 2])
        assert struct.unpack_from("<HH", payload, 4) == (3, 3)
        assert struct.unpack_from("<3H", payload, 18) == (3, 1, 2)

    @pytest.mark.parametrize("size", [72, 73, 80, 234])
    def test_picture_record_size(self, size):
        payload = hb.picture_record(size, bin_data_id=7)
        assert len(payload) == size
        if size >= 73:
            assert struct.unpack_from("<H", payload, 71)[0] == 7


# --- documents -----------------------------------------------------------------------------------

P, T, CS, LS = hb.PARA_HEADER, hb.PARA_TEXT, hb.CHAR_SHAPE, hb.LINE_SEG
CH, LH = hb.CTRL_HEADER, hb.LIST_HEADER


def para_shape(level: int, text: bool = True) -> list[tuple[int, int]]:
    return [(P, level)] + ([(T, level + 1)] if text else []) + [(CS, level + 1), (LS, level + 1)]


class TestParts:
    def test_body_paragraph(self):
        assert shape(hb.paragraph("가")) == para_shape(0)

    def test_empty_paragraph_has_no_text_record(self):
        assert shape(hb.paragraph()) == para_shape(0, text=False)

    def test_paragraph_text_ends_with_anchor_and_break(self):
        text = split_records(hb.paragraph("a", controls=[hb.table([["x"]])]))[1][2]
        assert text == hb.para_text("a", hb.ext(11, hb.TBL), hb.ctrl(13))

    def test_click_here_paragraph(self):
        part = hb.paragraph("x", hb.field_text("v"), controls=[hb.click_here("n", "d")])
        recs = split_records(part)
        assert [(t, lvl) for t, lvl, _ in recs] == para_shape(0) + [(CH, 1), (hb.CTRL_DATA, 2)]
        assert recs[1][2] == hb.para_text(
            "x", hb.field_start(hb.CLK), "v", hb.field_end(), hb.ctrl(13)
        )

    def test_table_cells_and_nesting_levels(self):
        inner = hb.table([["1"]])
        part = hb.paragraph(controls=[hb.table([["a", ["x", inner]]])])
        expected = (
            para_shape(0)
            + [(CH, 1), (hb.TABLE, 2)]
            + [(LH, 2)]
            + para_shape(2)
            + [(LH, 2)]
            + para_shape(2)
            + para_shape(2)
            + [(CH, 3), (hb.TABLE, 4)]
            + [(LH, 4)]
            + para_shape(4)
        )
        assert shape(part) == expected

    def test_picture_with_caption(self):
        assert shape(hb.picture("그림 1")) == (
            [(CH, 1), (LH, 2)]
            + para_shape(2)
            + [(hb.SHAPE_COMPONENT, 2), (hb.SHAPE_COMPONENT_PICTURE, 3)]
        )

    def test_text_box(self):
        assert shape(hb.text_box(["a", "b"])) == (
            [(CH, 1), (hb.SHAPE_COMPONENT, 2), (LH, 3)] + para_shape(3) + para_shape(3) + [(80, 3)]
        )

    def test_equation(self):
        assert shape(hb.equation("x")) == [(CH, 1), (hb.EQEDIT, 2)]

    def test_parts_rebuild_at_another_level(self):
        assert shape(hb.equation("x").at(3)) == [(CH, 3), (hb.EQEDIT, 4)]


class TestDocument:
    @pytest.mark.parametrize("compressed", [True, False])
    def test_sections_round_trip(self, compressed):
        sections = [hb.section("가"), hb.section("나", "다")]
        r = CfbReader(hb.hwp_document(sections, compressed=compressed))
        header = r.stream("FileHeader")
        assert header.startswith(b"HWP Document File\0")
        assert struct.unpack_from("<I", header, 36)[0] & 1 == compressed
        for i, sec in enumerate(sections):
            stored = r.stream(f"BodyText/Section{i}")
            assert (hb.inflate_raw(stored) if compressed else stored) == sec

    def test_section_names_and_omit(self):
        r = CfbReader(
            hb.hwp_document(
                [b"", b"", b""],
                section_names=["Section0", "Section1", "Section3"],
                omit=["DocInfo"],
            )
        )
        names = {r.entries[i]["name"] for i in r.children(0)}
        body = {r.entries[i]["name"] for i in r.children(r.entries.index(r.find("BodyText")))}
        assert names == {"FileHeader", "BodyText"}
        assert body == {"Section0", "Section1", "Section3"}

    @pytest.mark.parametrize(
        "kwargs, props",
        [({}, 1), ({"compressed": False}, 0), ({"password": True}, 3), ({"props": 5}, 5)],
    )
    def test_file_header_props(self, kwargs, props):
        header = hb.file_header(**kwargs)
        assert len(header) == 256 and struct.unpack_from("<II", header, 32) == (0x05000300, props)

    def test_file_header_cut_short(self):
        assert hb.file_header(length=20) == b"HWP Document File\0\0\0"

    def test_corrupt_and_truncated_deflate(self):
        data = hb.bulk_section(50_000)
        with pytest.raises(zlib.error):
            hb.inflate_raw(hb.corrupt_deflate())
        with pytest.raises(zlib.error):
            hb.inflate_raw(hb.corrupt_deflate(b"ok"))
        partial = zlib.decompressobj(-15).decompress(hb.truncated_deflate(data, 0.5))
        assert 0 < len(partial) < len(data) and data.startswith(partial)

    def test_hundred_megabyte_document_is_quick(self):
        import time

        start = time.monotonic()
        doc = hb.hwp_document([hb.bulk_section(100 * 2**20)], compressed=False)
        assert time.monotonic() - start < 30
        assert len(doc) > 100 * 2**20


class TestSample:
    def test_sample_is_regenerated_exactly(self, tmp_path):
        sample = REPO_DIR / "examples" / "sample.hwp"
        out = tmp_path / "sample.hwp"
        subprocess.run(
            [sys.executable, str(REPO_DIR / "examples" / "make_sample.py"), str(out)], check=True
        )
        assert out.read_bytes() == sample.read_bytes()
