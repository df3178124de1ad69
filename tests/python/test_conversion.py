"""hwp_to_markdown end to end, on documents written by the fixture builder."""

import struct

import pytest

import _paravox
from hwpbuilder import (
    CORRUPT_DEFLATE,
    click_here,
    control,
    equation,
    field_text,
    footnote,
    hyperlink,
    hyperlink_text,
    page_header,
    paragraph,
    picture,
    section,
    table,
    text_box,
    write_document,
)
from hwpbuilder import records as r

CEILING_MESSAGE = "Parse error: Markdown output exceeds 268435456 bytes"


@pytest.fixture
def convert(tmp_path):
    """Writes a document of the given sections and returns its Markdown."""
    counter = iter(range(1_000_000))

    def run(*sections, **options):
        path = write_document(tmp_path / f"doc{next(counter)}.hwp", list(sections), **options)
        return _paravox.hwp_to_markdown(path)

    return run


def body_records(*records: bytes) -> bytes:
    return b"".join(records)


class TestDriverWalk:
    def test_sections_in_order(self, convert):
        assert convert(section("one", "two"), section("three")) == "one\n\ntwo\n\nthree"

    @pytest.mark.parametrize("compressed", [True, False])
    def test_compressed_and_stored_sections(self, convert, compressed):
        assert convert(section("가나다", "abc"), compressed=compressed) == "가나다\n\nabc"

    def test_no_body_section_gives_empty_text(self, convert):
        assert convert(section("never read"), section_names=["Section1"]) == ""

    def test_first_section_not_inflating_gives_empty_text(self, convert):
        assert convert(section("x"), extra_streams={"BodyText/Section0": CORRUPT_DEFLATE}) == ""

    def test_third_section_not_inflating_keeps_the_first_two(self, convert):
        sections = [section("first"), section("second"), section("third")]
        text = convert(*sections, extra_streams={"BodyText/Section2": CORRUPT_DEFLATE})
        assert text == "first\n\nsecond"

    def test_gap_in_section_numbers_ends_the_document(self, convert):
        text = convert(section("zero"), section("two"), section_names=["Section0", "Section2"])
        assert text == "zero"

    def test_section_without_a_complete_record_adds_nothing(self, convert):
        assert convert(section("a"), b"\x43\x04", section("b")) == "a\n\nb"

    def test_table_anchored_in_first_paragraph_comes_between(self, convert):
        doc = section(paragraph("A", controls=[table([["c"]])]), "B")
        assert convert(doc) == "A\n\n|c|\n|---|\n\nB"

    @pytest.mark.parametrize(
        "blank",
        [
            paragraph("   ", r.LINE_BREAK, "\u3000 "),
            paragraph(r.tab(), "\u00a0"),
            paragraph(),  # no PARA_TEXT record at all
        ],
        ids=["spaces-and-line-breaks", "tab-and-no-break-space", "empty"],
    )
    def test_blank_paragraph_yields_nothing(self, convert, blank):
        assert convert(section("a", blank, "b")) == "a\n\nb"

    @pytest.mark.parametrize(
        "hidden",
        [
            footnote(["footnote text"]),
            footnote(["endnote text"], endnote=True),
            page_header(["header text"]),
            page_header(["footer text"], footer=True),
            control(r.ctrl_id("tcmt"), ["hidden comment"]),
        ],
        ids=["footnote", "endnote", "header", "footer", "comment"],
    )
    def test_other_controls_vanish_with_their_contents(self, convert, hidden):
        doc = section(paragraph("text", controls=[hidden]), "next")
        assert convert(doc) == "text\n\nnext"

    def test_control_header_of_three_bytes_is_skipped_with_subtree(self, convert):
        short = body_records(
            r.record(r.CTRL_HEADER, 1, b"tbl"),
            r.record(r.LIST_HEADER, 2, bytes(8)),
            paragraph("inside", level=2),
        )
        assert convert(section(paragraph("a", controls=[short]), "b")) == "a\n\nb"

    def test_para_text_below_level_one_is_not_walked(self, convert):
        stray = body_records(r.record(r.LIST_HEADER, 1, bytes(8)), paragraph("deep", level=2))
        assert convert(section("a", stray)) == "a"

    def test_level_zero_records_alone_produce_nothing(self, convert):
        assert convert(section(r.record(r.PARA_HEADER, 0, bytes(24)))) == ""


