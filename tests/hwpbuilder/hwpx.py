"""HWPX packages (a ZIP of XML parts) built from readable parts, in the shapes the word
processor writes.

A package is `mimetype` (stored, first), `version.xml`, `META-INF/container.xml`,
`META-INF/manifest.xml`, `Contents/content.hpf` (manifest and spine naming the parts and
their order), `Contents/header.xml` and one `Contents/sectionN.xml` per section. Section
parts are trees of `El` nodes serialised with the prefixes and namespace year chosen by
`Names`, so a test can write `<p:sec>` under the 2016 namespaces as easily as `<hs:sec>`.

    doc = hwpx_package([section(paragraph("첫 문단"), paragraph(click_here("이름", "입력", "홍")))])
    data = doc.to_bytes()

Damage is applied to the `Package` before writing it: replace, drop or rename parts, store
raw compressed bytes, or let `write_zip` lie in its central directory.
"""

from __future__ import annotations

import struct
import zlib
from dataclasses import dataclass, field, replace
from typing import Iterable, Sequence, Union

from .document import CellAt, Definitions

MIMETYPE = b"application/hwp+zip"

# Namespace keys used by the element builders, with the part of the URI after the year.
NAMESPACES = {
    "hp": "paragraph",
    "hs": "section",
    "hc": "core",
    "hh": "head",
}


@dataclass(frozen=True)
class Names:
    """Prefixes and namespace year of the XML parts. `prefixes` maps a key of NAMESPACES to
    the prefix written; an empty prefix makes that namespace the default one."""

    year: int = 2011
    prefixes: tuple[tuple[str, str], ...] = ()

    def prefix(self, key: str) -> str:
        return dict(self.prefixes).get(key, key)

    def uri(self, key: str) -> str:
        return f"http://www.hancom.co.kr/hwpml/{self.year}/{NAMESPACES[key]}"

    def qname(self, key: str, local: str) -> str:
        prefix = self.prefix(key)
        return f"{prefix}:{local}" if prefix else local

    def declarations(self) -> str:
        out = []
        for key in NAMESPACES:
            prefix = self.prefix(key)
            attr = f"xmlns:{prefix}" if prefix else "xmlns"
            out.append(f' {attr}="{self.uri(key)}"')
        return "".join(out)


def escape(text: str, quote: bool = False) -> str:
    text = text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return text.replace('"', "&quot;") if quote else text


@dataclass
class Raw:
    """Text written into the XML verbatim (for damage: broken markup, entity references)."""

    text: str


Node = Union["El", str, Raw]


@dataclass
class El:
    """One element: namespace key, local name, attributes, children (elements, text, Raw)."""

    ns: str
    name: str
    attrs: dict[str, str] = field(default_factory=dict)
    children: list[Node] = field(default_factory=list)

    def write(self, names: Names, out: list[str], root: bool = False) -> None:
        tag = names.qname(self.ns, self.name)
        out.append(f"<{tag}")
        if root:
            out.append(names.declarations())
        for key, value in self.attrs.items():
            out.append(f' {key}="{escape(value, quote=True)}"')
        if not self.children:
            out.append("/>")
            return
        out.append(">")
        for child in self.children:
            if isinstance(child, El):
                child.write(names, out)
            elif isinstance(child, Raw):
                out.append(child.text)
            else:
                out.append(escape(child))
        out.append(f"</{tag}>")


def xml_part(root: El, names: Names = Names(), doctype: str = "") -> bytes:
    """The part's bytes: XML declaration, `doctype` (verbatim), then the root element with the
    namespace declarations."""
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>', doctype]
    root.write(names, out, root=True)
    return "".join(out).encode("utf-8")


def hp(name: str, attrs: dict[str, str] | None = None, *children: Node) -> El:
    return El("hp", name, dict(attrs or {}), list(children))


# --- inline content --------------------------------------------------------------------------


def text(value: str) -> El:
    """An hp:t element; a tab becomes hp:tab and a line feed hp:lineBreak, as the word
    processor writes them."""
    t = hp("t")
    piece = ""
    for ch in value:
        if ch in "\t\n":
            if piece:
                t.children.append(piece)
                piece = ""
            if ch == "\t":
                t.children.append(
                    hp("tab", {"width": "4000", "leader": "0", "type": "1"})
                )
            else:
                t.children.append(hp("lineBreak"))
        else:
            piece += ch
    if piece:
        t.children.append(piece)
    return t


