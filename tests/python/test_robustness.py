"""Robustness: damaged documents never crash, hang or raise anything but RuntimeError, and
conversions leave no descriptor or memory behind and give the same results from any thread.

Damaged files are converted in child processes, many per child, so that a crash or a hang is
caught and pinned to its file without costing a process per file.
"""

from __future__ import annotations

import json
import os
import random
import select
import struct
import subprocess
import sys
import textwrap
import threading
import time
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import pytest

REPO_DIR = Path(__file__).resolve().parent.parent.parent
FUZZ_DOCUMENTS = REPO_DIR / "fuzz" / "corpus" / "document"
CORPUS_DIR = Path(
    os.environ.get("PARAVOX_CORPUS", REPO_DIR.parent / "shared" / "corpus")
)
# AddressSanitizer keeps freed memory in quarantine, so resident memory says nothing there.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")

# --- where a compound file keeps things ------------------------------------------------------

ENDOFCHAIN = 0xFFFFFFFE
MAXREGSECT = 0xFFFFFFFA
HEADER_SIZE = 512
DIR_ENTRY_SIZE = 128
TYPE_STREAM = 2
TYPE_ROOT = 5
NOSTREAM = 0xFFFFFFFF


@dataclass(frozen=True)
class StreamInfo:
    path: str
    size: int
    ranges: tuple[
        tuple[int, int], ...
    ]  # (file offset, length) pieces holding the data, in order