class TestFieldsInBody:
    @pytest.mark.parametrize(
        "name, direction, modified, shown, expected",
        [
            ("name", "", False, "typed", "{{name}}"),
            ("name", "guide", False, "", "{{name: guide}}"),
            ("name", "guide", False, "guide", "{{name: guide}}"),
            ("name", "guide", False, "typed", "{{name: guide --> typed}}"),
            ("name", "", True, "", "{{name}}"),
            ("name", "", True, "typed", "{{name --> typed}}"),
            ("name", "guide", True, "", "{{name: guide}}"),
            ("name", "guide", True, "guide", "{{name: guide --> guide}}"),
            ("", "", False, "", "{{}}"),
            ("이름", "입력하세요", True, "홍길동", "{{이름: 입력하세요 --> 홍길동}}"),
        ],
    )
    def test_field_rendering(self, convert, name, direction, modified, shown, expected):
        doc = section(
            paragraph("[", field_text(shown), "]", controls=[click_here(name, direction, modified)])
        )
        assert convert(doc) == f"[{expected}]"

    def test_two_fields_and_three_field_controls(self, convert):
        doc = section(
            paragraph(
                "a",
                field_text("x"),
                "b",
                field_text("y"),
                controls=[
                    click_here("f1", modified=True),
                    click_here("f2", modified=True),
                    click_here("f3", modified=True),
                ],
            ),
            "next",
        )
        assert convert(doc) == "a{{f1 --> x}}b{{f2 --> y}}\n\nnext"

    def test_field_control_after_a_table_is_not_attached(self, convert):
        doc = section(
            paragraph(
                "a", field_text("x"), controls=[table([["t"]]), click_here("late", modified=True)]
            )
        )
        assert convert(doc) == "ax\n\n|t|\n|---|"

    def test_field_without_ctrl_data_has_an_empty_name(self, convert):
        bare = r.record(r.CTRL_HEADER, 1, r.click_here_header("guide", modified=True))
        doc = section(
            paragraph(
                "a",
                field_text("x"),
                "b",
                field_text("y"),
                controls=[bare, click_here("second", modified=True)],
            )
        )
        assert convert(doc) == "a{{: guide --> x}}b{{second --> y}}"

    def test_field_control_at_level_two_is_skipped(self, convert):
        deep = click_here("deep", modified=True, level=2)
        doc = section(paragraph("a", field_text("x"), controls=[bytes(deep)]))
        assert convert(doc) == "ax"

    def test_hyperlink_text_stays_in_the_paragraph(self, convert):
        doc = section(paragraph("see ", hyperlink_text("site"), controls=[hyperlink()]))
        assert convert(doc) == "see site"

    def test_field_names_in_a_paragraph_that_ends_a_section(self, convert):
        first = section(paragraph("a", field_text("x")))
        second = section(bytes(click_here("orphan", modified=True)), "b")
        assert convert(first, second) == "ax\n\nb"


class TestDrawingObjects:
    @pytest.mark.parametrize(
        "obj, expected",
        [
            (picture(["Fig 1"]), "[이미지: Fig 1]"),
            (picture(["a", "b"]), "[이미지: a b]"),
            (picture([" padded\u3000", "  "]), "[이미지: padded]"),
            (picture(), "[이미지]"),
            (picture(picture_size=72), ""),
            (picture(["cap"], picture_size=72), "cap"),
            (text_box(["x", "   ", "y"]), "x\ny"),
            (text_box(["inside"], caption=["dropped caption"]), "inside"),
            (text_box([" "], caption=["kept", "caption"]), "kept caption"),
        ],
        ids=[
            "caption",
            "two-caption-paragraphs",
            "trimmed-caption",
            "no-caption",
            "short-picture-record",
            "short-picture-record-with-caption",
            "text-box",
            "text-box-wins-over-caption",
            "caption-without-contents",
        ],
    )
    def test_object_blocks(self, convert, obj, expected):
        text = convert(section(paragraph("before", controls=[obj]), "after"))
        middle = f"{expected}\n\n" if expected else ""
        assert text == f"before\n\n{middle}after"

    def test_object_without_shape_component_yields_nothing(self, convert):
        obj = body_records(
            r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.GSO)),
            r.record(r.LIST_HEADER, 2, bytes(8)),
            paragraph("lost", level=2),
        )
        assert convert(section(paragraph("a", controls=[obj]), "b")) == "a\n\nb"

    def test_object_as_the_last_record_yields_nothing(self, convert):
        last = r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.GSO))
        assert convert(section("a", last)) == "a"

    def test_picture_ends_the_document_with_its_bracket(self, convert):
        assert convert(section(paragraph(controls=[picture(["Map "])]))) == "[이미지: Map]"

    def test_field_in_a_text_box_keeps_only_its_characters(self, convert):
        box = text_box([paragraph("x", field_text("ab"), "y")])
        assert convert(section(paragraph(controls=[box]))) == "xaby"


