"""An independent check of tables in the full profile's Markdown.

It reads every table straight from the file (binary records or HWPX XML, through the tests'
own compound-file reader and no call into paravox), computes where each cell must be drawn once
the rows and columns without content are left out, parses the rendered pipe and HTML tables
back, and checks that each cell's own text stands at its own row and column with its spans.
Tables whose geometry is not sound (addresses that do not tile the declared grid, a cell
count the rows do not declare) are only checked for keeping all their text.
"""

from __future__ import annotations

import html.parser
import itertools
import re
import struct
import zipfile
import zlib
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field

from cfb_reader import CfbReader

# --- what a table is, read from either format --------------------------------------------------


@dataclass
class Cell:
    row: int
    col: int
    row_span: int
    col_span: int
    listed_row: int
    texts: list[str] = field(default_factory=list)  # own text outside fields, in pieces
    has_content: bool = False  # renders something (text, field, equation, picture, table)
    tables: list["Table"] = field(default_factory=list)  # nested, in order


@dataclass
class Table:
    rows: int
    cols: int
    cells: list[Cell]
    listing_agrees: bool

    def sound(self) -> bool:
        if not self.listing_agrees:
            return False
        if not self.cells:
            return True
        if self.rows * self.cols > 4_000_000:
            return False
        covered: set[tuple[int, int]] = set()
        for c in self.cells:
            if c.row_span < 1 or c.col_span < 1:
                return False
            if c.row + c.row_span > self.rows or c.col + c.col_span > self.cols:
                return False
            for r in range(c.row, c.row + c.row_span):
                for k in range(c.col, c.col + c.col_span):
                    if (r, k) in covered:
                        return False
                    covered.add((r, k))
        return len(covered) == self.rows * self.cols

    def content(self) -> bool:
        return any(c.has_content for c in self.cells)

    def placed(self) -> list[tuple[Cell, int, int, int, int]]:
        """(cell, row, col, row_span, col_span) once the empty rows and columns are left out;
        in record order (one row and column each) when the geometry is not sound."""
        if self.sound():
            boxes = [(c, c.row, c.col, c.row_span, c.col_span) for c in self.cells]
        else:
            boxes, column, previous = [], 0, None
            for c in self.cells:
                column = 0 if c.listed_row != previous else column
                boxes.append((c, c.listed_row, column, 1, 1))
                previous, column = c.listed_row, column + 1
        kept_rows = {r for c, r0, _, rs, _ in boxes if c.has_content for r in range(r0, r0 + rs)}
        kept_cols = {k for c, _, k0, _, ks in boxes if c.has_content for k in range(k0, k0 + ks)}
        row_at = {r: i for i, r in enumerate(sorted(kept_rows))}
        col_at = {k: i for i, k in enumerate(sorted(kept_cols))}
        out = []
        for c, r0, k0, rs, ks in boxes:
            rows = [row_at[r] for r in range(r0, r0 + rs) if r in row_at]
            cols = [col_at[k] for k in range(k0, k0 + ks) if k in col_at]
            if rows and cols:
                out.append((c, rows[0], cols[0], len(rows), len(cols)))
        return out


def shown_tables(tables: list[Table]) -> list[Table]:
    """The tables that show as tables: a table left with one cell gives that cell's content
    instead (and the tables in it), one left with none gives nothing."""
    out = []
    for t in tables:
        placed = t.placed()
        if len(placed) > 1:
            out.append(t)
        elif len(placed) == 1:
            out.extend(shown_tables(placed[0][0].tables))
    return out


# --- binary documents ----------------------------------------------------------------------------

MAX_DEPTH = 3  # tables nested deeper are left out


def hwp_sections(data: bytes) -> list[list[tuple[int, int, bytes]]]:
    """Each body section's records (tag, level, payload), up to the first unreadable one."""
    container = CfbReader(data)
    compressed = struct.unpack_from("<I", container.stream("FileHeader"), 36)[0] & 1
    sections = []
    while True:
        try:
            raw = container.stream(f"BodyText/Section{len(sections)}")
        except KeyError:
            break
        if compressed:
            try:
                raw = zlib.decompressobj(-15).decompress(raw)
            except zlib.error:
                break
        records, p = [], 0
        while p + 4 <= len(raw):
            (header,) = struct.unpack_from("<I", raw, p)
            p += 4
            size = header >> 20
            if size == 0xFFF:
                if p + 4 > len(raw):
                    break
                (size,) = struct.unpack_from("<I", raw, p)
                p += 4
            if p + size > len(raw):
                break
            records.append((header & 0x3FF, (header >> 10) & 0x3FF, raw[p : p + size]))
            p += size
        sections.append(records)
    return sections


