"""Hostile HWPX packages: each gives a Markdown string (with the warning of a part it could not
read, where one was lost) or the right exception, in bounded time and memory.

Every case runs in a child process limited to 2 GiB of address space (not under
AddressSanitizer, which reserves far more), with a wall-clock guard of minutes: a case that
expands an entity, follows a central directory's word, recurses without bound or inflates
without a ceiling shows up as a MemoryError, a crash or a timeout, not as a slow test.
"""

from __future__ import annotations

import hashlib
import json
import os
import re
import subprocess
import sys
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import pytest

from hwpbuilder import hwpx as hx

pytest.importorskip("paravox._native")

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
ADDRESS_LIMIT = 0 if UNDER_ASAN else 2 << 30
TIMEOUT_SECONDS = 600
MIB = 1 << 20
CEILING = 268435456
INFLATION_MESSAGE = (
    f"Parse error: 압축 해제 실패: inflated section exceeds {CEILING} bytes"
)
OUTPUT_MESSAGE = f"Parse error: Markdown output exceeds {CEILING} bytes"

CHILD = r"""
import hashlib, json, resource, sys, time
limit = int(sys.argv[1])
if limit:
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
import paravox
from paravox._native import convert_buffer
from paravox._convert import Options
for name in sys.argv[2:]:
    with open(name, "rb") as f:
        data = f.read()
    start = time.process_time()
    try:
        markdown, fmt, warnings = convert_buffer(data, Options(profile="full"))
        out = {"kind": "markdown", "format": fmt, "length": len(markdown),
               "sha256": hashlib.sha256(markdown.encode()).hexdigest(),
               "head": markdown[:80], "warnings": [list(w) for w in warnings]}
    except paravox.ParavoxError as e:
        out = {"kind": type(e).__name__, "format": e.format, "message": str(e)}
    except MemoryError:
        out = {"kind": "MemoryError"}
    out["cpu"] = time.process_time() - start
    # VmHWM: the peak of this process's own address space (ru_maxrss would count the
    # parent's resident set at the fork).
    with open("/proc/self/status") as status:
        hwm = next(line for line in status if line.startswith("VmHWM:"))
    out["maxrss_mib"] = int(hwm.split()[1]) / 1024
    print(json.dumps(out, ensure_ascii=False), flush=True)
"""


# --- expected outcomes -------------------------------------------------------------------


@dataclass(frozen=True)
class Text:
    """Markdown exactly equal to `markdown`, the document read whole."""

    markdown: str

    def text_problem(self, out: dict) -> str | None:
        if out["kind"] != "markdown" or out["format"] != "hwpx":
            return f"expected Markdown, got {out}"
        digest = hashlib.sha256(self.markdown.encode()).hexdigest()
        if out["sha256"] != digest:
            return (
                f"expected {len(self.markdown)} characters {self.markdown[:80]!r}..., got"
                f" {out['length']} characters {out['head']!r}..."
            )
        return None

    def problem(self, out: dict) -> str | None:
        problem = self.text_problem(out)
        if problem is None and out["warnings"]:
            return f"expected no warnings, got {out['warnings']}"
        return problem


@dataclass(frozen=True)
class Partial(Text):
    """Markdown exactly equal to `markdown`, and one warning of `kind` whose message matches
    `message` (a full match): the part it names could not be read."""

    kind: str = "damaged"
    message: str = ""

    def problem(self, out: dict) -> str | None:
        problem = self.text_problem(out)
        if problem is not None:
            return problem
        warnings = out["warnings"]
        if len(warnings) != 1 or warnings[0][0] != self.kind:
            return f"expected one {self.kind} warning, got {warnings}"
        if not re.fullmatch(self.message, warnings[0][1]):
            return f"expected a warning matching {self.message!r}, got {warnings[0][1]!r}"
        return None


@dataclass(frozen=True)
class Refused:
    """An exception of class `kind` whose message matches `message` (a full match)."""

    kind: str
    message: str

    def problem(self, out: dict) -> str | None:
        if out["kind"] != self.kind or not re.fullmatch(self.message, out["message"]):
            return f"expected {self.kind}({self.message!r}), got {out}"
        if out["format"] != "hwpx":
            return f"expected format 'hwpx', got {out['format']!r}"
        return None