def _utf16_len(value: str) -> int:
    return len(value.encode("utf-16-le")) // 2


def click_here_command(guide: str, memo: str = "") -> str:
    """The field's Command parameter: 'Clickhere:set:N:' then the guide text and memo as
    length-prefixed wstring values. N counts the rest but its last space, as the word
    processor counts it."""
    rest = (
        f"Direction:wstring:{_utf16_len(guide)}:{guide} "
        f"HelpState:wstring:{_utf16_len(memo)}:{memo} "
    )
    return f"Clickhere:set:{_utf16_len(rest)}:{rest} "


_field_ids = iter(range(1_300_000_000, 2_000_000_000))


@dataclass
class ClickHere:
    """A click-here field: name, guide text, the value shown in it, and whether its contents
    were modified (the `dirty` attribute). `command` replaces the Command parameter whole.
    """

    name: str
    guide: str = ""
    value: str = ""
    modified: bool = True
    memo: str = ""
    command: str | None = None
    prop: int = 9

    def items(self) -> list[El]:
        field_id = str(next(_field_ids))
        command = (
            self.command
            if self.command is not None
            else click_here_command(self.guide, self.memo)
        )
        params = hp(
            "parameters",
            {"cnt": "2", "name": ""},
            hp("integerParam", {"name": "Prop"}, str(self.prop)),
            hp("stringParam", {"name": "Command", "xml:space": "preserve"}, command),
        )
        begin = hp(
            "fieldBegin",
            {
                "id": field_id,
                "type": "CLICK_HERE",
                "name": self.name,
                "editable": "1",
                "dirty": "1" if self.modified else "0",
                "zorder": "-1",
                "fieldid": "627272811",
            },
            params,
        )
        end = hp("fieldEnd", {"beginIDRef": field_id, "fieldid": "627272811"})
        items = [hp("ctrl", {}, begin)]
        if self.value:
            items.append(text(self.value))
        items.append(hp("ctrl", {}, end))
        return items


def click_here(name: str, guide: str = "", value: str = "", **kwargs) -> ClickHere:
    return ClickHere(name, guide, value, **kwargs)


# --- objects ---------------------------------------------------------------------------------

_object_ids = iter(range(1_000_000_000, 1_300_000_000))


def _object_attrs(numbering: str) -> dict[str, str]:
    return {
        "id": str(next(_object_ids)),
        "zOrder": "0",
        "numberingType": numbering,
        "textWrap": "TOP_AND_BOTTOM",
        "textFlow": "BOTH_SIDES",
        "lock": "0",
        "dropcapstyle": "None",
    }


def _placement(width: int = 20000, height: int = 5000) -> list[El]:
    return [
        hp(
            "sz",
            {
                "width": str(width),
                "widthRelTo": "ABSOLUTE",
                "height": str(height),
                "heightRelTo": "ABSOLUTE",
                "protect": "0",
            },
        ),
        hp(
            "pos",
            {
                "treatAsChar": "1",
                "affectLSpacing": "0",
                "flowWithText": "1",
                "allowOverlap": "0",
                "holdAnchorAndSO": "0",
                "vertRelTo": "PARA",
                "horzRelTo": "PARA",
                "vertAlign": "TOP",
                "horzAlign": "LEFT",
                "vertOffset": "0",
                "horzOffset": "0",
            },
        ),
        hp("outMargin", {"left": "0", "right": "0", "top": "0", "bottom": "0"}),
    ]


def sub_list(paragraphs: Sequence["ParagraphLike"]) -> El:
    return hp(
        "subList",
        {
            "id": "",
            "textDirection": "HORIZONTAL",
            "lineWrap": "BREAK",
            "vertAlign": "TOP",
            "linkListIDRef": "0",
            "linkListNextIDRef": "0",
            "textWidth": "0",
            "textHeight": "0",
            "hasTextRef": "0",
            "hasNumRef": "0",
        },
        *[as_paragraph(p) for p in paragraphs],
    )


