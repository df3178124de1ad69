"""Writes seed inputs for the fuzz targets into a scratch folder outside the repository.

    python3 fuzz/make_seeds.py OUT [--corpus ../shared/corpus]

OUT/document gets whole files (the shared corpus documents and documents from the fixture
builder), OUT/inflate_walk their compressed section streams, and OUT/walk_section and
OUT/parse_records their section record bytes, OUT/docinfo their inflated DocInfo streams and
OUT/summary their summary-information streams, OUT/header the header.xml and content.hpf
parts of the HWPX packages (the shared ones too). OUT/hwpx gets HWPX packages from the HWPX
fixture writer and their section parts' XML (the shared HWPX files are better given to the
fuzzer as a second seed folder: fuzz/run.sh passes ../shared/corpus/hwpx when it exists).
OUT/xml gets XML snippets, those section parts, and the first 64 KiB of every XML part of the
shared HWPX files. Seeds are named by content hash, so running it twice gives the same folder.
"""

from __future__ import annotations

import argparse
import hashlib
import io
import struct
import sys
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests"))
sys.path.insert(0, str(REPO / "tests" / "python"))

import hwpbuilder as hb  # noqa: E402
from hwpbuilder import hwpx as hx  # noqa: E402
from hwpbuilder import records as r  # noqa: E402
from test_robustness import CfbLayout, inflate_raw_prefix  # noqa: E402

TARGETS = (
    "document", "inflate_walk", "walk_section", "parse_records", "hwpx", "xml", "docinfo",
    "summary", "header",
)

# XML that reaches each construct of the XML reader: declarations, references, CDATA,
# comments, processing instructions, white space in attribute values.
XML_SNIPPETS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><a x="1">t</a>',
    "\ufeff<?xml version='1.0'?>\n<!-- c --><?pi data?><a/>\r\n<!-- d -->",
    '<a b="&lt;&gt;&amp;&apos;&quot;&#x41;&#65;\t\r\n"><![CDATA[<]]]]><c/>&#xAC00;\r</a>',
    "<hp:t xml:space='preserve'>가나 &#x1F600; ]</hp:t>",
)


def builder_sections() -> list[list[bytes]]:
    """Record bytes of documents that use each construct the conversion reads."""
    cell_table = hb.table(
        [["가", "나"], ["다", hb.table([["안", "쪽"]])]], caption="표 제목"
    )
    fields = hb.paragraph(
        "이름: ",
        hb.field_text("홍길동"),
        " 끝",
        controls=[hb.click_here("name", "이름을 입력하세요", modified=True)],
    )
    return [
        [hb.section("첫 문단", "둘째 문단\t탭")],
        [hb.section(hb.paragraph("표 앞", controls=[cell_table]), "표 뒤")],
        [
            hb.section(
                fields,
                hb.paragraph(
                    "두 필드 ",
                    hb.field_text("a"),
                    hb.field_text(""),
                    controls=[hb.click_here("x"), hb.click_here("y")],
                ),
            )
        ],
        [
            hb.section(
                hb.paragraph("수식", controls=[hb.equation("a over b", caption="식 1")])
            )
        ],
        [
            hb.section(
                hb.paragraph(controls=[hb.picture(caption="그림 설명")]),
                hb.paragraph(controls=[hb.picture()]),
            )
        ],
        [
            hb.section(
                hb.paragraph(
                    controls=[hb.text_box(["상자 안", "둘째 줄"], caption="캡션")]
                )
            )
        ],
        [
            hb.section(
                hb.paragraph("각주", controls=[hb.footnote("각주 내용")]),
                hb.paragraph(controls=[hb.page_header("머리말")]),
                hb.paragraph(
                    "링크 ", hb.hyperlink_text("여기"), controls=[hb.hyperlink()]
                ),
            )
        ],
        [
            hb.section("첫 구역"),
            hb.section(hb.paragraph(controls=[hb.table([["1", "2", "3"]])])),
            hb.section("셋째 구역"),
        ],
        [
            hb.section(
                hb.paragraph(
                    controls=[
                        hb.table([["병합"], ["a", "b"]], cells_per_row=[1, 2], cols=2)
                    ]
                )
            )
        ],
        [hb.bulk_section(6000)],
    ]


def builder_documents() -> list[bytes]:
    docs = []
    for sections in builder_sections():
        docs.append(hb.hwp_document(sections))
        docs.append(hb.hwp_document(sections, compressed=False))
    docs.append(
        hb.hwp_document(
            [hb.section("압축 안 됨")], header=hb.file_header(password=True)
        )
    )
    return docs