class TestEquations:
    @pytest.mark.parametrize(
        "payload, expected",
        [
            (r.eqedit("a over b"), "$$\na over b\n$$"),
            (r.eqedit("  x^2\u3000"), "$$\nx^2\n$$"),
            (r.eqedit("   "), "$$\n\n$$"),
            (r.eqedit("", declared_units=0), None),
            (r.eqedit("abc")[:4] + struct.pack("<H", 200) + r.utf16("abc"), None),
            (r.eqedit("a\ud800b"), None),
            (b"\x00\x00\x00\x00\x01", None),
            (r.eqedit("𝑥 + 1"), "$$\n𝑥 + 1\n$$"),
        ],
        ids=[
            "script",
            "trimmed",
            "blank",
            "zero-units",
            "count-past-payload",
            "lone-surrogate",
            "five-bytes",
            "supplementary",
        ],
    )
    def test_script(self, convert, payload, expected):
        text = convert(section("p", paragraph(controls=[equation("", payload=payload)]), "q"))
        assert text == ("p\n\nq" if expected is None else f"p\n\n{expected}\n\nq")

    def test_caption_of_an_equation_is_not_written(self, convert):
        doc = section(paragraph(controls=[equation("x", caption=["eq caption"])]), "after")
        assert convert(doc) == "$$\nx\n$$\n\nafter"

    def test_eqedit_two_levels_down_is_not_read(self, convert):
        eq = body_records(
            r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.EQED)),
            r.record(r.LIST_HEADER, 2, bytes(8)),
            r.record(r.EQEDIT, 3, r.eqedit("deep")),
        )
        assert convert(section(paragraph("a", controls=[eq]), "b")) == "a\n\nb"

    def test_document_ending_with_an_equation(self, convert):
        assert convert(section("p", paragraph(controls=[equation("E=mc^2")]))) == (
            "p\n\n$$\nE=mc^2\n$$"
        )