def caption_element(caption: "ParagraphLike | Sequence[ParagraphLike]", side: str = "BOTTOM") -> El:
    paragraphs = [caption] if isinstance(caption, (str, El)) else list(caption)
    return hp(
        "caption",
        {
            "side": side,
            "fullSz": "0",
            "width": "8504",
            "gap": "850",
            "lastWidth": "20000",
        },
        sub_list(paragraphs),
    )


def _with_caption(children: list[El], caption, side: str = "BOTTOM") -> list[El]:
    return children + ([caption_element(caption, side)] if caption is not None else [])


def table(
    rows: Sequence[Sequence["Cell"]],
    *,
    caption=None,
    caption_side: str = "BOTTOM",
    cols: int | None = None,
    row_count: int | None = None,
) -> El:
    """A table; each cell is a text, a paragraph, a nested table or a list of those (the
    cell's paragraphs; a table is anchored in a paragraph of its own), or a `CellAt` giving
    its own address, spans and header mark (a plain cell's address is its place in `rows`).
    `cols` and `row_count` override the declared size."""
    cols = cols if cols is not None else max((len(r) for r in rows), default=0)
    attrs = _object_attrs("TABLE")
    attrs.update(
        {
            "pageBreak": "CELL",
            "repeatHeader": "1",
            "rowCnt": str(row_count if row_count is not None else len(rows)),
            "colCnt": str(cols),
            "cellSpacing": "0",
            "borderFillIDRef": "3",
            "noAdjust": "0",
        }
    )
    children = _with_caption(_placement(), caption, caption_side)
    children.append(
        hp("inMargin", {"left": "510", "right": "510", "top": "141", "bottom": "141"})
    )
    for r, row in enumerate(rows):
        tr = hp("tr")
        for c, item in enumerate(row):
            at = item if isinstance(item, CellAt) else CellAt(item, r, c)
            content = at.content if isinstance(at.content, list) else [at.content]
            tr.children.append(
                hp(
                    "tc",
                    {
                        "name": "",
                        "header": "1" if at.header else "0",
                        "hasMargin": "0",
                        "protect": "0",
                        "editable": "0",
                        "dirty": "0",
                        "borderFillIDRef": "3",
                    },
                    sub_list(content),
                    hp("cellAddr", {"colAddr": str(at.col), "rowAddr": str(at.row)}),
                    hp("cellSpan", {"colSpan": str(at.col_span), "rowSpan": str(at.row_span)}),
                    hp("cellSz", {"width": "10000", "height": "1000"}),
                    hp(
                        "cellMargin",
                        {"left": "510", "right": "510", "top": "141", "bottom": "141"},
                    ),
                )
            )
        children.append(tr)
    return hp("tbl", attrs, *children)


def picture(*, caption=None, image_id: str = "image1") -> El:
    attrs = _object_attrs("PICTURE")
    attrs.update({"href": "", "groupLevel": "0", "instid": attrs["id"], "reverse": "0"})
    children = [
        hp("offset", {"x": "0", "y": "0"}),
        hp("orgSz", {"width": "20000", "height": "5000"}),
        hp("curSz", {"width": "0", "height": "0"}),
        hp("imgRect", {}),
        hp("imgClip", {"left": "0", "right": "0", "top": "0", "bottom": "0"}),
        hp("inMargin", {"left": "0", "right": "0", "top": "0", "bottom": "0"}),
        El(
            "hc",
            "img",
            {
                "binaryItemIDRef": image_id,
                "bright": "0",
                "contrast": "0",
                "effect": "REAL_PIC",
                "alpha": "0",
            },
        ),
    ]
    children += _with_caption(_placement(), caption)
    children.append(hp("shapeComment", {}, "그림입니다."))
    return hp("pic", attrs, *children)


def equation(script: str, *, caption=None) -> El:
    attrs = _object_attrs("EQUATION")
    attrs.update(
        {
            "version": "Equation Version 60",
            "baseLine": "86",
            "textColor": "#000000",
            "baseUnit": "1000",
            "lineMode": "CHAR",
            "font": "HancomEQN",
        }
    )
    children = _with_caption(_placement(), caption)
    children += [
        hp("shapeComment", {}, "수식입니다."),
        hp("script", {}, script) if script else hp("script"),
    ]
    return hp("equation", attrs, *children)