def hwpx_sections() -> list[list[hx.El]]:
    """Section lists of HWPX documents that use each construct the HWPX reader reads."""
    field = hx.click_here("이름", "이름을 입력", "홍길동")
    return [
        [hx.section("첫 문단", hx.paragraph("이름: ", field, " 끝"))],
        [
            hx.section(
                "표 앞",
                hx.table(
                    [["가", hx.paragraph("x", hx.table([["안", "쪽"]]))], ["다", "라"]],
                    caption="표 제목",
                ),
                hx.paragraph(hx.table([[hx.paragraph("칸 ", field)]])),
            )
        ],
        [
            hx.section(
                hx.paragraph(hx.picture(caption="그림 설명"), hx.picture()),
                hx.equation("a over b", caption="식 1"),
                hx.text_box(["상자 안", "둘째 줄"], caption="캡션"),
                "탭\t과 줄\n바꿈",
            )
        ],
        [hx.section("첫 구역"), hx.section("둘째 구역"), hx.section("셋째 구역")],
    ]


def hwpx_seeds() -> list[bytes]:
    seeds = []
    for sections in hwpx_sections():
        for options in ({}, {"compress": False}):
            package = hx.hwpx_package(sections, **options)
            seeds.append(package.to_bytes())
            seeds += [
                e.data for e in package.entries if e.name.startswith("Contents/sec")
            ]
    return seeds


def is_compressed(layout: CfbLayout) -> bool:
    header = layout.read("/FileHeader")
    return len(header) >= 40 and struct.unpack_from("<I", header, 36)[0] & 1 == 1


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", type=Path)
    parser.add_argument(
        "--corpus", type=Path, default=REPO.parent / "shared" / "corpus"
    )
    args = parser.parse_args()
    if (args.out.resolve() / "x").is_relative_to(REPO):
        parser.error("write seeds outside the repository")
    for target in TARGETS:
        (args.out / target).mkdir(parents=True, exist_ok=True)

    def put(target: str, data: bytes) -> None:
        name = hashlib.sha1(data).hexdigest()
        (args.out / target / name).write_bytes(data)

    documents = builder_documents()
    if args.corpus.is_dir():
        documents += [p.read_bytes() for p in sorted(args.corpus.glob("*/*.hwp"))]
    for sections in builder_sections():
        for section in sections:
            put("walk_section", section)
            put("parse_records", section)
            put("inflate_walk", hb.deflate_raw(section))
            put("inflate_walk", hb.truncated_deflate(section))
    put("inflate_walk", hb.corrupt_deflate())
    put(
        "parse_records",
        r.record_header(r.PARA_TEXT, 1, 4095, extended=True) + b"\5\0\0\0abcde",
    )

    for data in documents:
        put("document", data)
        try:
            layout = CfbLayout(data)
            compressed = is_compressed(layout)
            paths = layout.section_paths()
        except (ValueError, KeyError, IndexError, struct.error):
            continue  # the files that are not documents only seed the whole-file target
        streams = (("/DocInfo", "docinfo"), ("/\x05HwpSummaryInformation", "summary"))
        for stream, target in streams:
            try:
                stored = layout.read(stream)
            except (ValueError, KeyError, IndexError, struct.error):
                continue
            inflate = compressed and target == "docinfo"
            put(target, inflate_raw_prefix(stored) if inflate else stored)
        for path in paths:
            stored = layout.read(path)
            section = inflate_raw_prefix(stored) if compressed else stored
            if compressed:
                put("inflate_walk", stored)
            put("walk_section", section)
            put("parse_records", section)
    for data in hwpx_seeds():
        put("hwpx", data)
        if not data.startswith(b"PK"):
            put("xml", data)
    for snippet in XML_SNIPPETS:
        put("xml", snippet.encode())
    for path in sorted(args.corpus.glob("hwpx/*/*.hwpx")) if args.corpus.is_dir() else []:
        try:
            with zipfile.ZipFile(path) as package:
                for name in package.namelist():
                    if name.endswith((".xml", ".hpf")):
                        put("xml", package.read(name)[:65536])
        except (zipfile.BadZipFile, OSError, ValueError, KeyError):
            continue
    packages = [hx.hwpx_package(sections).to_bytes() for sections in hwpx_sections()]
    if args.corpus.is_dir():
        packages += [p.read_bytes() for p in sorted(args.corpus.glob("hwpx/*/*.hwpx"))]
    for data in packages:
        try:
            with zipfile.ZipFile(io.BytesIO(data)) as package:
                for name in ("Contents/header.xml", "Contents/content.hpf"):
                    if name in package.namelist():
                        put("header", package.read(name))
        except (zipfile.BadZipFile, ValueError, NotImplementedError):
            continue  # not a package, or one the reader must refuse
    for target in TARGETS:
        print(f"{target}: {len(list((args.out / target).iterdir()))} seeds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
