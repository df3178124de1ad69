"""Embedded pictures: listed and read in both formats, linked from the Markdown, written by the
command line beside it."""

from __future__ import annotations

import io
import re

import pytest

import hwpbuilder as hb
from hwpbuilder import hwpx as hx
from hwpbuilder import records as r

paravox = pytest.importorskip("paravox")
from paravox import cli  # noqa: E402

# Two pictures' bytes: the first stored compressed and shown twice, the second stored as is.
FIRST = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 40
SECOND = b"\xff\xd8\xff\xe0" + b"JFIF" * 300 + bytes(range(7, 250, 3))
CAPTION = "그림 [1]"


def binary_document(first_stream: bytes | None = None) -> bytes:
    """DocInfo lists the second picture first, and numbers the streams unlike the places, as
    real documents do: pictures refer to an item by its place."""
    stream = hb.deflate_raw(FIRST) if first_stream is None else first_stream
    section = hb.section(
        hb.paragraph("앞", controls=[hb.picture(CAPTION, bin_data_id=2)]),
        hb.paragraph(controls=[hb.table([[hb.picture(bin_data_id=1), "x"]])]),
        hb.paragraph(controls=[hb.picture(bin_data_id=2)]),
    )
    return hb.hwp_document(
        [section],
        bin_items=[r.bin_data(7, "JPG", compression=2), r.bin_data(3, "png", compression=1)],
        extra_streams={"BinData/BIN0007.JPG": SECOND, "BinData/BIN0003.png": stream},
    )


def hwpx_package() -> hx.Package:
    section = hx.section(
        hx.paragraph("앞", hx.picture(caption=CAPTION, image_id="first")),
        hx.paragraph(hx.table([[hx.picture(image_id="second"), "x"]])),
        hx.paragraph(hx.picture(image_id="first")),
    )
    return hx.hwpx_package(
        [section],
        binaries=[("second", "second.JPG", SECOND, False), ("first", "first.png", FIRST, True)],
    )


DOCUMENTS = {"hwp": binary_document, "hwpx": lambda: hwpx_package().to_bytes()}
LINK = re.compile(r"!\[((?:[^\]\\]|\\.)*)\]\(([^)]*)\)")


def listed(pictures) -> list[tuple[str, str, int, bytes]]:
    return [(p.id, p.format, p.size, p.data) for p in pictures]


@pytest.mark.parametrize("format", DOCUMENTS)
class TestBothFormats:
    def test_pictures_are_numbered_by_first_appearance_with_their_bytes(self, format, tmp_path):
        data = DOCUMENTS[format]()
        path = tmp_path / f"doc.{format}"
        path.write_bytes(data)
        expected = [("image1", "png", len(FIRST), FIRST), ("image2", "jpg", len(SECOND), SECOND)]
        assert listed(paravox.pictures(path)) == expected
        assert listed(paravox.pictures(io.BytesIO(data))) == expected

    def test_read_lists_each_picture_with_the_size_its_file_declares(self, format, tmp_path):
        path = tmp_path / f"doc.{format}"
        path.write_bytes(DOCUMENTS[format]())
        # A binary document keeps the first picture deflated: its stream's size is not its own.
        deflated = len(hb.deflate_raw(FIRST)) if format == "hwp" else None
        expected = listed(paravox.pictures(path))
        expected[0] = (*expected[0][:2], None if deflated else len(FIRST), FIRST)
        for document in (paravox.read(path), paravox.read_bytes(path.read_bytes())):
            assert [(p["size"], p.get("compressed", False)) for p in document.to_dict()[
                "pictures"]] == [(deflated or len(FIRST), bool(deflated)), (len(SECOND), False)]
            assert listed(document.pictures) == expected
            assert [p.media_type for p in document.pictures] == [
                p.media_type for p in paravox.pictures(path)]

    def test_markdown_links_each_picture_where_it_stands(self, format):
        data = DOCUMENTS[format]()
        markdown = paravox.convert_bytes(data, picture_links="문서 (1)")
        links = LINK.findall(markdown)
        folder = "문서%20%281%29"  # bytes a link cannot hold are percent-encoded
        assert links == [
            (r"그림 \[1\]", f"{folder}/image1.png"),
            ("", f"{folder}/image2.jpg"),
            ("", f"{folder}/image1.png"),
        ]
        assert "[이미지" not in markdown
        # Without the option, and in the minimal profile, pictures keep their placeholder.
        assert "![" not in paravox.convert_bytes(data)
        assert "![" not in paravox.convert_bytes(data, profile="minimal", picture_links="x")


# (name, the damaged document, the picture left out, the error reading it)
DAMAGED = [
    ("hwp-corrupt-deflate", lambda: binary_document(hb.corrupt_deflate()), "image1",
     paravox.DamagedDocumentError),
    ("hwp-past-the-ceiling", lambda: binary_document(hb.deflate_raw(bytes((256 << 20) + 1), 1)),
     "image1", paravox.DocumentTooLargeError),
    ("hwpx-crc-mismatch", lambda: hwpx_package().replace("BinData/second.JPG", crc=1).to_bytes(),
     "image2", paravox.DamagedDocumentError),
]


@pytest.mark.parametrize("build, missing, error", [d[1:] for d in DAMAGED],
                         ids=[d[0] for d in DAMAGED])
def test_an_unreadable_picture_is_left_out_with_a_warning(build, missing, error):
    data = build()
    with pytest.warns(paravox.PartialDocumentWarning, match=f"Picture {missing} .* cannot be read"):
        pictures = paravox.pictures(io.BytesIO(data))
    assert [p.id for p in pictures] == [i for i in ("image1", "image2") if i != missing]
    with pytest.raises(error, match=f"Picture {missing} "):
        paravox._native.picture_data_buffer(data, missing)
    with pytest.raises(KeyError):
        paravox._native.picture_data_buffer(data, "image3")
    # The text converts whole: the pictures' bytes are not the text's.
    assert len(LINK.findall(paravox.convert_bytes(data, picture_links="p"))) == 3


def test_twins_give_the_same_pictures(corpus_dir):
    twins = corpus_dir / "hwpx" / "twins"
    hwp = listed(paravox.pictures(twins / "hwp2hwpx-picture.hwp"))
    hwpx = listed(paravox.pictures(twins / "hwp2hwpx-picture.hwpx"))
    assert hwp and hwp == hwpx
    assert all(data.startswith(b"\x89PNG") for *_, data in hwp)


def test_cli_writes_the_pictures_beside_the_markdown(tmp_path):
    source = tmp_path / "보고서.hwp"
    source.write_bytes(binary_document())
    out = tmp_path / "md"
    assert cli.main([str(source), "-o", str(out), "--pictures", "--jobs", "1"]) == 0
    markdown = (out / "보고서.md").read_text(encoding="utf-8")
    targets = [target for _, target in LINK.findall(markdown)]
    assert targets == ["보고서/image1.png", "보고서/image2.jpg", "보고서/image1.png"]
    assert (out / "보고서" / "image1.png").read_bytes() == FIRST
    assert (out / "보고서" / "image2.jpg").read_bytes() == SECOND