def text_box(paragraphs: Sequence["ParagraphLike"], *, caption=None) -> El:
    """A rectangle holding text (hp:drawText)."""
    attrs = _object_attrs("PICTURE")
    attrs.update({"href": "", "groupLevel": "0", "instid": attrs["id"], "ratio": "0"})
    children = [
        hp("offset", {"x": "0", "y": "0"}),
        hp("orgSz", {"width": "20000", "height": "5000"}),
        hp("curSz", {"width": "0", "height": "0"}),
        hp(
            "drawText",
            {"lastWidth": "20000", "name": "", "editable": "0"},
            sub_list(paragraphs),
            hp(
                "textMargin",
                {"left": "283", "right": "283", "top": "283", "bottom": "283"},
            ),
        ),
    ]
    for k, (x, y) in enumerate([(0, 0), (20000, 0), (20000, 5000), (0, 5000)]):
        children.append(El("hc", f"pt{k}", {"x": str(x), "y": str(y)}))
    children += _with_caption(_placement(), caption)
    children.append(hp("shapeComment", {}, "사각형입니다."))
    return hp("rect", attrs, *children)


def group(*shapes: El) -> El:
    """A group of drawing objects (hp:container), which may hold groups."""
    attrs = _object_attrs("PICTURE")
    attrs.update({"href": "", "groupLevel": "0", "instid": attrs["id"]})
    return hp("container", attrs, *shapes)


def text_art(value: str) -> El:
    """Text art; line ends are written as the symbols for carriage return and line feed."""
    attrs = _object_attrs("PICTURE")
    attrs.update({"text": value.replace("\n", "\u240d\u240a")})
    return hp("textart", attrs, *_placement())


def layer(name: str, paragraphs: Sequence["ParagraphLike"], **attrs: str) -> El:
    """A control holding a list of paragraphs: hp:footNote, hp:endNote, hp:header, hp:footer
    or hp:hiddenComment, in its hp:ctrl."""
    return hp("ctrl", {}, hp(name, attrs, sub_list(paragraphs)))


def memo(paragraphs: Sequence["ParagraphLike"]) -> list[El]:
    """A memo: an hp:fieldBegin of type MEMO holding its paragraphs, and its hp:fieldEnd."""
    begin = hp("fieldBegin", {"id": "1", "type": "MEMO", "name": ""}, sub_list(paragraphs))
    return [hp("ctrl", {}, begin), hp("ctrl", {}, hp("fieldEnd", {"beginIDRef": "1"}))]


# --- paragraphs and sections -----------------------------------------------------------------

Inline = Union[str, ClickHere, El, Raw]
ParagraphLike = Union[str, El]
Cell = Union[ParagraphLike, CellAt, Sequence[ParagraphLike]]


def run(*items: Inline, char_shape: int = 0) -> El:
    """An hp:run: texts, fields, and objects (tables, pictures, equations, text boxes)."""
    out = hp("run", {"charPrIDRef": str(char_shape)})
    for item in items:
        if isinstance(item, str):
            out.children.append(text(item))
        elif isinstance(item, ClickHere):
            out.children.extend(item.items())
        else:
            out.children.append(item)
    return out


def paragraph(*items: Inline | El, shape: int = 0, style: int = 0) -> El:
    """An hp:p of paragraph shape `shape` and style `style`; runs are kept, anything else goes
    into one run with the items around it."""
    p = hp(
        "p",
        {
            "id": "0",
            "paraPrIDRef": str(shape),
            "styleIDRef": str(style),
            "pageBreak": "0",
            "columnBreak": "0",
            "merged": "0",
        },
    )
    pending: list[Inline] = []
    for item in items:
        if isinstance(item, El) and item.ns == "hp" and item.name == "run":
            if pending:
                p.children.append(run(*pending))
                pending = []
            p.children.append(item)
        else:
            pending.append(item)
    if pending or not p.children:
        p.children.append(run(*pending))
    return p


def as_paragraph(item: ParagraphLike) -> El:
    if isinstance(item, El) and item.ns == "hp" and item.name == "p":
        return item
    return paragraph(item)