PARA_TEXT, CTRL_HEADER, LIST_HEADER, TABLE, EQEDIT, PICTURE = 67, 71, 72, 77, 88, 85
TBL, GSO, EQED, CLK = (int.from_bytes(n, "big") for n in (b"tbl ", b"gso ", b"eqed", b"%clk"))
WIDE_CONTROLS = set(range(1, 10)) | {11, 12} | set(range(14, 24))


def ctrl_id(payload: bytes) -> int:
    return struct.unpack_from("<I", payload)[0] if len(payload) >= 4 else 0


def para_pieces(payload: bytes) -> tuple[list[str], bool]:
    """A paragraph's text outside click-here fields (whose content may not show), cut at every
    control character, and whether it holds a click-here field (whose name always shows). One
    click-here field is open at a time; the end of any field closes it."""
    pieces, piece, in_field, click_here = [], [], False, False
    units = struct.unpack_from(f"<{len(payload) // 2}H", payload)
    i = 0
    while i < len(units):
        u = units[i]
        if u >= 32:
            if not in_field:
                piece.append(u)
            i += 1
            continue
        pieces.append(piece)
        piece = []
        if u == 3 and i + 2 < len(units) and (units[i + 1] | units[i + 2] << 16) == CLK:
            in_field = click_here = True
        elif u == 4:
            in_field = False
        i += 8 if u in WIDE_CONTROLS else 1
    pieces.append(piece)
    texts = [struct.pack(f"<{len(p)}H", *p).decode("utf-16-le", "ignore").strip() for p in pieces]
    return [t for t in texts if t], click_here


def subtree_end(records, start: int, level: int) -> int:
    end = start
    while end < len(records) and records[end][1] > level:
        end += 1
    return end


def drawing_shows(records, start: int, end: int) -> bool:
    for tag, _, payload in records[start:end]:
        if tag == PICTURE and len(payload) >= 73:
            return True
        if tag == PARA_TEXT and any(para_pieces(payload)[0]):
            return True
    return False