class CfbLayout:
    def __init__(self, data: bytes):
        if len(data) < HEADER_SIZE or data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            raise ValueError("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 30)[0]
        self.mini_sector_size = 1 << struct.unpack_from("<H", data, 32)[0]
        (
            fat_count,
            dir_start,
            _,
            self.mini_cutoff,
            minifat_start,
            minifat_count,
            difat_start,
            difat_count,
        ) = struct.unpack_from("<IIIIIIII", data, 44)
        self.fat_sectors = [
            s for s in struct.unpack_from("<109I", data, 76) if s <= MAXREGSECT
        ]
        per_sector = self.sector_size // 4
        self.difat_sectors = []
        sector = difat_start
        while sector <= MAXREGSECT and len(self.difat_sectors) < difat_count:
            self.difat_sectors.append(sector)
            values = struct.unpack_from(f"<{per_sector}I", data, self.offset(sector))
            self.fat_sectors += [s for s in values[:-1] if s <= MAXREGSECT]
            sector = values[-1]
        self.fat_sectors = self.fat_sectors[:fat_count]
        self.fat: list[int] = []
        for s in self.fat_sectors:
            self.fat += struct.unpack_from(f"<{per_sector}I", data, self.offset(s))
        self.directory_sectors = self.chain(dir_start)
        self.minifat_sectors = self.chain(minifat_start) if minifat_count else []
        self.minifat: list[int] = []
        for s in self.minifat_sectors:
            self.minifat += struct.unpack_from(f"<{per_sector}I", data, self.offset(s))
        self.entries = [
            self._entry(i)
            for i in range(
                len(self.directory_sectors) * self.sector_size // DIR_ENTRY_SIZE
            )
        ]
        self.mini_stream_sectors = self.chain(self.entries[0][2])
        self.streams: dict[str, StreamInfo] = {}
        self._walk(self.entries[0][5], "", set())

    def offset(self, sector: int) -> int:
        return (sector + 1) * self.sector_size

    def chain(self, start: int) -> list[int]:
        sectors: list[int] = []
        while (
            start <= MAXREGSECT
            and start < len(self.fat)
            and len(sectors) <= len(self.fat)
        ):
            sectors.append(start)
            start = self.fat[start]
        return sectors

    def _entry(self, index: int) -> tuple[str, int, int, int, tuple[int, int], int]:
        per_sector = self.sector_size // DIR_ENTRY_SIZE
        at = (
            self.offset(self.directory_sectors[index // per_sector])
            + (index % per_sector) * DIR_ENTRY_SIZE
        )
        raw = self.data[at : at + DIR_ENTRY_SIZE]
        name_size, kind = struct.unpack_from("<HB", raw, 64)
        name = raw[: max(0, min(name_size, 64) - 2)].decode("utf-16-le", "replace")
        left, right, child = struct.unpack_from("<III", raw, 68)
        start, size = struct.unpack_from("<IQ", raw, 116)
        if self.sector_size == 512:
            size &= 0xFFFFFFFF  # version 3 files may leave garbage in the high half
        return name, kind, start, size, (left, right), child

    def _walk(self, index: int, prefix: str, seen: set[int]) -> None:
        if index == NOSTREAM or index in seen or index >= len(self.entries):
            return
        seen.add(index)
        name, kind, start, size, (left, right), child = self.entries[index]
        self._walk(left, prefix, seen)
        self._walk(right, prefix, seen)
        path = f"{prefix}/{name}"
        if kind == TYPE_STREAM:
            self.streams[path] = StreamInfo(
                path, size, tuple(self._ranges(start, size))
            )
        elif kind != TYPE_ROOT:
            self._walk(child, path, seen)

    def _ranges(self, start: int, size: int) -> list[tuple[int, int]]:
        ranges = []
        if size < self.mini_cutoff:
            mini = []
            while (
                start <= MAXREGSECT
                and start < len(self.minifat)
                and len(mini) <= len(self.minifat)
            ):
                mini.append(start)
                start = self.minifat[start]
            per_big = self.sector_size // self.mini_sector_size
            for m in mini:
                big = self.mini_stream_sectors[m // per_big]
                ranges.append(
                    (
                        self.offset(big) + (m % per_big) * self.mini_sector_size,
                        self.mini_sector_size,
                    )
                )
        else:
            ranges = [(self.offset(s), self.sector_size) for s in self.chain(start)]
        left = size
        clipped = []
        for offset, length in ranges:
            if left <= 0:
                break
            clipped.append((offset, min(length, left)))
            left -= length
        return clipped

    def read(self, path: str) -> bytes:
        return b"".join(self.data[o : o + n] for o, n in self.streams[path].ranges)

    def section_paths(self) -> list[str]:
        paths = []
        while f"/BodyText/Section{len(paths)}" in self.streams:
            paths.append(f"/BodyText/Section{len(paths)}")
        return paths


def inflate_raw_prefix(data: bytes) -> bytes:
    """Raw DEFLATE data inflated as far as it is valid (what a compressed section holds)."""
    inflater = zlib.decompressobj(-15)
    try:
        return inflater.decompress(data)
    except zlib.error:
        return b""


# --- damage ------------------------------------------------------------------------------------


@dataclass(frozen=True)
class Damaged:
    source: str  # document name
    how: str  # what was done to it
    data: bytes


def _flip(data: bytes, offsets: list[int], rng: random.Random) -> bytes:
    out = bytearray(data)
    for at in offsets:
        out[at] ^= rng.randrange(1, 256)
    return bytes(out)


def _offsets_in(
    ranges: list[tuple[int, int]], count: int, rng: random.Random
) -> list[int]:
    """`count` random offsets inside the (offset, length) pieces, weighted by length."""
    spots = [(o, n) for o, n in ranges if n > 0]
    if not spots:
        return []
    weights = [n for _, n in spots]
    out = []
    for offset, length in rng.choices(spots, weights, k=count):
        out.append(offset + rng.randrange(length))
    return out


def damage(name: str, data: bytes) -> list[Damaged]:
    """A fixed set of damaged copies of one document: byte flips in the container's header, FAT
    and directory sectors and in the section streams, truncations, and sections overwritten with
    random bytes. The same document always gets the same damage."""
    rng = random.Random(zlib.crc32(name.encode()))
    out: list[Damaged] = []

    def add(how: str, damaged: bytes) -> None:
        out.append(Damaged(name, how, damaged))

    size = len(data)
    header_fields = list(
        range(24, 80)
    )  # versions, byte order, shifts, counts, first sectors
    for k in range(8):
        spots = rng.sample(header_fields, k % 4 + 1)
        add(f"header bytes {spots} flipped", _flip(data, spots, rng))
    for k in range(2):
        difat = rng.sample(range(76, min(size, HEADER_SIZE)), k + 1)
        add(f"header DIFAT bytes {difat} flipped", _flip(data, difat, rng))
    cuts = sorted(
        {
            0,
            1,
            100,
            511,
            512,
            513,
            1024,
            size // 4,
            size // 2,
            3 * size // 4,
            max(0, size - 512),
            max(0, size - 1),
            *(rng.randrange(size) for _ in range(4)),
        }
    )
    for cut in cuts:
        if cut < size:
            add(f"cut to {cut} bytes", data[:cut])

    try:
        layout = CfbLayout(data)
    except (ValueError, KeyError, IndexError, struct.error):
        return out  # not a readable container: header damage and truncation only
    sector = layout.sector_size
    regions = {
        "FAT": [(layout.offset(s), sector) for s in layout.fat_sectors],
        "directory": [(layout.offset(s), sector) for s in layout.directory_sectors],
        "mini FAT": [(layout.offset(s), sector) for s in layout.minifat_sectors],
    }
    for region, ranges in regions.items():
        for count in (1, 1, 2, 4, 8):
            spots = _offsets_in(ranges, count, rng)
            if spots:
                add(f"{count} {region} bytes flipped", _flip(data, spots, rng))
    for path in layout.section_paths():
        ranges = list(layout.streams[path].ranges)
        for count in (1, 1, 2, 4, 8):
            spots = _offsets_in(ranges, count, rng)
            if spots:
                add(f"{count} bytes of {path} flipped", _flip(data, spots, rng))
        noise = bytearray(data)
        for offset, length in ranges:
            noise[offset : offset + length] = rng.randbytes(length)
        add(f"{path} replaced by random bytes", bytes(noise))
    return out


# --- converting in child processes -------------------------------------------------------------

# Converts the files listed in argv[1], from index argv[2] on, with both functions; says
# "start I" before and "done I OUTCOME" after each file, so a crash or hang names its file.
CHILD = textwrap.dedent("""
    import sys
    import _paravox

    paths = open(sys.argv[1], encoding="utf-8").read().split("\\n")
    for i in range(int(sys.argv[2]), len(paths)):
        print("start", i, flush=True)
        outcome = []
        for function, kind in ((_paravox.hwp_to_markdown, str), (_paravox.hwp_debug_records, list)):
            try:
                result = function(paths[i])
                outcome.append("ok" if type(result) is kind else "returned " + type(result).__name__)
            except (RuntimeError, MemoryError) as error:
                outcome.append(type(error).__name__)
            except BaseException as error:
                outcome.append(f"raised {type(error).__name__}: {error}"[:300])
        print("done", i, "|".join(outcome), flush=True)
""")

ALLOWED = {"ok", "RuntimeError", "MemoryError"}


def convert_in_children(
    paths: list[str], list_file: Path, per_file_seconds: float
) -> dict[int, str]:
    """Outcome per path index: "ok" or the exception name per function, joined by "|", or
    "crash (...)" / "hang" for the file that a child died or stalled on. A new child takes over
    after the file that ended the previous one."""
    list_file.write_text("\n".join(paths), encoding="utf-8")
    results: dict[int, str] = {}
    start = 0
    while start < len(paths):
        stderr_file = list_file.with_suffix(".stderr")
        with open(stderr_file, "wb") as stderr:
            child = subprocess.Popen(
                [sys.executable, "-c", CHILD, str(list_file), str(start)],
                stdout=subprocess.PIPE,
                stderr=stderr,
                stdin=subprocess.DEVNULL,
            )
        assert child.stdout is not None
        fd = child.stdout.fileno()
        pending = b""
        current: int | None = None
        deadline = time.monotonic() + per_file_seconds + 30  # start-up included
        while True:
            remaining = deadline - time.monotonic()
            ready = (
                select.select([fd], [], [], max(0.0, remaining))[0]
                if remaining > 0
                else []
            )
            if not ready:
                child.kill()
                child.wait()
                if current is None or current in results:
                    raise AssertionError("child converter stalled outside a conversion")
                results[current] = "hang"
                start = current + 1
                break
            chunk = os.read(fd, 65536)
            if not chunk:
                status = child.wait()
                if current is not None and current not in results:
                    detail = stderr_file.read_bytes().decode(errors="replace")[-2000:]
                    results[current] = f"crash (exit status {status}): {detail}"
                    start = current + 1
                elif status != 0 or current is None:
                    detail = stderr_file.read_bytes().decode(errors="replace")[-2000:]
                    raise AssertionError(
                        f"child converter failed (exit status {status}): {detail}"
                    )
                else:
                    start = len(paths)
                break
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                kind, index, *rest = line.decode().split(" ", 2)
                if kind == "start":
                    current = int(index)
                    deadline = time.monotonic() + per_file_seconds
                else:
                    results[int(index)] = rest[0]
        child.stdout.close()
    return results


def failures(results: dict[int, str], describe: Callable[[int], str]) -> list[str]:
    return [
        f"{describe(i)}: {outcome}"
        for i, outcome in sorted(results.items())
        if any(part not in ALLOWED for part in outcome.split("|"))
    ]


# --- tests -------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def feature_documents(corpus_dir: Path) -> list[Path]:
    documents = sorted((corpus_dir / "features").glob("*.hwp"))
    if not documents:
        pytest.skip(f"no documents in {corpus_dir / 'features'}")
    return documents


class TestDamagedDocuments:
    def test_damage_is_fixed_and_reaches_every_structure(self, feature_documents):
        data = feature_documents[0].read_bytes()
        first = damage(feature_documents[0].name, data)
        again = damage(feature_documents[0].name, data)
        assert [d.data for d in first] == [d.data for d in again]
        kinds = " ".join(d.how for d in first)
        for what in (
            "header bytes",
            "cut to",
            "FAT bytes",
            "directory bytes",
            "/BodyText/Section0 flipped",
            "replaced by random bytes",
        ):
            assert what in kinds
        assert all(d.data != data for d in first)

    def test_sweep_never_crashes_hangs_or_raises_other_errors(
        self, feature_documents, tmp_path
    ):
        damaged = [
            d
            for path in feature_documents
            for d in damage(path.name, path.read_bytes())
        ]
        paths = []
        for i, d in enumerate(damaged):
            path = tmp_path / f"{i:05d}.hwp"
            path.write_bytes(d.data)
            paths.append(str(path))
        started = time.monotonic()
        results = convert_in_children(paths, tmp_path / "list.txt", per_file_seconds=30)
        elapsed = time.monotonic() - started

        assert len(results) == len(paths)
        bad = failures(results, lambda i: f"{damaged[i].source} ({damaged[i].how})")
        assert (
            not bad
        ), f"{len(bad)} of {len(paths)} damaged files misbehaved:\n" + "\n".join(bad)
        # The sweep must keep telling something: most damage is caught as an error.
        assert sum("RuntimeError" in r for r in results.values()) > len(paths) // 4
        print(f"{len(paths)} damaged documents converted in {elapsed:.1f} s")


class TestChildConverter:
    """The sweep's harness itself: it must see a crash, a hang and a wrong exception."""

    CASES = [
        ("crash", "import os; os.abort()", "crash (exit status"),
        ("hang", "import time; time.sleep(60)", "hang"),
        ("other exception", "raise KeyError('x')", "raised KeyError"),
    ]

    @pytest.mark.parametrize("name, hook, expected", CASES, ids=[c[0] for c in CASES])
    def test_names_the_file(self, tmp_path, monkeypatch, name, hook, expected):
        # The child imports `_paravox` from a stand-in that misbehaves on the file "bad".
        stub = tmp_path / "stub"
        stub.mkdir()
        (stub / "_paravox.py").write_text(textwrap.dedent(f"""
            def _run(path):
                if path.endswith("bad"):
                    {hook}
                raise RuntimeError("not a document")
            def hwp_to_markdown(path):
                return _run(path)
            def hwp_debug_records(path):
                return _run(path)
        """))
        monkeypatch.setenv("PYTHONPATH", str(stub))
        paths = ["a", "b", "bad", "c"]
        results = convert_in_children(paths, tmp_path / "list.txt", per_file_seconds=2)
        assert results[0] == results[1] == results[3] == "RuntimeError|RuntimeError"
        assert results[2].startswith(expected)
        assert failures(results, lambda i: paths[i]) == [f"bad: {results[2]}"]


# Runs 10,000 calls over the files named in argv[1] (cycling, both functions) and prints the
# open descriptors and resident memory after a warm-up of 1,000 calls and at the end.
RESOURCE_CHILD = textwrap.dedent("""
    import json, os, sys
    import _paravox

    paths = json.load(open(sys.argv[1]))
    page = os.sysconf("SC_PAGE_SIZE")

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * page

    def descriptors():
        return sorted(os.listdir("/proc/self/fd"))

    outcomes = {}
    measured = {}
    fds_before = descriptors()
    for call in range(10_000):
        if call == 1_000:
            measured["warm"] = resident()
        path = paths[call % len(paths)]
        function = _paravox.hwp_to_markdown if call % 2 == 0 else _paravox.hwp_debug_records
        try:
            function(path)
            outcomes["ok"] = outcomes.get("ok", 0) + 1
        except RuntimeError:
            outcomes["RuntimeError"] = outcomes.get("RuntimeError", 0) + 1
    measured["end"] = resident()
    print(json.dumps({"fds_before": fds_before, "fds_after": descriptors(),
                      "outcomes": outcomes, **measured}))
""")


# Calls hwp_debug_records on argv[1] once; prints the resident memory before the call, the
# peak of the process, and what came back.
RECORDS_MEMORY_CHILD = textwrap.dedent("""
    import json, sys
    import _paravox

    def status_kb(field):
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])

    before = status_kb("VmRSS")
    records = _paravox.hwp_debug_records(sys.argv[1])
    peak = status_kb("VmHWM")
    print(json.dumps({"before_kb": before, "peak_kb": peak, "count": len(records),
                      "kinds": sorted(set(records))}))
""")


def builder_documents(folder: Path) -> list[Path]:
    import hwpbuilder as hb

    documents = {
        "text": [hb.section("첫 문단", "둘째 문단")],
        "table": [
            hb.section(
                hb.paragraph(
                    "표",
                    controls=[
                        hb.table(
                            [["가", "나"], ["다", hb.table([["안"]])]], caption="제목"
                        )
                    ],
                )
            )
        ],
        "fields": [
            hb.section(
                hb.paragraph(
                    "이름: ",
                    hb.field_text("홍길동"),
                    controls=[hb.click_here("name", "입력")],
                )
            )
        ],
        "objects": [
            hb.section(
                hb.paragraph(controls=[hb.equation("a over b")]),
                hb.paragraph(controls=[hb.picture(caption="그림")]),
            )
        ],
    }
    paths = []
    for name, sections in documents.items():
        paths.append(Path(hb.write_document(folder / f"{name}.hwp", sections)))
    return paths


class TestResources:
    def mixed_files(self, folder: Path) -> list[str]:
        """Good documents, damaged ones (cut short, or damage that once leaked in the reader),
        missing files, an empty file and a folder."""
        good = builder_documents(folder)
        files = [str(p) for p in good]
        for p in good:
            data = p.read_bytes()
            for cut in (600, len(data) // 2, len(data) - 100):
                cut_path = folder / f"{p.stem}-cut-{cut}.hwp"
                cut_path.write_bytes(data[:cut])
                files.append(str(cut_path))
        files += (
            sorted(str(p) for p in FUZZ_DOCUMENTS.iterdir())
            if FUZZ_DOCUMENTS.is_dir()
            else []
        )
        # Real documents and their damaged copies too, when the shared corpus is there.
        features = sorted(
            (CORPUS_DIR / "features").glob("*.hwp"), key=lambda p: p.stat().st_size
        )[:6]
        for k, p in enumerate(features):
            files.append(str(p))
            for d in damage(p.name, p.read_bytes())[::9]:
                damaged_path = folder / f"damaged-{k}-{len(files)}.hwp"
                damaged_path.write_bytes(d.data)
                files.append(str(damaged_path))
        empty = folder / "empty.hwp"
        empty.write_bytes(b"")
        files += [
            str(empty),
            str(folder),
            str(folder / "missing.hwp"),
            "/nonexistent/x.hwp",
        ]
        return files

    def test_no_descriptor_or_memory_left_after_10000_calls(self, tmp_path):
        files = self.mixed_files(tmp_path)
        list_file = tmp_path / "files.json"
        list_file.write_text(json.dumps(files))
        run = subprocess.run(
            [sys.executable, "-c", RESOURCE_CHILD, str(list_file)],
            capture_output=True,
            text=True,
            timeout=600,
        )
        assert run.returncode == 0, run.stderr[-3000:]
        report = json.loads(run.stdout)
        assert report["fds_after"] == report["fds_before"]
        assert (
            report["outcomes"]["ok"] > 1000
            and report["outcomes"]["RuntimeError"] > 1000
        )
        if UNDER_ASAN:
            pytest.skip(
                "resident memory is not measured under AddressSanitizer (quarantine)"
            )
        growth = report["end"] - report["warm"]
        assert (
            growth < 512 * 1024
        ), f"resident memory grew by {growth} bytes over 9,000 calls"

    def test_records_of_a_zero_run_stay_within_three_sections_and_50_mb(self, tmp_path):
        # 40 MB of zero bytes split into ten million empty records (0, 0, 0).
        import hwpbuilder as hb

        inflated = 40_000_000
        packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_RLE)
        chunk = bytes(1_000_000)
        bomb = b"".join(
            [packer.compress(chunk) for _ in range(inflated // len(chunk))]
            + [packer.flush()]
        )
        path = tmp_path / "zeros.hwp"
        path.write_bytes(hb.hwp_document([], extra_streams={"BodyText/Section0": bomb}))
        run = subprocess.run(
            [sys.executable, "-c", RECORDS_MEMORY_CHILD, str(path)],
            capture_output=True,
            text=True,
            timeout=600,
        )
        assert run.returncode == 0, run.stderr[-3000:]
        report = json.loads(run.stdout)
        assert (report["count"], report["kinds"]) == (inflated // 4, [[0, 0, 0]])
        if UNDER_ASAN:
            pytest.skip(
                "resident memory is not measured under AddressSanitizer (quarantine)"
            )
        growth = (report["peak_kb"] - report["before_kb"]) * 1024
        assert growth <= 3 * inflated + 50_000_000, f"peak grew by {growth:,} bytes"

    def test_failed_calls_close_their_descriptor(self, tmp_path):
        import _paravox

        files = self.mixed_files(tmp_path)
        before = sorted(os.listdir("/proc/self/fd"))
        for path in files * 3:
            for function in (_paravox.hwp_to_markdown, _paravox.hwp_debug_records):
                try:
                    function(path)
                except RuntimeError:
                    pass
        assert sorted(os.listdir("/proc/self/fd")) == before


def convert_all(paths: list[str]) -> list[str]:
    import _paravox

    out = []
    for path in paths:
        try:
            out.append(_paravox.hwp_to_markdown(path))
        except RuntimeError as error:
            out.append(f"RuntimeError: {error}")
        try:
            out.append(repr(_paravox.hwp_debug_records(path)))
        except RuntimeError as error:
            out.append(f"RuntimeError: {error}")
    return out


class TestThreads:
    def documents(self, corpus_dir: Path | None, folder: Path) -> list[str]:
        paths = [str(p) for p in builder_documents(folder)]
        if corpus_dir is not None:
            paths += [str(p) for p in sorted((corpus_dir / "features").glob("*.hwp"))]
            paths += [str(p) for p in sorted((corpus_dir / "bad").glob("*.hwp"))]
        return paths + [str(folder / "missing.hwp")]

    def run_threads(self, paths: list[str]) -> None:
        expected = convert_all(paths)
        mismatches: list[str] = []
        errors: list[BaseException] = []

        def work(k: int) -> None:
            try:
                # Each thread starts at another document, so different documents overlap.
                got = convert_all((paths[k:] + paths[:k]) * 2)
                if got != (expected[2 * k :] + expected[: 2 * k]) * 2:
                    mismatches.append(f"thread {k}")
            except BaseException as error:  # reported below
                errors.append(error)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=600)
        assert not any(t.is_alive() for t in threads)
        assert not errors, errors
        assert not mismatches, f"results differ from one thread's in {mismatches}"

    def test_eight_threads_match_one_thread_on_built_documents(self, tmp_path):
        self.run_threads(self.documents(None, tmp_path))

    def test_eight_threads_match_one_thread_on_the_corpus(self, corpus_dir, tmp_path):
        self.run_threads(self.documents(corpus_dir, tmp_path))