@dataclass(frozen=True)
class OneOf:
    """Any of several clean outcomes: where the format leaves a choice to the reader (stop at
    a part or skip what it cannot use), each choice is still pinned exactly."""

    choices: tuple[Text | Refused, ...]

    def problem(self, out: dict) -> str | None:
        problems = [c.problem(out) for c in self.choices]
        return None if None in problems else " / ".join(p for p in problems if p)


DAMAGED = Refused("DamagedDocumentError", r"Package error: .+")
TOO_LARGE_INFLATED = Refused("DocumentTooLargeError", re.escape(INFLATION_MESSAGE))
TOO_LARGE_OUTPUT = Refused("DocumentTooLargeError", re.escape(OUTPUT_MESSAGE))

# --- the packages ------------------------------------------------------------------------

FIRST = "첫째 구역"


def first_section() -> hx.El:
    return hx.section(hx.paragraph(FIRST))


def raw_section(body: str, doctype: str = "") -> bytes:
    """A section part whose paragraph holds `body` verbatim, after `doctype`."""
    root = hx.section(hx.paragraph(hx.run(hx.Raw(body))), properties=False)
    return hx.xml_part(root, doctype=doctype)


def after_first(*sections: bytes | hx.El) -> bytes:
    return hx.hwpx_document([first_section(), *sections])