def section_properties() -> list[El]:
    """What the word processor puts first in a section's first run: the section definition
    and the column definition."""
    sec_pr = hp(
        "secPr",
        {
            "id": "",
            "textDirection": "HORIZONTAL",
            "spaceColumns": "1134",
            "tabStop": "8000",
            "outlineShapeIDRef": "1",
            "memoShapeIDRef": "0",
            "textVerticalWidthHead": "0",
            "masterPageCnt": "0",
        },
        hp(
            "pagePr",
            {
                "landscape": "WIDELY",
                "width": "59528",
                "height": "84186",
                "gutterType": "LEFT_ONLY",
            },
        ),
    )
    col_pr = hp(
        "colPr",
        {
            "id": "",
            "type": "NEWSPAPER",
            "layout": "LEFT",
            "colCount": "1",
            "sameSz": "1",
            "sameGap": "0",
        },
    )
    return [sec_pr, hp("ctrl", {}, col_pr)]


def section(*paragraphs: ParagraphLike, properties: bool = True) -> El:
    """An hs:sec. With `properties`, the section definition opens the first paragraph's
    first run (in a paragraph of its own when the first paragraph has none)."""
    body = [as_paragraph(p) for p in paragraphs]
    if properties:
        first = body[0] if body else paragraph()
        if not body:
            body.append(first)
        runs = [c for c in first.children if isinstance(c, El) and c.name == "run"]
        runs[0].children[0:0] = section_properties()
    return El("hs", "sec", {}, body)


def definition_lists(definitions: Definitions) -> list[El]:
    """header.xml's lists of `definitions`, for its hh:refList."""
    def listed(name: str, items: list[El]) -> El:
        return El("hh", name, {"itemCnt": str(len(items))}, items)

    numberings = [
        El("hh", "numbering", {"id": str(i + 1), "start": "0"}, [
            El("hh", "paraHead", {"start": str(start), "level": str(k + 1), "numFormat": kind},
               [fmt])
            for k, (fmt, kind, start) in enumerate(levels)
        ])
        for i, levels in enumerate(definitions.numberings)
    ]
    bullets = [El("hh", "bullet", {"id": str(i + 1), "char": c})
               for i, c in enumerate(definitions.bullets)]
    shapes = [
        El("hh", "paraPr", {"id": str(i)}, [
            El("hh", "heading", {"type": head, "idRef": str(head_id), "level": str(level)})
        ])
        for i, (head, level, head_id) in enumerate(definitions.para_shapes)
    ]
    styles = [El("hh", "style", {"id": str(i), "type": "PARA", "name": name, "engName": "",
                                 "paraPrIDRef": str(shape)})
              for i, (name, shape) in enumerate(definitions.styles)]
    return [listed("numberings", numberings), listed("bullets", bullets),
            listed("paraProperties", shapes), listed("styles", styles)]


def header_part(section_count: int, definitions: Definitions | None = None) -> El:
    return El(
        "hh",
        "head",
        {"version": "1.4", "secCnt": str(section_count)},
        [
            El(
                "hh",
                "beginNum",
                {
                    "page": "1",
                    "footnote": "1",
                    "endnote": "1",
                    "pic": "1",
                    "tbl": "1",
                    "equation": "1",
                },
            ),
            El("hh", "refList", {}, definition_lists(definitions) if definitions else []),
        ],
    )


# --- the package -----------------------------------------------------------------------------


@dataclass
class Entry:
    """One ZIP entry. `data` is the uncompressed content; `stored` (when given) is written as
    the entry's compressed bytes instead of compressing `data`, with `data` still giving the
    declared size and CRC unless `size` or `crc` say otherwise."""

    name: str
    data: bytes
    compress: bool = True
    stored: bytes | None = None
    size: int | None = None
    crc: int | None = None

    def payload(self) -> bytes:
        if self.stored is not None:
            return self.stored
        return deflate_raw(self.data) if self.compress else self.data