def hwp_table(records, index: int, depth: int) -> tuple[Table | None, int]:
    """The table whose CTRL_HEADER is records[index], and the index after its records."""
    level = records[index][1]
    inner = level + 1
    end = subtree_end(records, index + 1, level)
    t = next((i for i in range(index + 1, end) if records[i][:2] == (TABLE, inner)), None)
    if t is None or len(records[t][2]) < 18:
        return None, end
    payload = records[t][2]
    rows, cols = struct.unpack_from("<HH", payload, 4)
    counts = [struct.unpack_from("<H", payload, 18 + 2 * k)[0]
              for k in range(min(rows, (len(payload) - 18) // 2))]
    starts = [i for i in range(t + 1, end) if records[i][:2] == (LIST_HEADER, inner)]
    listed = [k for k, n in enumerate(counts) for _ in range(n)]
    cells, agrees = [], len(starts) == sum(counts)
    for n, s in enumerate(starts):
        head = records[s][2]
        agrees &= len(head) >= 16
        col, row, col_span, row_span = struct.unpack_from("<4H", head, 8) if len(head) >= 16 else (0,) * 4
        cell = Cell(row, col, row_span, col_span, listed[n] if n < len(listed) else len(counts))
        stop = starts[n + 1] if n + 1 < len(starts) else end
        i = s + 1
        while i < stop:
            tag, lvl, body = records[i]
            if tag == PARA_TEXT and lvl == inner + 1:
                texts, click_here = para_pieces(body)
                cell.texts += texts
                cell.has_content |= bool(texts) or click_here
            elif tag == CTRL_HEADER and lvl == inner + 1:
                kind, after = ctrl_id(body), subtree_end(records, i + 1, lvl)
                if kind == TBL and depth < MAX_DEPTH:
                    nested, _ = hwp_table(records, i, depth + 1)
                    if nested is not None:
                        cell.tables.append(nested)
                        cell.has_content |= nested.content()
                elif kind == EQED:
                    cell.has_content |= any(r[0] == EQEDIT and len(r[2]) >= 6 and r[2][4:6] != b"\0\0"
                                            for r in records[i + 1 : after])
                elif kind == GSO:
                    cell.has_content |= drawing_shows(records, i + 1, after)
                i = after
                continue
            i += 1
        cells.append(cell)
    return (Table(rows, cols, cells, agrees) if cells else None), end


def hwp_tables(data: bytes) -> list[Table]:
    """The body's tables (at section paragraph level), in order."""
    tables = []
    for records in hwp_sections(data):
        i = 0
        while i < len(records):
            tag, level, payload = records[i]
            if tag == CTRL_HEADER and level == 1 and ctrl_id(payload) == TBL:
                table, i = hwp_table(records, i, 0)
                if table is not None:
                    tables.append(table)
            else:
                i += 1
    return tables


# --- HWPX documents ------------------------------------------------------------------------------

DRAWINGS = {"pic", "rect", "ellipse", "arc", "polygon", "curve", "line", "connectLine",
            "container", "ole", "textart", "video", "chart"}


def local(tag: str) -> str:
    return tag.rsplit("}", 1)[-1]


def child(element: ET.Element, name: str) -> ET.Element | None:
    return next((c for c in element if local(c.tag) == name), None)


def number(element: ET.Element | None, name: str, default: int | None) -> int | None:
    value = None if element is None else element.get(name)
    return int(value) if value is not None and value.isdigit() else default


def hwpx_paragraph(p: ET.Element, cell: Cell, depth: int) -> None:
    """A cell paragraph's own text pieces (outside fields) and controls."""
    piece: list[str] = []
    in_field = False

    def cut() -> None:
        text = "".join(piece).strip()
        if text:
            cell.texts.append(text)
            cell.has_content = True
        piece.clear()

    def text_of(t: ET.Element) -> None:
        if t.text and not in_field:
            piece.append(t.text)
        for mark in t:
            cut()
            if mark.tail and not in_field:
                piece.append(mark.tail)

    def control(element: ET.Element) -> None:
        nonlocal in_field
        name = local(element.tag)
        cut()
        if name == "fieldBegin" and element.get("type") == "CLICK_HERE":
            in_field = cell.has_content = True
        elif name == "fieldEnd":
            in_field = False
        elif name == "ctrl":
            for c in element:
                control(c)
        elif name == "tbl" and depth < MAX_DEPTH:
            nested = hwpx_table(element, depth + 1)
            if nested is not None:
                cell.tables.append(nested)
                cell.has_content |= nested.content()
        elif name == "equation":
            script = child(element, "script")
            cell.has_content |= script is not None and bool(script.text)
        elif name in DRAWINGS:
            pictures = [e for e in element.iter() if local(e.tag) == "pic"]
            texts = [e.text for e in element.iter() if local(e.tag) == "t" and (e.text or "").strip()]
            cell.has_content |= name == "pic" or bool(pictures) or bool(texts)

    for run in p:
        if local(run.tag) != "run":
            continue
        for item in run:
            if local(item.tag) == "t":
                text_of(item)
            else:
                control(item)
    cut()


def hwpx_table(tbl: ET.Element, depth: int) -> Table | None:
    rows_declared = number(tbl, "rowCnt", 0)
    cols_declared = number(tbl, "colCnt", 0)
    cells, agrees = [], True
    for listed, tr in enumerate(e for e in tbl if local(e.tag) == "tr"):
        for tc in (e for e in tr if local(e.tag) == "tc"):
            address, span = child(tc, "cellAddr"), child(tc, "cellSpan")
            col, row = number(address, "colAddr", None), number(address, "rowAddr", None)
            agrees &= col is not None and row is not None
            cell = Cell(row or 0, col or 0, number(span, "rowSpan", 1), number(span, "colSpan", 1), listed)
            # Tools also write a cell's paragraphs directly in it.
            sub_list = child(tc, "subList")
            for p in (e for e in (sub_list if sub_list is not None else tc) if local(e.tag) == "p"):
                hwpx_paragraph(p, cell, depth)
            cells.append(cell)
    return Table(rows_declared, cols_declared, cells, agrees) if cells else None


def hwpx_tables(data: bytes) -> list[Table]:
    """The body's tables, section by section in the package's order: those of the section's
    paragraphs and those directly under it."""
    from io import BytesIO

    archive = zipfile.ZipFile(BytesIO(data))
    # Some writers separate the folders of entry names with backslashes.
    names = sorted((n for n in archive.namelist()
                    if re.fullmatch(r"Contents[/\\]section\d+\.xml", n)),
                   key=lambda n: int(re.findall(r"\d+", n)[0]))
    tables = []
    for name in names:
        root = ET.fromstring(archive.read(name))
        # Tools also write tables directly under the section.
        for item in root:
            items = [item] if local(item.tag) == "tbl" else (
                e for run in item if local(run.tag) == "run" for e in run
            ) if local(item.tag) == "p" else ()
            for e in items:
                if local(e.tag) == "tbl" and (table := hwpx_table(e, 0)) is not None:
                    tables.append(table)
    return tables


# --- the rendered tables -------------------------------------------------------------------------


@dataclass
class Shown:
    """A rendered table: its cells by (row, col) with their spans, text and nested tables."""

    cells: dict[tuple[int, int], tuple[int, int, str, list["Shown"]]] = field(default_factory=dict)

    def text(self) -> str:
        return "\n".join(cell[2] for cell in self.cells.values())


class HtmlTables(html.parser.HTMLParser):
    """Parses one line holding an HTML table into a Shown, nested tables included; cells take
    their places as browsers give them, after the cells spanning down from rows above."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.open: list[dict] = []  # per open table: shown, taken places, row, open cell
        self.done: Shown | None = None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.open.append({"shown": Shown(), "taken": set(), "row": -1, "cell": None})
            return
        if not self.open:
            return
        table = self.open[-1]
        if tag == "tr":
            table["row"] += 1
        elif tag in ("td", "th"):
            values = dict(attrs)
            row, col = table["row"], 0
            while (row, col) in table["taken"]:
                col += 1
            rs, cs = int(values.get("rowspan", 1)), int(values.get("colspan", 1))
            table["taken"] |= {(row + i, col + k) for i in range(rs) for k in range(cs)}
            table["shown"].cells[(row, col)] = (rs, cs, "", [])
            table["cell"] = (row, col)
        elif tag == "br":
            self.handle_data("\n")

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.open:
            self.open[-1]["cell"] = None
        elif tag == "table" and self.open:
            shown = self.open.pop()["shown"]
            if self.open and self.open[-1]["cell"] is not None:
                outer = self.open[-1]
                outer["shown"].cells[outer["cell"]][3].append(shown)
            elif not self.open:
                self.done = shown

    def handle_data(self, data):
        if self.open and self.open[-1]["cell"] is not None:
            shown, at = self.open[-1]["shown"], self.open[-1]["cell"]
            rs, cs, text, nested = shown.cells[at]
            shown.cells[at] = (rs, cs, text + data, nested)


def pipe_cells(line: str) -> list[str]:
    cells, current, i = [], [], 1
    while i < len(line):
        ch = line[i]
        if ch == "\\" and i + 1 < len(line) and line[i + 1] in "|\\":
            current.append(line[i + 1])
            i += 2
            continue
        if ch == "|":
            cells.append("".join(current).replace("<br>", "\n"))
            current = []
        else:
            current.append(ch)
        i += 1
    return cells


def shown_in(markdown: str) -> list[Shown]:
    """The tables of the Markdown, in order."""
    lines = markdown.split("\n")
    out, i = [], 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("<table>"):
            parser = HtmlTables()
            parser.feed(line)
            out.append(parser.done)
        elif line.startswith("|") and i + 1 < len(lines) and re.fullmatch(r"\|(---\|)+", lines[i + 1]):
            table = Shown()
            rows = [line, *itertools.takewhile(lambda l: l.startswith("|"), lines[i + 2 :])]
            for r, row in enumerate(rows):
                for c, text in enumerate(pipe_cells(row)):
                    table.cells[(r, c)] = (1, 1, text, [])
            i += len(rows) + 1
            out.append(table)
            continue
        i += 1
    return out


# --- the check -----------------------------------------------------------------------------------


@dataclass
class Totals:
    read: int = 0  # every table read from the files, nested ones included
    read_unsound: int = 0  # of those, the ones whose geometry is not sound
    tables: int = 0  # the tables shown as tables, checked below
    sound: int = 0
    fell_back: int = 0
    cells: int = 0
    cells_with_text: int = 0
    found_in_place: int = 0
    problems: list[str] = field(default_factory=list)


def count_read(tables: list[Table], totals: Totals) -> None:
    for table in tables:
        totals.read += 1
        totals.read_unsound += not table.sound()
        for cell in table.cells:
            count_read(cell.tables, totals)


def check(read: list[Table], shown: list[Shown], totals: Totals, where: str) -> None:
    expected = shown_tables(read)
    if len(expected) != len(shown):
        totals.problems.append(f"{where}: {len(expected)} tables expected, {len(shown)} shown")
        return
    for k, (table, rendered) in enumerate(zip(expected, shown)):
        here = f"{where} table {k}"
        totals.tables += 1
        totals.cells += len(table.cells)
        placed = table.placed()
        if not table.sound():
            totals.fell_back += 1
            everything = rendered.text()
            for c, *_ in placed:
                totals.cells_with_text += bool(c.texts)
                lost = [t for t in c.texts if t not in everything]
                if lost:
                    totals.problems.append(f"{here}: text {lost[0]!r} lost")
            continue
        totals.sound += 1
        for c, row, col, rs, cs in placed:
            got = rendered.cells.get((row, col))
            if c.texts:
                totals.cells_with_text += 1
                if got is None or (got[0], got[1]) != (rs, cs):
                    totals.problems.append(f"{here}: no {rs}x{cs} cell at ({row}, {col}) for {c.texts[0]!r}")
                    continue
                missing = [t for t in c.texts if t not in got[2]]
                if missing:
                    totals.problems.append(f"{here}: {missing[0]!r} not at ({row}, {col}): {got[2][:60]!r}")
                    continue
                totals.found_in_place += 1
            if got is not None:
                check(c.tables, got[3], totals, f"{here} cell ({row}, {col})")