def deflated_repeat(head: bytes, chunk: bytes, count: int, tail: bytes) -> bytes:
    """Raw DEFLATE of head + chunk * count + tail, made without compressing it all: a full
    flush leaves no reference to earlier data, so the compressed 1 MiB block repeats."""

    def piece(data: bytes, mode: int) -> bytes:
        compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
        return compressor.compress(data) + compressor.flush(mode)

    per_block = max(1, MIB // len(chunk))
    whole, rest = divmod(count, per_block)
    return (
        piece(head, zlib.Z_FULL_FLUSH)
        + piece(chunk * per_block, zlib.Z_FULL_FLUSH) * whole
        + piece(chunk * rest + tail, zlib.Z_FINISH)
    )


def long_token_entry(
    name: str, head: bytes, chunk: bytes, count: int, tail: bytes
) -> hx.Entry:
    """An entry holding head + chunk * count + tail, deflated without compressing it all, with
    its true size and CRC-32."""
    crc = zlib.crc32(head)
    for _ in range(count):
        crc = zlib.crc32(chunk, crc)
    crc = zlib.crc32(tail, crc)
    size = len(head) + len(chunk) * count + len(tail)
    stored = deflated_repeat(head, chunk, count, tail)
    return hx.Entry(name, b"", stored=stored, size=size, crc=crc)


def section_around(body: str, token_start: str, token_end: str) -> tuple[bytes, bytes]:
    """The bytes of a section part before and after a long token placed in `body`."""
    head, tail = raw_section(body.replace("TOKEN", "\0")).split(b"\0")
    return head + token_start.encode(), token_end.encode() + tail


def long_tokens(specs: list[tuple[str, str, str, int]]) -> bytes:
    """A package of the first section and one section per (body, token start, token end,
    MiB of token) whose body holds that token where it says TOKEN."""
    package = hx.hwpx_package(
        [first_section(), *(hx.section("x") for _ in specs)]
    )
    for k, (body, start, end, mib) in enumerate(specs, start=1):
        head, tail = section_around(body, start, end)
        entry = long_token_entry("", head, b"x" * MIB, mib, tail)
        package.replace(
            f"Contents/section{k}.xml", stored=entry.stored, size=entry.size, crc=entry.crc
        )
    return package.to_bytes()


def long_comment() -> list[bytes]:
    return [long_tokens([("<hp:t>앞</hp:t>TOKEN<hp:t>뒤</hp:t>", "<!--", "-->", 200)])]


def long_attribute_value() -> list[bytes]:
    """A value of 100 MiB with a reference in it, on an element the walk reads."""
    body = '<hp:t>앞</hp:t><hp:t a="TOKEN">뒤</hp:t>'
    return [long_tokens([(body, "&amp;", "", 100)])]


def comments_past_the_budget() -> list[bytes]:
    """Fifteen sections of 200 MiB comments: the budget ends the document at the third."""
    return [
        long_tokens(
            [(f"TOKEN<hp:t>{k}</hp:t>", "<!--", "-->", 200) for k in range(1, 16)]
        )
    ]


def bomb_entry(name: str, inflated_size: int) -> hx.Entry:
    """An entry that inflates to a well-formed section of `inflated_size` bytes or more,
    declaring its true size (its CRC-32 is never reached)."""
    whole = raw_section("\0")
    head, tail = whole.split(b"\0")
    head += b"<hp:t>"
    tail = b"</hp:t>" + tail
    chunk = "가나다라".encode() * 64
    count = inflated_size // len(chunk) + 1
    stored = deflated_repeat(head, chunk, count, tail)
    size = len(head) + len(chunk) * count + len(tail)
    return hx.Entry(name, b"", stored=stored, size=size, crc=0)


def manifest_bomb() -> list[bytes]:
    package = hx.hwpx_package([first_section()])
    bomb = bomb_entry("Contents/content.hpf", 300 * MIB)
    package.replace("Contents/content.hpf", stored=bomb.stored, size=1024, crc=0)
    return [package.to_bytes()]


def section_bomb(declared: int | None = None) -> list[bytes]:
    """A second section inflating to 300 MiB, declaring its true size or `declared`."""
    package = hx.hwpx_package([first_section(), hx.section("둘째")])
    bomb = bomb_entry("Contents/section1.xml", 300 * MIB)
    size = bomb.size if declared is None else declared
    package.replace("Contents/section1.xml", stored=bomb.stored, size=size, crc=0)
    return [package.to_bytes()]


def overlapping_entries() -> list[bytes]:
    """Central directories whose entries share one local header and its data, each record a
    copy of the first but for its name (so the local header agrees with every one of them):
    two sections, and the overlapped kernel, a thousand sections naming one 200 MiB section
    (200 GB of inflation were each entry trusted)."""
    out = []
    for count, size in ((2, 0), (1000, 200 * MIB)):
        names = [f"Contents/section{k:03d}.xml" for k in range(count)]
        package = hx.hwpx_package([first_section()])
        package.replace("Contents/section0.xml", name=names[0])
        package.replace("Contents/content.hpf", data=hx.content_hpf(names))
        if size:
            kernel = bomb_entry(names[0], size)
            package.replace(names[0], stored=kernel.stored, size=1024, crc=0)
        body, central, _ = hx.zip_records(package.entries)
        shared = central[[e.name for e in package.entries].index(names[0])]
        central += [shared.replace(names[0].encode(), n.encode()) for n in names[1:]]
        directory = b"".join(central)
        out.append(
            body + directory + hx.end_record(len(central), len(directory), len(body))
        )
    return out


def many_entries() -> list[bytes]:
    package = hx.hwpx_package([first_section()])
    package.entries += [
        hx.Entry(f"BinData/e{k}", b"", compress=False) for k in range(100_000)
    ]
    return [package.to_bytes()]


LAUGHS = (
    '<!DOCTYPE hs:sec [<!ENTITY lol "lol">'
    + "".join(
        f'<!ENTITY lol{k} "{("&lol" + (str(k - 1) if k > 1 else "") + ";") * 10}">'
        for k in range(1, 10)
    )
    + "]>"
)


def billion_laughs() -> list[bytes]:
    return [after_first(raw_section("<hp:t>&lol9;</hp:t>", LAUGHS))]


def external_entities() -> list[bytes]:
    return [
        after_first(
            raw_section(
                "<hp:t>&xxe;</hp:t>",
                '<!DOCTYPE hs:sec [<!ENTITY xxe SYSTEM "file:///etc/passwd">]>',
            )
        ),
        after_first(
            raw_section(
                "<hp:t>&xxe;</hp:t>",
                '<!DOCTYPE hs:sec [<!ENTITY % pe SYSTEM "file:///etc/passwd"> %pe;'
                '<!ENTITY xxe "%pe;">]>',
            )
        ),
    ]


def external_subset() -> list[bytes]:
    return [after_first(raw_section("", '<!DOCTYPE hs:sec SYSTEM "file:///etc/passwd">'))]


def deep_elements() -> list[bytes]:
    depth = 1_000_000
    body = "<hp:x>" * depth + "<hp:t>깊이</hp:t>" + "</hp:x>" * depth
    return [after_first(raw_section(body))]


def deep_tables() -> list[bytes]:
    """Tables nested in cells about 170,000 deep, a million elements; each level's cell has
    the text dK before the table nested in it."""
    levels = 170_000
    opening = (
        '<hp:tbl rowCnt="1" colCnt="1"><hp:tr><hp:tc><hp:subList>'
        "<hp:p><hp:run><hp:t>d{k}</hp:t>"
    )
    closing = "</hp:run></hp:p></hp:subList></hp:tc></hp:tr></hp:tbl>"
    body = "".join(opening.format(k=k) for k in range(levels)) + closing * levels
    return [after_first(raw_section(body))]


def truncated_directories() -> list[bytes]:
    layout: list[hx.ZipLayout] = []
    package = hx.hwpx_package([first_section(), hx.section("둘째")])
    data = hx.write_zip(package.entries, layout)
    return [data[:cut] for cut in range(layout[0].central_offset, len(data))]


def invalid_text() -> list[bytes]:
    bad = [
        b"\xff\xfe",  # bytes no UTF-8 sequence starts with
        b"\xc0\xaf",  # an overlong '/'
        b"\xed\xa0\x80",  # an encoded surrogate
        b"\xea\xb0",  # a sequence cut short
        b"&#xD800;",  # a character reference to a surrogate
        b"&#0;",
    ]
    marker = b"\0"
    good = raw_section("<hp:t>앞\0뒤</hp:t>")
    return [after_first(good.replace(marker, b)) for b in bad]


def repeated_spine() -> list[bytes]:
    """A spine naming a 1 MiB section a thousand times (1 GB of Markdown if each is read)."""
    line = "가나다라마바사" * 20
    paragraphs = [hx.paragraph(line) for _ in range(MIB // (len(line.encode()) + 200))]
    package = hx.hwpx_package(
        [hx.section(*paragraphs)], spine=["header"] + ["section0"] * 1000
    )
    return [package.to_bytes()]


REPEATED_TEXT = "\n\n".join(
    ["가나다라마바사" * 20] * (MIB // (len(("가나다라마바사" * 20).encode()) + 200))
)


@dataclass(frozen=True)
class Hostile:
    name: str
    build: Callable[[], list[bytes]]
    expected: Text | Partial | Refused | OneOf


SECOND_LOST = re.escape("Text from Contents/section1.xml on is missing: Package error: ")


def stopped_at_second(reason: str) -> Partial:
    """The first section's text, and the warning that the second part is lost for `reason`."""
    return Partial(FIRST, "damaged", SECOND_LOST + reason)


DECLARES_ENTITIES = stopped_at_second(re.escape("Contents/section1.xml declares XML entities"))
NOT_WELL_FORMED = stopped_at_second(r"Contents/section1\.xml is not well-formed XML \(.+\)")
TOO_DEEP = stopped_at_second(r"Contents/section1\.xml nests elements deeper than \d+")

HOSTILE = [
    # A section past the ceiling is lost, and said to be.
    Hostile(
        "zip bomb: section",
        section_bomb,
        Partial(
            FIRST,
            "too_large",
            re.escape("Text from Contents/section1.xml on is missing: " + INFLATION_MESSAGE),
        ),
    ),
    # One declaring 1 KiB is damaged once it gives more: it is never inflated further.
    Hostile(
        "zip bomb declaring 1 KiB: section",
        lambda: section_bomb(declared=1024),
        stopped_at_second(
            re.escape(
                "Contents/section1.xml is damaged (its size is not the 1024 bytes its entry"
                " declares)"
            )
        ),
    ),
    Hostile(
        "zip bomb: content.hpf", manifest_bomb, OneOf((TOO_LARGE_INFLATED, DAMAGED))
    ),
    Hostile("overlapping entries", overlapping_entries, DAMAGED),
    Hostile("100,000 entries", many_entries, DAMAGED),
    Hostile("billion laughs", billion_laughs, DECLARES_ENTITIES),
    Hostile("external entities", external_entities, DECLARES_ENTITIES),
    # A document type naming a file declares nothing: the file is never read.
    Hostile("external subset", external_subset, Text(FIRST)),
    # Bounded work or a clean failure: the walk may go down the whole way or give up.
    Hostile(
        "1,000,000-deep elements",
        deep_elements,
        OneOf((TOO_DEEP, Text(f"{FIRST}\n\n깊이"))),
    ),
    Hostile(
        "170,000-deep tables",
        deep_tables,
        # Each level a one-cell frame: its text, then the next level's, to the depth limit.
        OneOf((TOO_DEEP, Text(f"{FIRST}\n\nd0\n\nd1\n\nd2\n\nd3"))),
    ),
    # Cut within the end record's last bytes (the comment length), every entry is still read.
    Hostile(
        "truncated central directory",
        truncated_directories,
        OneOf((DAMAGED, Text(f"{FIRST}\n\n둘째"))),
    ),
    Hostile("invalid UTF-8 and characters", invalid_text, NOT_WELL_FORMED),
    # Time linear in the inflated size, whatever the length of one token.
    Hostile("200 MiB comment", long_comment, Text(f"{FIRST}\n\n앞뒤")),
    Hostile("100 MiB attribute value", long_attribute_value, Text(f"{FIRST}\n\n앞뒤")),
    # The parts read share 512 MiB: the third 200 MiB section would pass it.
    Hostile(
        "fifteen sections of 200 MiB comments",
        comments_past_the_budget,
        Partial(
            f"{FIRST}\n\n1\n\n2",
            "too_large",
            re.escape(
                "Text from Contents/section3.xml on is missing: Package error: "
                "Contents/section3.xml takes the parts read past 536870912 inflated bytes"
            ),
        ),
    ),
    Hostile(
        "spine naming one part 1,000 times",
        repeated_spine,
        OneOf((Text(REPEATED_TEXT), TOO_LARGE_OUTPUT)),
    ),
]


def run_child(paths: list[Path]) -> list[dict]:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(sys.path)
    result = subprocess.run(
        [sys.executable, "-c", CHILD, str(ADDRESS_LIMIT), *map(str, paths)],
        capture_output=True,
        text=True,
        timeout=TIMEOUT_SECONDS,
        env=env,
    )
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    assert result.returncode == 0 and len(lines) == len(paths), (
        f"child exited with {result.returncode} after {len(lines)} of {len(paths)} inputs:"
        f" {result.stderr[-2000:]}"
    )
    return lines


class TestHostilePackages:
    @pytest.mark.parametrize("case", HOSTILE, ids=[c.name for c in HOSTILE])
    def test_clean_outcome_in_bounded_time_and_memory(self, case, tmp_path):
        inputs = case.build()
        paths = []
        for k, data in enumerate(inputs):
            paths.append(tmp_path / f"{k}.hwpx")
            paths[-1].write_bytes(data)
        outcomes = run_child(paths)
        problems = [
            f"input {k}: {p}"
            for k, out in enumerate(outcomes)
            if (p := case.expected.problem(out))
        ]
        assert not problems, "\n".join(problems[:10])
        worst = max(outcomes, key=lambda o: o["maxrss_mib"])
        print(
            f"{case.name}: {len(inputs)} inputs, cpu max"
            f" {max(o['cpu'] for o in outcomes):.2f} s, peak RSS {worst['maxrss_mib']:.0f} MiB"
        )