def deflate_raw(data: bytes, level: int = 6) -> bytes:
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def content_hpf(
    section_names: Sequence[str],
    spine: Sequence[str] | None = None,
    binaries: Sequence[tuple[str, str, str]] = (),
    title: str = "",
    meta: dict[str, str] | None = None,
) -> bytes:
    """Contents/content.hpf: `title` and an opf:meta per item of `meta` ("creator": "...",
    "CreatedDate": "2024-05-01T09:30:00Z", ...), a manifest item per part and a spine in the
    given order (by default the header, then every section); `binaries` adds an embedded item
    per (id, href, media type), outside the spine."""
    items = [("header", "Contents/header.xml")]
    items += [
        (name.rsplit("/", 1)[-1].removesuffix(".xml"), name) for name in section_names
    ]
    order = spine if spine is not None else [i for i, _ in items]
    manifest = "".join(
        f'<opf:item id="{i}" href="{escape(h, True)}" media-type="application/xml"/>'
        for i, h in items
    ) + "".join(
        f'<opf:item id="{escape(i, True)}" href="{escape(h, True)}" '
        f'media-type="{escape(m, True)}" isEmbeded="1"/>'
        for i, h, m in binaries
    )
    refs = "".join(
        f'<opf:itemref idref="{escape(i, True)}" linear="yes"/>' for i in order
    )
    return (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>'
        '<opf:package xmlns:opf="http://www.idpf.org/2007/opf/" version="" '
        f'unique-identifier="" id=""><opf:metadata><opf:title>{escape(title)}</opf:title>'
        + "".join(
            f'<opf:meta name="{escape(k, True)}" content="text">{escape(v)}</opf:meta>'
            for k, v in (meta or {}).items()
        )
        + "</opf:metadata>"
        f"<opf:manifest>{manifest}</opf:manifest><opf:spine>{refs}</opf:spine>"
        "</opf:package>"
    ).encode("utf-8")


CONTAINER_XML = (
    b'<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>'
    b'<ocf:container xmlns:ocf="urn:oasis:names:tc:opendocument:xmlns:container">'
    b'<ocf:rootfiles><ocf:rootfile full-path="Contents/content.hpf" '
    b'media-type="application/hwpml-package+xml"/></ocf:rootfiles></ocf:container>'
)
MANIFEST_XML = (
    b'<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>'
    b'<odf:manifest xmlns:odf="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"/>'
)
VERSION_XML = (
    b'<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>'
    b'<hv:HCFVersion xmlns:hv="http://www.hancom.co.kr/hwpml/2011/version" '
    b'tagetApplication="WORDPROCESSOR" major="5" minor="1" micro="0" buildNumber="0" '
    b'os="1" xmlVersion="1.4" application="Hancom Office Hangul"/>'
)


@dataclass
class Package:
    """The entries of an HWPX package in write order, editable before `to_bytes`."""

    entries: list[Entry]

    def __getitem__(self, name: str) -> Entry:
        for entry in self.entries:
            if entry.name == name:
                return entry
        raise KeyError(name)

    def replace(self, entry_name: str, /, **changes) -> "Package":
        """Change the fields of entry `entry_name` (data, compress, stored, size, crc, name)."""
        self.entries = [
            replace(e, **changes) if e.name == entry_name else e for e in self.entries
        ]
        return self

    def drop(self, name: str) -> "Package":
        self[name]  # a typo in a test must not pass as a dropped part
        self.entries = [e for e in self.entries if e.name != name]
        return self

    def to_bytes(self) -> bytes:
        return write_zip(self.entries)


def hwpx_package(
    sections: Iterable[El | bytes],
    *,
    names: Names = Names(),
    compress: bool = True,
    spine: Sequence[str] | None = None,
    mimetype: bytes = MIMETYPE,
    mimetype_compressed: bool = False,
    binaries: Sequence[tuple[str, str, bytes, bool]] = (),
    definitions: Definitions | None = None,
    title: str = "",
    meta: dict[str, str] | None = None,
) -> Package:
    """A package holding `sections` (elements, or bytes written as the part verbatim) as
    Contents/section0.xml and on. `spine` gives the spine's idrefs ("header", "section0", ...)
    in order, possibly naming one part several times. `binaries` adds an embedded item per
    (id, file name, data, compressed): BinData/<file name>, listed in the manifest.
    `definitions` go into header.xml, `title` and `meta` into content.hpf."""
    parts = [s if isinstance(s, bytes) else xml_part(s, names) for s in sections]
    section_names = [f"Contents/section{k}.xml" for k in range(len(parts))]
    entries = [
        Entry("mimetype", mimetype, compress=mimetype_compressed),
        Entry("version.xml", VERSION_XML, compress=False),
        Entry(
            "Contents/header.xml",
            xml_part(header_part(len(parts), definitions), names),
            compress,
        ),
    ]
    entries += [Entry(n, p, compress) for n, p in zip(section_names, parts)]
    entries += [
        Entry("META-INF/container.xml", CONTAINER_XML, compress),
        Entry(
            "Contents/content.hpf",
            content_hpf(
                section_names,
                spine,
                [(i, f"BinData/{n}", f"image/{n.rsplit('.', 1)[-1]}") for i, n, _, _ in binaries],
                title,
                meta,
            ),
            compress,
        ),
        Entry("META-INF/manifest.xml", MANIFEST_XML, compress),
    ]
    entries += [Entry(f"BinData/{n}", d, c) for _, n, d, c in binaries]
    return Package(entries)