class TestTablesAndNesting:
    def test_example_table(self, convert):
        doc = section(paragraph(controls=[table([["Name", "Qty"], ["a|b", "2"], ["c"]])]), "end")
        assert convert(doc) == "|Name|Qty|\n|---|---|\n|a\\|b|2|\n|c||\n\nend"

    @pytest.mark.parametrize(
        "tbl, expected",
        [
            (table([["a", "b"], ["c", "d"]]), "|a|b|\n|---|---|\n|c|d|\n\n"),
            (table([["only"]]), "|only|\n|---|\n\n"),
            (table([["x"], ["y"]]), "|x|\n|---|\n|y|\n\n"),
            (table([[["a", " ", "b"], ""]]), "|a b||\n|---|---|\n\n"),
            (
                table([["1", "2", "3"], ["merged"], ["4", "5", "6"]]),
                "|1|2|3|\n|---|---|---|\n|merged|||\n|4|5|6|\n\n",
            ),
            (table([["a", "b"]], cells_per_row=[3]), "|a|b||\n|---|---|---|\n\n"),
            (
                table([["a", "b"], ["extra"]], table_payload=r.table_record(1, [2])),
                "|a|b|\n|---|---|\n\n",
            ),
            (
                table([[[paragraph("line", r.LINE_BREAK, "break")], "ends\\"]]),
                "|linebreak|ends\\|\n|---|---|\n\n",
            ),
            (table([["a"], []], cells_per_row=[1, 0]), "|a|\n|---|\n||\n\n"),
            (table([["x"]], table_payload=r.table_record(2, [])[:18]), "\n"),
            (table([["x"]], table_payload=r.table_record(0, [])), ""),
            (table([["x"]], table_payload=bytes(17)), ""),
        ],
        ids=[
            "2x2",
            "one-row",
            "one-column",
            "two-paragraph-cell",
            "merged-row",
            "missing-cell",
            "extra-cell-records",
            "line-break-and-backslash",
            "empty-row",
            "no-cell-counts",
            "zero-rows",
            "short-table-record",
        ],
    )
    def test_table_shapes(self, convert, tbl, expected):
        text = convert(section("before", paragraph(controls=[tbl]), "after"))
        assert text == f"before\n\n{expected}after"

    def test_cell_text_is_escaped(self, convert):
        cell = paragraph(
            "a|b ", field_text("v"), controls=[click_here("n", "line\nfeed", modified=True)]
        )
        doc = section(paragraph(controls=[table([[cell]])]))
        assert convert(doc) == "|a\\|b {{n: line feed --> v}}|\n|---|"

    def test_nested_table_folds_into_the_cell(self, convert):
        inner = table([["a", ""], ["c", "d"]])
        doc = section(paragraph(controls=[table([[paragraph("x", controls=[inner]), "y"]])]))
        assert convert(doc) == "|x a c d|y|\n|---|---|"

    @pytest.mark.parametrize("levels, expected", [(4, "t0 t1 t2 t3"), (5, "t0 t1 t2 t3")])
    def test_nesting_depth(self, convert, levels, expected):
        cell = "t%d" % (levels - 1)
        nested = table([[cell]])
        for depth in range(levels - 2, -1, -1):
            nested = table([[paragraph("t%d" % depth, controls=[nested])]])
        assert convert(section(paragraph(controls=[nested]))) == f"|{expected}|\n|---|"

    def test_controls_inside_cells(self, convert):
        cell = [
            paragraph("a", controls=[equation("x+y")]),
            paragraph("b", controls=[picture(["pic caption"])]),
            paragraph("c", controls=[text_box(["box text"])]),
            paragraph("d", controls=[footnote(["note"])]),
        ]
        assert convert(section(paragraph(controls=[table([[cell]])]))) == "|a b c d|\n|---|"

    def test_click_here_field_inside_a_cell(self, convert):
        cell = paragraph(
            "Name: ", field_text("Kim"), controls=[click_here("who", "enter a name", True)]
        )
        doc = section(paragraph(controls=[table([[cell, "x"]])]))
        assert convert(doc) == "|Name: {{who: enter a name --> Kim}}|x|\n|---|---|"

    def test_table_at_the_end_of_the_document(self, convert):
        assert convert(section("p", paragraph(controls=[table([["h"], ["v"]])]))) == (
            "p\n\n|h|\n|---|\n|v|"
        )

    def test_table_declaring_billions_of_cells_is_refused(self, tmp_path):
        bomb = body_records(
            r.record(r.CTRL_HEADER, 1, r.ctrl_header(r.TBL)),
            r.record(r.TABLE, 2, struct.pack("<IHH10sH", 0, 65535, 65535, bytes(10), 65535)),
        )
        path = write_document(tmp_path / "bomb.hwp", [section("a", bomb)])
        with pytest.raises(RuntimeError) as info:
            _paravox.hwp_to_markdown(path)
        assert info.value.args == (CEILING_MESSAGE,)


class TestAssemblyAndTrimming:
    def test_example_document(self, convert):
        doc = section(
            "One",
            "Two",
            paragraph(controls=[equation(" x ")]),
            paragraph(controls=[picture(["Map"])]),
        )
        assert convert(doc) == "One\n\nTwo\n\n$$\nx\n$$\n\n[이미지: Map]"

    def test_single_paragraph_has_no_trailing_line_feed(self, convert):
        assert convert(section("Hello")) == "Hello"

    @pytest.mark.parametrize(
        "text, expected",
        [
            ("  lead and trail  ", "lead and trail"),
            ("ideographic\u3000", "ideographic"),
            ("no-break\u00a0", "no-break"),
            ("inner\u00a0space", "inner\u00a0space"),
            ("zero width\u200b", "zero width\u200b"),
            ("*not* _escaped_ | #", "*not* _escaped_ | #"),
        ],
    )
    def test_paragraph_trimming(self, convert, text, expected):
        assert convert(section(text)) == expected

    def test_whitespace_only_document_is_empty(self, convert):
        assert convert(section(paragraph(" "), paragraph("\u3000"))) == ""

    def test_empty_document(self, convert):
        assert convert(section()) == ""