def hwpx_document(sections: Iterable[El | bytes], **kwargs) -> bytes:
    return hwpx_package(sections, **kwargs).to_bytes()


# --- ZIP -------------------------------------------------------------------------------------


@dataclass(frozen=True)
class ZipLayout:
    """Where `write_zip` put things: local header offsets per entry, and the central
    directory's offset, size and the offsets of its records."""

    local_offsets: tuple[int, ...]
    central_offset: int
    central_size: int
    central_records: tuple[int, ...]
    end_offset: int


def zip_records(entries: Sequence[Entry]) -> tuple[bytes, list[bytes], list[int]]:
    """Local headers with their data, as one byte string, and the matching central directory
    records (each pointing at its local header), without the end record."""
    body = bytearray()
    central: list[bytes] = []
    offsets: list[int] = []
    for entry in entries:
        name = entry.name.encode("utf-8")
        payload = entry.payload()
        method = 8 if (entry.compress or entry.stored is not None) else 0
        crc = entry.crc if entry.crc is not None else zlib.crc32(entry.data)
        size = entry.size if entry.size is not None else len(entry.data)
        flags = 0x800  # names are UTF-8
        offsets.append(len(body))
        body += struct.pack(
            "<IHHHHHIIIHH",
            0x04034B50,
            20,
            flags,
            method,
            0,
            0x21,
            crc,
            len(payload),
            size,
            len(name),
            0,
        )
        body += name + payload
        central.append(
            struct.pack(
                "<IHHHHHHIIIHHHHHII",
                0x02014B50,
                20,
                20,
                flags,
                method,
                0,
                0x21,
                crc,
                len(payload),
                size,
                len(name),
                0,
                0,
                0,
                0,
                0,
                offsets[-1],
            )
            + name
        )
    return bytes(body), central, offsets


def end_record(count: int, central_size: int, central_offset: int) -> bytes:
    """The end of central directory record; past 65,535 entries it is preceded by the ZIP64
    end record and its locator, and its own fields hold the "see ZIP64" values."""
    if count <= 0xFFFF:
        return struct.pack(
            "<IHHHHIIH", 0x06054B50, 0, 0, count, count, central_size, central_offset, 0
        )
    zip64_at = central_offset + central_size
    zip64 = struct.pack(
        "<IQHHIIQQQQ",
        0x06064B50,
        44,
        45,
        45,
        0,
        0,
        count,
        count,
        central_size,
        central_offset,
    )
    locator = struct.pack("<IIQI", 0x07064B50, 0, zip64_at, 1)
    return (
        zip64
        + locator
        + struct.pack(
            "<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0
        )
    )


def write_zip(entries: Sequence[Entry], layout: list[ZipLayout] | None = None) -> bytes:
    """A ZIP archive of `entries` in order; `layout`, when given, receives a ZipLayout."""
    body, central, offsets = zip_records(entries)
    directory = b"".join(central)
    out = body + directory + end_record(len(central), len(directory), len(body))
    if layout is not None:
        starts, at = [], len(body)
        for record in central:
            starts.append(at)
            at += len(record)
        layout.append(
            ZipLayout(
                tuple(offsets),
                len(body),
                len(directory),
                tuple(starts),
                len(body) + len(directory),
            )
        )
    return out
