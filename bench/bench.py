"""The paravox benchmark: throughput against the floor, scaling, micro-benchmarks and hostile
inputs. Run it through `bash bench/run.sh`, which builds what it needs first.

    python3 bench/bench.py --build build/bench [--corpus DIR] [--rounds N] [--quick]

Prints a short table and writes bench/results.md. `child` is the mode in which it re-runs
itself to measure one document in a fresh process.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
MIB = 1 << 20

TARGET_DOCS_PER_SECOND = 25_000
TARGET_FLOOR_RATIO = 1.25
TARGET_SCALING_SPREAD = 0.20
CEILING_MESSAGE = "Parse error: Markdown output exceeds 268435456 bytes"
BOMB_MESSAGE = "Parse error: 압축 해제 실패: inflated section exceeds 268435456 bytes"


# --- child mode: one document in a fresh process ---------------------------------------------------

def status_kb(field: str) -> int:
    """A memory figure of this process from /proc/self/status, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def peak_kb() -> int:
    # VmHWM belongs to the address space made at exec; getrusage's ru_maxrss would also
    # count the parent's resident set at the fork.
    return status_kb("VmHWM")


def child(function: str, path: str, repeats: int, full_result: bool = False) -> None:
    """Calls `function` on `path` `repeats` times; prints one JSON object with the first and
    best call times, the resident memory before the first call and the peak of the process.
    A function of paravox._native ("native.NAME") runs the minimal profile."""
    if function.startswith("native."):
        from paravox import _native

        native = getattr(_native, function.removeprefix("native."))

        from paravox._convert import Options

        minimal = Options(profile="minimal")

        def call(path: str) -> object:
            return native(path, minimal)
    else:
        import _paravox

        call = getattr(_paravox, function)
    before = status_kb("VmRSS")
    times, cpu_times, result, error = [], [], None, None
    # The kernel accounts user and system time in clock ticks: only their totals over all the
    # calls are meaningful.
    usage_start = resource.getrusage(resource.RUSAGE_SELF)
    first_peak = 0
    for _ in range(repeats):
        result = None  # the previous result must not count toward the next call's peak
        start, cpu_start = time.perf_counter(), time.process_time()
        try:
            result = call(path)
        except Exception as exc:  # noqa: BLE001 - reported, not handled
            error = f"{type(exc).__name__}: {exc}"
        times.append(time.perf_counter() - start)
        cpu_times.append(time.process_time() - cpu_start)
        if not first_peak:
            # The first call in a fresh process: later calls meet an allocator already grown.
            first_peak = peak_kb()
        if error is not None:
            break
    usage_end = resource.getrusage(resource.RUSAGE_SELF)
    summary = None
    if isinstance(result, tuple):  # paravox._native: (markdown, format)
        result = result[0]
    if isinstance(result, str):
        summary = result[:40]
    elif isinstance(result, list):
        summary = f"{len(result)} records"
    print(json.dumps({
        "first_seconds": times[0],
        "best_seconds": min(times),
        "best_cpu_seconds": min(cpu_times),
        "mean_user_seconds": (usage_end.ru_utime - usage_start.ru_utime) / len(times),
        "mean_system_seconds": (usage_end.ru_stime - usage_start.ru_stime) / len(times),
        "calls": len(times),
        "rss_before_kb": before,
        "peak_rss_kb": first_peak,
        "peak_rss_all_calls_kb": peak_kb(),
        "output_chars": len(result) if isinstance(result, str) else None,
        "result": summary,
        "full_result": result if full_result and isinstance(result, str) else None,
        "error": error,
    }))


def run_child(build: Path, function: str, path: Path, repeats: int, timeout: float = 600,
              full_result: bool = False) -> dict:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(build), str(REPO_DIR / "python")]))
    done = subprocess.run(
        [sys.executable, str(Path(__file__).resolve()), "child", function, str(path), str(repeats)]
        + (["full"] if full_result else []),
        capture_output=True, text=True, timeout=timeout, env=env, check=False)
    if done.returncode != 0:
        return {"error": f"child exited with {done.returncode}: {done.stderr.strip()[-300:]}",
                "first_seconds": None, "best_seconds": None, "best_cpu_seconds": None,
                "mean_user_seconds": None, "mean_system_seconds": None, "peak_rss_kb": None,
                "rss_before_kb": None, "output_chars": None, "result": None, "full_result": None}
    return json.loads(done.stdout)


# --- throughput and floor ------------------------------------------------------------------------

def timed_round(convert: Callable[[str], object], paths: list[str]) -> tuple[float, float]:
    """Converts every document once with `convert`; returns wall and CPU seconds."""
    wall, cpu = time.perf_counter(), time.process_time()
    for path in paths:
        try:
            convert(path)
        except RuntimeError:
            pass
    return time.perf_counter() - wall, time.process_time() - cpu


def python_round(paths: list[str]) -> tuple[float, float]:
    """Converts every document once with the HWP module function; wall and CPU seconds."""
    import _paravox

    return timed_round(_paravox.hwp_to_markdown, paths)


def run_program(build: Path, name: str, mode: str, paths: list[str], rounds: int) -> dict:
    """The JSON a C++ bench program in build/bench prints for `mode` over `paths`."""
    program = build / "bench" / name
    done = subprocess.run([str(program), "--mode", mode, "--rounds", str(rounds), *paths],
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def floor_round(build: Path, mode: str, paths: list[str], rounds: int) -> dict:
    return run_program(build, "paravox_floor", mode, paths, rounds)


def throughput(build: Path, name: str, paths: list[str], rounds: int, repeats: int) -> dict:
    """Best of `repeats` × `rounds` passes for the module from Python, the core conversion from
    C++ and the floor, the three interleaved so that they see the same machine."""
    python_round(paths)  # warm the page cache and the allocator
    best = {"python": float("inf"), "python_cpu": float("inf"),
            "cpp": float("inf"), "cpp_cpu": float("inf"),
            "floor": float("inf"), "floor_cpu": float("inf")}
    floor = convert = {}
    for _ in range(repeats):
        for _ in range(rounds):
            wall, cpu = python_round(paths)
            best["python"] = min(best["python"], wall)
            best["python_cpu"] = min(best["python_cpu"], cpu)
        convert = floor_round(build, "convert", paths, rounds)
        best["cpp"] = min(best["cpp"], convert["best_seconds"])
        best["cpp_cpu"] = min(best["cpp_cpu"], convert["best_cpu_seconds"])
        floor = floor_round(build, "floor", paths, rounds)
        best["floor"] = min(best["floor"], floor["best_seconds"])
        best["floor_cpu"] = min(best["floor_cpu"], floor["best_cpu_seconds"])
    file_bytes = sum(os.path.getsize(p) for p in paths)
    return {"name": name, "documents": len(paths), "file_bytes": file_bytes,
            "inflated_bytes": floor["inflated_bytes"], "failed": floor["failed_documents"],
            "output_bytes": convert["output_bytes"], **best}


INSTRUCTION_DOCUMENTS = 100
PYTHON_LOOP = """
import sys
import _paravox
paths = open(sys.argv[2], encoding="utf-8").read().splitlines()
for _ in range(int(sys.argv[1])):
    for path in paths:
        try:
            _paravox.hwp_to_markdown(path)
        except RuntimeError:
            pass
"""


def callgrind_instructions(command: list[str], env: dict | None = None) -> int:
    with tempfile.TemporaryDirectory() as scratch:
        done = subprocess.run(["valgrind", "--tool=callgrind",
                               f"--callgrind-out-file={scratch}/callgrind.out", *command],
                              capture_output=True, text=True, env=env, check=True)
    for line in done.stderr.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1])
    raise RuntimeError(f"no instruction count from {command[0]}")


def instructions(build: Path, name: str, paths: list[str]) -> dict | None:
    """Instructions per document under callgrind, which unlike time does not move with the
    machine's load: each figure is the difference between four passes over the documents and
    two, so process start-up and imports cancel out."""
    if shutil.which("valgrind") is None:
        return None
    paths = paths[:INSTRUCTION_DOCUMENTS]
    floor_program = str(build / "bench" / "paravox_floor")
    # A fixed hash seed: with a random one, the interpreter's own work varies from run to run.
    env = dict(os.environ, PYTHONPATH=str(build), PYTHONHASHSEED="0")
    counts = {}
    with tempfile.NamedTemporaryFile("w", suffix=".txt", encoding="utf-8") as listing:
        listing.write("\n".join(paths))
        listing.flush()
        for passes in (2, 4):
            # paravox_floor makes one untimed pass before its timed rounds.
            for mode in ("floor", "convert"):
                counts[mode, passes] = callgrind_instructions(
                    [floor_program, "--mode", mode, "--rounds", str(passes - 1), *paths])
            counts["python", passes] = callgrind_instructions(
                [sys.executable, "-c", PYTHON_LOOP, str(passes), listing.name], env)
    per_document = {kind: (counts[kind, 4] - counts[kind, 2]) / (2 * len(paths))
                    for kind in ("floor", "convert", "python")}
    return {"name": name, "documents": len(paths), **per_document}


# --- scaling and hostile inputs ------------------------------------------------------------------

def scaling(build: Path, data: Path, sizes: dict[str, int], rounds: int) -> list[dict]:
    """Each size in a fresh process, `rounds` times, the sizes interleaved so that a noisy
    moment of the machine does not fall on one size only; the best round of each size counts
    (its peak memory is the largest of all rounds)."""
    import synthetic

    documents = {}
    for label, size in sizes.items():
        path = data / f"scaling-{size}.hwp"
        document, inflated = synthetic.scaling_document(size)
        path.write_bytes(document)
        del document
        documents[label] = (path, inflated)
    best: dict[str, dict] = {}
    for _ in range(rounds):
        for label, (path, inflated) in documents.items():
            # Enough calls for a stable best time without making the large sizes slow.
            repeats = max(3, min(200, (64 * MIB) // max(inflated, 1)))
            measured = run_child(build, "hwp_to_markdown", path, repeats)
            row = {"label": label, "inflated_bytes": inflated,
                   "file_bytes": path.stat().st_size, **measured}
            kept = best.get(label)
            if kept is None or kept["best_cpu_seconds"] is None or (
                    row["best_cpu_seconds"] is not None
                    and row["best_cpu_seconds"] < kept["best_cpu_seconds"]):
                if kept is not None and kept["peak_rss_kb"] is not None:
                    row["peak_rss_kb"] = max(row["peak_rss_kb"] or 0, kept["peak_rss_kb"])
                best[label] = row
            elif row["peak_rss_kb"] is not None:
                kept["peak_rss_kb"] = max(kept["peak_rss_kb"] or 0, row["peak_rss_kb"])
    return [best[label] for label in sizes]


def hostile(build: Path, data: Path) -> list[dict]:
    import synthetic

    # (input, call, document, expected outcome): ("returns", text), ("raises", message), or
    # ("bounded", None) where only time and memory matter.
    cases = [
        ("zero bomb as section 1 (300 MB of zeros)", "hwp_to_markdown",
         lambda: synthetic.bomb_document(1), ("returns", "section zero text")),
        ("zero bomb as section 0 (300 MB of zeros)", "hwp_debug_records",
         lambda: synthetic.bomb_document(0), ("raises", BOMB_MESSAGE)),
        ("zero bomb as section 0 (300 MB of zeros)", "hwp_to_markdown",
         lambda: synthetic.bomb_document(0), ("returns", "")),
        ("20-byte TABLE declaring 65,535 × 65,535 cells", "hwp_to_markdown",
         synthetic.huge_table_document, ("raises", CEILING_MESSAGE)),
        ("200,000 fake field markers, guide text of 2,000 characters", "hwp_to_markdown",
         lambda: synthetic.fake_marker_document(200_000, 2_000), ("raises", CEILING_MESSAGE)),
        ("20,000 fields, fake markers sharing their marks", "hwp_to_markdown",
         lambda: synthetic.chained_marker_document(20_000), ("bounded", None)),
        ("40 MB of zeros as section 0", "hwp_debug_records",
         lambda: synthetic.bomb_document(0, 40_000_000), ("records", 40_000_000)),
        ("256 MiB of zeros as section 0", "hwp_debug_records",
         lambda: synthetic.bomb_document(0, 256 * MIB), ("records", 256 * MIB)),
        ("40 MB section 0 of empty records, every (tag, level) in turn", "hwp_debug_records",
         lambda: synthetic.distinct_records_document(40_000_000), ("records", 40_000_000)),
    ]
    rows = []
    for index, (label, function, make, expected) in enumerate(cases):
        path = data / f"hostile-{index}.hwp"
        path.write_bytes(make())
        measured = run_child(build, function, path, 1, full_result=True)
        kind, value = expected
        if kind == "returns":
            met = measured["error"] is None and measured["full_result"] == value
            wanted = f"returns {value!r}"
        elif kind == "raises":
            met = measured["error"] == f"RuntimeError: {value}"
            wanted = f"RuntimeError: {value}"
        elif kind == "records":
            # Empty records: one per four bytes of the section, and the peak growth within
            # three sections and 50 MB.
            limit_kb = (3 * value + 50_000_000) / 1024
            met = (measured["result"] == f"{value // 4} records"
                   and measured["peak_rss_kb"] - measured["rss_before_kb"] <= limit_kb)
            wanted = (f"{value // 4:,} records; peak − before ≤ 3 × section + 50 MB "
                      f"({limit_kb / 1024:,.0f} MiB)")
        else:
            met = measured["first_seconds"] is not None
            wanted = "returns or raises, in bounded time and memory"
        rows.append({"label": label, "function": function, "expected": wanted, "met": met,
                     "file_bytes": path.stat().st_size, **measured})
    return rows


# --- HWPX ------------------------------------------------------------------------------------

TARGET_HWPX_FLOOR_RATIO = 2.0
TARGET_HWPX_PEAK = "3 × inflated XML + 30 MB"


def native_round(paths: list[str]) -> tuple[float, float]:
    """Converts every document once with paravox._native.convert_path (either format), in the
    minimal profile that the rest of this benchmark measures."""
    from paravox import _native
    from paravox._convert import Options

    minimal = Options(profile="minimal")
    return timed_round(lambda path: _native.convert_path(path, minimal), paths)


def hwpx_program(build: Path, mode: str, paths: list[str], rounds: int) -> dict:
    return run_program(build, "paravox_hwpx_floor", mode, paths, rounds)


def interleaved(build: Path, passes: dict[str, tuple[str, list[str]]], rounds: int,
                repeats: int) -> dict[str, dict]:
    """Best wall and CPU seconds of each named pass, the passes interleaved `repeats` times so
    that they see the same machine. A pass is ("python", paths) for paravox._native from
    Python, or (mode, paths) for paravox_hwpx_floor."""
    best: dict[str, dict] = {}
    for _ in range(repeats):
        for name, (mode, paths) in passes.items():
            if mode == "python":
                native_round(paths)  # warm
                times = [native_round(paths) for _ in range(rounds)]
                row = {"best_seconds": min(t[0] for t in times),
                       "best_cpu_seconds": min(t[1] for t in times)}
            else:
                row = hwpx_program(build, mode, paths, rounds)
            kept = best.setdefault(name, dict(row, documents=len(paths)))
            kept["best_seconds"] = min(kept["best_seconds"], row["best_seconds"])
            kept["best_cpu_seconds"] = min(kept["best_cpu_seconds"], row["best_cpu_seconds"])
    return best


def hwpx_scaling(build: Path, data: Path, sizes: dict[str, int], rounds: int) -> list[dict]:
    """Like scaling(), for HWPX documents with one section part of each size, converted by
    paravox._native.convert_path."""
    import synthetic

    documents = {}
    for label, size in sizes.items():
        path = data / f"scaling-{size}.hwpx"
        document, inflated = synthetic.hwpx_scaling_document(size)
        path.write_bytes(document)
        del document
        documents[label] = (path, inflated)
    best: dict[str, dict] = {}
    for _ in range(rounds):
        for label, (path, inflated) in documents.items():
            repeats = max(3, min(50, (64 * MIB) // max(inflated, 1)))
            row = {"label": label, "inflated_bytes": inflated, "file_bytes": path.stat().st_size,
                   **run_child(build, "native.convert_path", path, repeats)}
            kept = best.get(label)
            peaks = [r["peak_rss_kb"] for r in (row, kept) if r and r["peak_rss_kb"]]
            if kept is None or (row["best_cpu_seconds"] is not None
                                and (kept["best_cpu_seconds"] is None
                                     or row["best_cpu_seconds"] < kept["best_cpu_seconds"])):
                best[label] = kept = row
            kept["peak_rss_kb"] = max(peaks) if peaks else None
    return [best[label] for label in sizes]


def hwpx_measure(build: Path, corpus: Path, data: Path, args) -> dict:
    hwpx_dir = corpus / "hwpx"
    shared = sorted(str(p) for p in hwpx_dir.glob("*/*.hwpx"))
    twins = sorted(hwpx_dir.glob("twins/*.hwpx"))
    twin_hwpx = [str(p) for p in twins]
    twin_hwp = [str(p.with_suffix(".hwp")) for p in twins if p.with_suffix(".hwp").exists()]
    result: dict = {"shared_count": len(shared), "twin_count": len(twin_hwp)}
    if shared:
        print(f"HWPX throughput: {len(shared)} shared files", file=sys.stderr)
        # From Python, the files that are ZIP archives: the binary documents named .hwpx take
        # the binary route, which neither the floor nor hwpx_to_markdown does.
        packages = [p for p in shared if Path(p).read_bytes()[:2] == b"PK"]
        result["shared"] = interleaved(
            build, {"python": ("python", packages), "cpp": ("convert", shared),
                    "floor": ("floor", shared), "cpp full": ("full", shared),
                    "floor full": ("floor-full", shared), "expat": ("expat", shared),
                    "floor packages": ("floor", packages)},
            args.rounds, args.repeats)
    if twin_hwp:
        print(f"HWPX twins: {len(twin_hwp)} pairs", file=sys.stderr)
        result["twins"] = interleaved(
            build, {"python hwp": ("python", twin_hwp), "python hwpx": ("python", twin_hwpx),
                    "cpp hwp": ("convert-hwp", twin_hwp), "cpp hwpx": ("convert", twin_hwpx)},
            args.rounds, args.repeats)
    import synthetic

    sizes = dict(synthetic.HWPX_SCALING_SIZES)
    if args.quick:
        sizes.pop("100 MB")
    print("HWPX scaling", file=sys.stderr)
    result["scaling"] = hwpx_scaling(build, data, sizes, 1 if args.quick else args.scaling_rounds)
    return result


def render_hwpx(args, info: dict, loads: tuple, hx: dict) -> str:
    out = ["## HWPX", "",
           f"Measured {datetime.datetime.now().astimezone().strftime('%Y-%m-%d %H:%M %Z')}, "
           f"commit {info['commit']}, load average {loads[0]:.2f} at start and {loads[1]:.2f} at "
           f"end; best of {args.repeats} × {args.rounds} passes, the passes of each table "
           "interleaved in the same run.", ""]
    shared = hx.get("shared")
    if shared:
        py, cpp, floor = shared["python"], shared["cpp"], shared["floor"]
        n = cpp["documents"]
        out += ["Throughput over the shared HWPX files (`../shared/corpus/hwpx/*/*.hwpx`, "
                f"{n} files, {mb(floor['file_bytes']):.2f} MB, "
                f"{mb(floor['inflated_bytes']):.2f} MB "
                f"of section XML once inflated; {cpp['failed_documents']} refused: binary HWP "
                "files named .hwpx, a ZIP without mimetype, ZIP archives with more than 64 KiB "
                "after their end record). Core from C++ (`paravox_hwpx_floor --mode convert`, "
                "`--mode full`): read the file, `paravox::hwpx_to_markdown` in the minimal or the "
                "full profile. Floor (`--mode floor`): read the file, find the parts the minimal "
                "profile reads in the central directory, inflate each with zlib, nothing else; "
                "the full profile's floor (`--mode floor-full`) inflates header.xml besides. "
                "Floor + expat: the floor, then expat over each section part with no handlers "
                "set. Conversion from Python: `paravox._native.convert_path` (minimal) over the "
                f"{py['documents']} files that are ZIP archives, against the floor over the same.",
                "", "| | docs/s (wall) | docs/s (CPU) | / its floor (wall) | / its floor (CPU) "
                "| target |", "|---|---|---|---|---|---|"]
        rows = (("core from C++, minimal", cpp, floor, True),
                ("core from C++, full", shared["cpp full"], shared["floor full"], True),
                ("conversion from Python, minimal", py, shared["floor packages"], False),
                ("floor + expat, no handlers", shared["expat"], floor, False),
                ("floor", floor, floor, False),
                ("floor, full", shared["floor full"], shared["floor full"], False))
        for label, r, base, targeted in rows:
            docs = r["documents"]
            ratio_w = r["best_seconds"] / base["best_seconds"]
            ratio_c = r["best_cpu_seconds"] / base["best_cpu_seconds"]
            target = (f"≤ {TARGET_HWPX_FLOOR_RATIO:.0f} "
                      f"({verdict(ratio_w <= TARGET_HWPX_FLOOR_RATIO)})" if targeted else "")
            out.append(f"| {label} | {docs / r['best_seconds']:,.0f} | "
                       f"{docs / r['best_cpu_seconds']:,.0f} | {ratio_w:.2f} | {ratio_c:.2f} | "
                       f"{target} |")
    twins = hx.get("twins")
    if twins:
        n = twins["python hwp"]["documents"]
        out += ["", f"Binary against HWPX on the {n} twins (the same documents saved in both "
                "formats):", "", "| | binary .hwp docs/s | HWPX docs/s | HWPX / binary time |",
                "|---|---|---|---|"]
        for label, a, b in (("from Python (`paravox._native.convert_path`)", "python hwp",
                             "python hwpx"), ("core from C++", "cpp hwp", "cpp hwpx")):
            ta, tb = twins[a]["best_seconds"], twins[b]["best_seconds"]
            out.append(f"| {label} | {n / ta:,.0f} | {n / tb:,.0f} | {tb / ta:.2f} |")
    scale = hx.get("scaling") or []
    if scale:
        out += ["", "Scaling: HWPX documents from the HWPX fixture writer (`bench/synthetic.py`), "
                "one section part repeating paragraphs with a click-here field, a table with a "
                "nested table, an equation and a captioned picture, converted by "
                "`paravox._native.convert_path`, each size in fresh processes (interleaved "
                "rounds, best kept); peak RSS is VmHWM of the first call, interpreter included.",
                "", "| section XML | file | best call (wall / CPU) | CPU ms per MiB | vs 1 MB | "
                f"peak RSS (before) | limit {TARGET_HWPX_PEAK} |", "|---|---|---|---|---|---|---|"]
        base = next((r for r in scale if r["label"] == "1 MB" and r["best_cpu_seconds"]), None)
        base_cpu = base["best_cpu_seconds"] / (base["inflated_bytes"] / MIB) if base else None
        for r in scale:
            if r["best_seconds"] is None:
                out.append(f"| {r['label']} | | failed: {r['error']} | | | | |")
                continue
            mib = r["inflated_bytes"] / MIB
            cpu = r["best_cpu_seconds"] / mib
            peak = r["peak_rss_kb"] / 1024
            limit = (3 * r["inflated_bytes"] + 30_000_000) / MIB
            out.append(f"| {r['label']} ({r['inflated_bytes']:,} B) | {r['file_bytes'] / 1024:,.0f}"
                       f" KiB | {fmt_seconds(r['best_seconds'])} / "
                       f"{fmt_seconds(r['best_cpu_seconds'])} | {cpu * 1e3:.2f} | "
                       f"{cpu / base_cpu:.2f} | {peak:.0f} MiB "
                       f"({r['rss_before_kb'] / 1024:.0f} MiB)"
                       f" | {limit:.0f} MiB {verdict(peak <= limit)} |")
    return "\n".join(out) + "\n"


def print_hwpx_summary(hx: dict) -> None:
    shared, twins = hx.get("shared"), hx.get("twins")
    if shared:
        n = shared["cpp"]["documents"]
        minimal = shared["cpp"]["best_seconds"] / shared["floor"]["best_seconds"]
        full = shared["cpp full"]["best_seconds"] / shared["floor full"]["best_seconds"]
        python = shared["python"]["best_seconds"] / shared["floor packages"]["best_seconds"]
        print(f"\nHWPX shared files: C++ {n / shared['cpp']['best_seconds']:,.0f} docs/s, floor "
              f"{n / shared['floor']['best_seconds']:,.0f}; / floor: minimal {minimal:.2f}, "
              f"full {full:.2f} (its floor), from Python {python:.2f}")
    if twins:
        python = twins["python hwpx"]["best_seconds"] / twins["python hwp"]["best_seconds"]
        cpp = twins["cpp hwpx"]["best_seconds"] / twins["cpp hwp"]["best_seconds"]
        print(f"twins: HWPX / binary time {python:.2f} (C++ {cpp:.2f})")
    for r in hx.get("scaling") or []:
        if r["best_cpu_seconds"]:
            mib = r["inflated_bytes"] / MIB
            print(f"HWPX {r['label']:<8} CPU {r['best_cpu_seconds'] / mib * 1e3:.2f} ms/MiB, "
                  f"peak {r['peak_rss_kb'] / 1024:.0f} MiB")


# --- profiles --------------------------------------------------------------------------------------

TARGET_FULL_OVER_MINIMAL = 1.15
PROFILE_MODES = (("floor", "floor"), ("minimal", "convert"), ("full", "full"))


def profile_costs(build: Path, corpus: Path, args) -> list[dict]:
    """The full profile against the minimal one and the read+inflate floor, in each format, on
    the same documents by the same C++ route: instructions per document under callgrind (three
    passes minus two, so start-up cancels out) and documents/s (best of interleaved rounds)."""
    sets = [("binary", "paravox_floor",
             sorted(str(p) for n in ("realworld", "features") for p in (corpus / n).glob("*.hwp"))),
            ("HWPX", "paravox_hwpx_floor",
             sorted(str(p) for p in (corpus / "hwpx").glob("*/*.hwpx")))]
    rows = []
    for name, program, paths in sets:
        if not paths:
            continue
        print(f"profiles: {name} ({len(paths)} documents)", file=sys.stderr)
        row: dict = {"name": name, "documents": len(paths)}
        command = str(build / "bench" / program)
        if shutil.which("valgrind") is not None:
            for label, mode in PROFILE_MODES:
                # The programs make one untimed pass before their timed rounds.
                two, three = (callgrind_instructions([command, "--mode", mode, "--rounds",
                                                      str(rounds), *paths]) for rounds in (1, 2))
                row[label + "_instructions"] = (three - two) / len(paths)
        for _ in range(args.repeats):
            for label, mode in PROFILE_MODES:
                measured = run_program(build, program, mode, paths, args.rounds)
                for key in ("best_seconds", "best_cpu_seconds"):
                    kept = row.get(f"{label}_{key}", float("inf"))
                    row[f"{label}_{key}"] = min(kept, measured[key])
        rows.append(row)
    return rows


def render_profiles(args, info: dict, loads: tuple, rows: list[dict]) -> str:
    out = ["## Profiles", "",
           f"Measured {datetime.datetime.now().astimezone().strftime('%Y-%m-%d %H:%M %Z')}, "
           f"commit {info['commit']}, load average {loads[0]:.2f} at start and {loads[1]:.2f} at "
           "end. The same documents by the same C++ route (`paravox_floor`: open, FileHeader, "
           "`convert_body`; `paravox_hwpx_floor`: read the file, `hwpx_to_markdown`) in the "
           "minimal and the full profile, beside the floor (read and inflate every section, "
           "nothing else). Binary: `realworld` and `features`; HWPX: `hwpx/*/*.hwpx` (its "
           "refused files included). Instructions per document under callgrind (three passes "
           "minus two); documents/s: best of "
           f"{args.repeats} × {args.rounds} interleaved passes.", "",
           "| | instructions / doc | docs/s (wall) | docs/s (CPU) | / minimal (instructions) |",
           "|---|---|---|---|---|"]
    for r in rows:
        minimal = r.get("minimal_instructions")
        for label, _ in PROFILE_MODES:
            count = r.get(f"{label}_instructions")
            ratio = f"{count / minimal:.3f}" if count and minimal else "-"
            if label == "full" and count and minimal:
                ratio += (f" (target ≤ {TARGET_FULL_OVER_MINIMAL:.2f}: "
                          f"{verdict(count / minimal <= TARGET_FULL_OVER_MINIMAL)})")
            out.append(f"| {r['name']}: {label} ({r['documents']} documents) | "
                       + (f"{count:,.0f}" if count else "-")
                       + f" | {r['documents'] / r[label + '_best_seconds']:,.0f}"
                       f" | {r['documents'] / r[label + '_best_cpu_seconds']:,.0f} | {ratio} |")
    return "\n".join(out) + "\n"


def print_profiles_summary(rows: list[dict]) -> None:
    for r in rows:
        minimal, full = r.get("minimal_instructions"), r.get("full_instructions")
        ratio = f"{full / minimal:.3f} in instructions, " if minimal and full else ""
        print(f"{r['name']}: full / minimal {ratio}"
              f"{r['full_best_cpu_seconds'] / r['minimal_best_cpu_seconds']:.3f} in CPU time")


def merge_section(path: Path, heading: str, section: str) -> None:
    """Puts `section` (which starts with `heading`) into an existing results file in place of
    an earlier one."""
    text = path.read_text(encoding="utf-8") if path.exists() else "# Benchmark results\n"
    start = text.find(f"\n{heading}\n")
    if start >= 0:
        end = text.find("\n## ", start + 1)
        text = text[:start] + (text[end:] if end >= 0 else "\n")
    path.write_text(text.rstrip("\n") + "\n\n" + section, encoding="utf-8")


# --- micro-benchmarks ----------------------------------------------------------------------------

def micro(build: Path, corpus_dirs: list[Path], min_time: float) -> list[dict]:
    program = build / "bench" / "paravox_micro"
    done = subprocess.run(
        [str(program), f"--benchmark_min_time={min_time}", "--benchmark_format=json",
         *map(str, corpus_dirs)], capture_output=True, text=True, check=True)
    report = json.loads(done.stdout)
    return [{"name": b["name"], "mb_per_s": b.get("bytes_per_second", 0) / 1e6 or None,
             "items_per_s": b.get("items_per_second"), "cpu_ns": b["cpu_time"]}
            for b in report["benchmarks"]]


# --- report --------------------------------------------------------------------------------------

def machine() -> dict:
    model = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        memory_kb = int(info.readline().split()[1])
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout
    commit = subprocess.run(["git", "-C", str(REPO_DIR), "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", str(REPO_DIR), "status", "--porcelain", "--", "core",
                            "bindings"], capture_output=True, text=True).stdout.strip()
    return {"cpu": model, "cores": os.cpu_count(), "memory_gib": memory_kb / (1 << 20),
            "kernel": platform.release(), "python": platform.python_version(),
            "compiler": compiler.splitlines()[0] if compiler else "unknown",
            "commit": commit + (" with uncommitted changes to core/ or bindings/" if dirty else ""),
            "load": os.getloadavg()}


def mb(n: float) -> float:
    return n / 1e6


def fmt_seconds(s: float | None) -> str:
    if s is None:
        return "-"
    return f"{s * 1e3:.1f} ms" if s < 10 else f"{s:.1f} s"


def verdict(ok: bool) -> str:
    return "met" if ok else "**not met**"


def render(args, info: dict, loads: tuple, sets: list[dict], instruction_sets: list,
           scale: list[dict], hostile_rows: list[dict], micro_rows: list[dict]) -> str:
    out = ["# Benchmark results", ""]
    out += [f"- Date: {datetime.datetime.now().astimezone().strftime('%Y-%m-%d %H:%M %Z')}",
            f"- Command: `{os.environ.get('PARAVOX_BENCH_COMMAND', ' '.join(['python3'] + sys.argv))}`",
            f"- Machine: {info['cpu']}, {info['cores']} cores, {info['memory_gib']:.1f} GiB, "
            f"Linux {info['kernel']}, Python {info['python']}, {info['compiler']}, Release build",
            f"- Commit: {info['commit']}",
            f"- Load average (1 min) at start and end: {loads[0]:.2f}, {loads[1]:.2f} "
            "(the machine is shared; wall times are the best of "
            f"{args.repeats} × {args.rounds} passes, CPU times are given beside them)",
            ""]

    out += ["## Throughput against the floor", "",
            "Conversion: `_paravox.hwp_to_markdown` called from Python over every document, one "
            "process, warm page cache. Core from C++: `paravox::hwp_to_markdown` over the same "
            "files, no Python. Floor: open the container, read the FileHeader, read and inflate "
            "every section, nothing else (the core's own functions, from C++). The three run "
            "interleaved in the same run.", "",
            "| | " + " | ".join(s["name"] for s in sets) + " | target |",
            "|---|" + "---|" * len(sets) + "---|"]

    def row(label, values, target=""):
        out.append(f"| {label} | " + " | ".join(values) + f" | {target} |")

    row("documents (refused by the container or header)",
        [f"{s['documents']} ({s['failed']})" for s in sets])
    row("file bytes / inflated bytes",
        [f"{mb(s['file_bytes']):.2f} MB / {mb(s['inflated_bytes']):.2f} MB" for s in sets])
    row("conversion, docs/s (wall)", [f"{s['documents'] / s['python']:,.0f}" for s in sets],
        f"≥ {TARGET_DOCS_PER_SECOND:,} on realworld")
    row("conversion, docs/s (CPU)", [f"{s['documents'] / s['python_cpu']:,.0f}" for s in sets])
    row("conversion, MB/s of file / inflated bytes",
        [f"{mb(s['file_bytes']) / s['python']:.1f} / {mb(s['inflated_bytes']) / s['python']:.1f}"
         for s in sets])
    row("core from C++, docs/s (wall)", [f"{s['documents'] / s['cpp']:,.0f}" for s in sets])
    row("floor, docs/s (wall)", [f"{s['documents'] / s['floor']:,.0f}" for s in sets])
    row("floor, MB/s of file / inflated bytes",
        [f"{mb(s['file_bytes']) / s['floor']:.1f} / {mb(s['inflated_bytes']) / s['floor']:.1f}"
         for s in sets])
    row("**conversion / floor** (wall)", [f"{s['python'] / s['floor']:.2f}" for s in sets],
        f"≤ {TARGET_FLOOR_RATIO}")
    row("conversion / floor (CPU)", [f"{s['python_cpu'] / s['floor_cpu']:.2f}" for s in sets])
    counted = [c for c in instruction_sets if c]
    if counted:
        out += ["", "Instructions per document under callgrind (`valgrind --tool=callgrind`; four "
                "passes minus two, so start-up cancels out), over the first "
                f"{INSTRUCTION_DOCUMENTS} documents of each set: unlike the times above, these do "
                "not move with the load of the machine.", "",
                "| | " + " | ".join(c["name"] for c in counted) + " |",
                "|---|" + "---|" * len(counted)]
        for label, key in (("conversion from Python", "python"), ("core from C++", "convert"),
                           ("floor", "floor")):
            out.append(f"| {label} | " + " | ".join(f"{c[key]:,.0f}" for c in counted) + " |")
        out.append("| **conversion / floor** (instructions) | "
                   + " | ".join(f"{c['python'] / c['floor']:.3f}" for c in counted) + " |")
        out.append("| core from C++ / floor (instructions) | "
                   + " | ".join(f"{c['convert'] / c['floor']:.3f}" for c in counted) + " |")
    rw = next((s for s in sets if s["name"] == "realworld"), None)
    if rw:
        counted_rw = next((c for c in counted if c["name"] == "realworld"), None)
        by_instructions = ""
        if counted_rw:
            ratio = counted_rw["python"] / counted_rw["floor"]
            by_instructions = (f"; {ratio:.3f} in instructions "
                               f"({verdict(ratio <= TARGET_FLOOR_RATIO)})")
        out += ["", f"realworld: {rw['documents'] / rw['python']:,.0f} docs/s "
                f"({verdict(rw['documents'] / rw['python'] >= TARGET_DOCS_PER_SECOND)}), "
                f"conversion / floor {rw['python'] / rw['floor']:.2f} in wall time "
                f"({verdict(rw['python'] / rw['floor'] <= TARGET_FLOOR_RATIO)})"
                f"{by_instructions}."]

    out += ["", "## Scaling", "",
            "Documents from the fixture builder (`bench/synthetic.py`): one compressed section "
            "repeating paragraphs with a click-here field, a table with a nested table, an "
            "equation and a captioned picture. Each size runs in a fresh process, in interleaved "
            "rounds; the time is the best call of the best round, the peak is the process's high-water resident set, VmHWM (interpreter included; "
            "the resident set before the first call is given beside it).", "",
            "| inflated section | file | best call (wall / CPU) | per inflated MiB: best wall / best "
            "CPU (mean user + mean system) | CPU per MiB vs 1 MB | peak RSS (before call) | "
            "limit 2 × inflated + 30 MB |",
            "|---|---|---|---|---|---|---|"]
    base = next((r for r in scale if r["label"] == "1 MB" and r["best_seconds"]), None)
    base_cpu = base["best_cpu_seconds"] / (base["inflated_bytes"] / MIB) if base else None
    per_mb_wall, per_mb_cpu, per_mb_user = [], [], []
    for r in scale:
        if r["best_seconds"] is None:
            out.append(f"| {r['label']} | | failed: {r['error']} | | | | |")
            continue
        mib = r["inflated_bytes"] / MIB
        wall, cpu = r["best_seconds"] / mib, r["best_cpu_seconds"] / mib
        user = r["mean_user_seconds"] / mib
        system = r["mean_system_seconds"] / mib
        if r["inflated_bytes"] >= MIB:
            per_mb_wall.append(wall)
            per_mb_cpu.append(cpu)
            per_mb_user.append(user)
        limit = (2 * r["inflated_bytes"] + 30_000_000) / MIB
        peak = r["peak_rss_kb"] / 1024
        relative = f"{cpu / base_cpu:.2f}" if base_cpu else "-"
        out.append(f"| {r['label']} ({r['inflated_bytes']:,} B) | {r['file_bytes'] / 1024:,.0f} KiB"
                   f" | {fmt_seconds(r['best_seconds'])} / {fmt_seconds(r['best_cpu_seconds'])}"
                   f" | {wall * 1e3:.2f} / {cpu * 1e3:.2f} ms ({user * 1e3:.2f} + "
                   f"{system * 1e3:.2f}) | {relative}"
                   f" | {peak:.0f} MiB ({r['rss_before_kb'] / 1024:.0f} MiB)"
                   f" | {limit:.0f} MiB {'met' if peak <= limit else '**not met**'} |")
    if per_mb_cpu:
        spread_wall = max(per_mb_wall) / min(per_mb_wall) - 1
        spread_cpu = max(per_mb_cpu) / min(per_mb_cpu) - 1
        spread_user = max(per_mb_user) / min(per_mb_user) - 1
        out += ["", f"Time per inflated MiB from 1 MB to 100 MB varies by {spread_cpu * 100:.0f} % in "
                f"CPU time ({verdict(spread_cpu <= TARGET_SCALING_SPREAD)}; target ≤ "
                f"{TARGET_SCALING_SPREAD * 100:.0f} %), by {spread_wall * 100:.0f} % in wall time and by "
                f"{spread_user * 100:.0f} % in mean user CPU time. The system time is the kernel "
                "handing out fresh pages: every call of a large document maps its buffers anew. "
                "Peak RSS is that of the first call in the fresh process; the limit applies to the "
                "100 MB document."]

    out += ["", "## Micro-benchmarks", "",
            "Google Benchmark (`paravox_micro`) over every section of the corpus documents. MB/s "
            "counts the stage's input, except `render_table` and `assemble_markdown`, which count "
            "the Markdown they write.", "", "| stage | MB/s | per second |", "|---|---|---|"]
    for m in micro_rows:
        items = f"{m['items_per_s']:,.0f} documents" if m["items_per_s"] else ""
        mbs = f"{m['mb_per_s']:,.0f}" if m["mb_per_s"] else ""
        out.append(f"| {m['name']} | {mbs} | {items} |")

    out += ["", "## Hostile inputs", "",
            "Each document is converted once in a fresh child process; peak RSS includes the "
            "interpreter (before the call given in brackets).", "",
            "| input | call | expected | outcome | as expected | time | peak RSS (before) |",
            "|---|---|---|---|---|---|---|"]
    for r in hostile_rows:
        outcome = r["error"] if r["error"] else f"returned {r['result']!r}"
        out.append(f"| {r['label']} ({r['file_bytes']:,} B file) | `{r['function']}` | "
                   f"{r['expected']} | {outcome} | {'yes' if r['met'] else '**no**'} | "
                   f"{fmt_seconds(r['first_seconds'])} | "
                   + (f"{r['peak_rss_kb'] / 1024:.0f} MiB ({r['rss_before_kb'] / 1024:.0f} MiB)"
                      if r["peak_rss_kb"] else "-") + " |")
    return "\n".join(out) + "\n"


def print_summary(sets, instruction_sets, scale, hostile_rows, micro_rows) -> None:
    print()
    print(f"{'set':<11}{'docs/s':>10}{'C++ docs/s':>12}{'floor/s':>10}{'conv/floor':>12}"
          f"{'instr. conv/floor':>19}")
    counted = {c["name"]: c for c in instruction_sets if c}
    for s in sets:
        c = counted.get(s["name"])
        print(f"{s['name']:<11}{s['documents'] / s['python']:>10,.0f}"
              f"{s['documents'] / s['cpp']:>12,.0f}{s['documents'] / s['floor']:>10,.0f}"
              f"{s['python'] / s['floor']:>12.2f}"
              + (f"{c['python'] / c['floor']:>19.3f}" if c else ""))
    print(f"\n{'scaling':<11}{'ms/MiB':>10}{'CPU ms/MiB':>12}{'peak MiB':>10}")
    for r in scale:
        if r["best_seconds"]:
            mib = r["inflated_bytes"] / MIB
            print(f"{r['label']:<11}{r['best_seconds'] / mib * 1e3:>10.2f}"
                  f"{r['best_cpu_seconds'] / mib * 1e3:>12.2f}{r['peak_rss_kb'] / 1024:>10.0f}")
    print(f"\n{'micro':<34}{'MB/s':>10}")
    for m in micro_rows:
        print(f"{m['name']:<34}{(m['mb_per_s'] or 0):>10,.0f}")
    print(f"\n{'hostile':<60}{'time':>10}{'peak MiB':>10}  as expected")
    for r in hostile_rows:
        print(f"{r['label'][:40] + ' ' + r['function']:<60}{fmt_seconds(r['first_seconds']):>10}"
              f"{(r['peak_rss_kb'] or 0) / 1024:>10.0f}  {'yes' if r['met'] else 'NO'}")


def main() -> None:
    if len(sys.argv) > 1 and sys.argv[1] == "child":
        child(sys.argv[2], sys.argv[3], int(sys.argv[4]), full_result=sys.argv[5:] == ["full"])
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=REPO_DIR / "build" / "bench")
    parser.add_argument("--corpus", type=Path, default=REPO_DIR.parent / "shared" / "corpus")
    parser.add_argument("--rounds", type=int, default=10, help="passes per repeat")
    parser.add_argument("--repeats", type=int, default=5, help="interleaved repeats")
    parser.add_argument("--scaling-rounds", type=int, default=3,
                        help="fresh processes per scaling size")
    parser.add_argument("--quick", action="store_true", help="skip the 100 MB size, short micro")
    parser.add_argument("--out", type=Path, default=BENCH_DIR / "results.md")
    parser.add_argument("--hwpx-only", action="store_true",
                        help="measure HWPX alone and replace only that section of --out")
    parser.add_argument("--profiles-only", action="store_true",
                        help="measure the profiles alone and replace only that section of --out")
    args = parser.parse_args()

    build = args.build.resolve()
    sys.path.insert(0, str(build))
    sys.path.insert(0, str(REPO_DIR / "python"))
    sys.path.insert(0, str(BENCH_DIR))
    data = build / "bench-data"
    data.mkdir(parents=True, exist_ok=True)
    load_start = os.getloadavg()[0]
    info = machine()
    if args.hwpx_only:
        hx = hwpx_measure(build, args.corpus, data, args)
        loads = (load_start, os.getloadavg()[0])
        print_hwpx_summary(hx)
        merge_section(args.out, "## HWPX", render_hwpx(args, info, loads, hx))
        print(f"\nwrote the HWPX section of {args.out}")
        return
    if args.profiles_only:
        rows = profile_costs(build, args.corpus, args)
        loads = (load_start, os.getloadavg()[0])
        print_profiles_summary(rows)
        merge_section(args.out, "## Profiles", render_profiles(args, info, loads, rows))
        print(f"\nwrote the Profiles section of {args.out}")
        return

    sets, instruction_sets = [], []
    for name in ("realworld", "features"):
        folder = args.corpus / name
        if not folder.is_dir():
            print(f"skipping {name}: {folder} not found", file=sys.stderr)
            continue
        paths = sorted(str(p) for p in folder.glob("*.hwp"))
        print(f"throughput: {name} ({len(paths)} documents)", file=sys.stderr)
        sets.append(throughput(build, name, paths, args.rounds, args.repeats))
        if not args.quick:
            print(f"instructions: {name}", file=sys.stderr)
            instruction_sets.append(instructions(build, name, paths))

    import synthetic

    sizes = dict(synthetic.SCALING_SIZES)
    if args.quick:
        sizes.pop("100 MB")
    print("scaling", file=sys.stderr)
    scale = scaling(build, data, sizes, 1 if args.quick else args.scaling_rounds)
    print("hostile inputs", file=sys.stderr)
    hostile_rows = hostile(build, data)
    print("micro-benchmarks", file=sys.stderr)
    corpus_dirs = [args.corpus / n for n in ("realworld", "features") if (args.corpus / n).is_dir()]
    micro_rows = micro(build, corpus_dirs, 0.1 if args.quick else 0.5) if corpus_dirs else []
    hx = hwpx_measure(build, args.corpus, data, args)
    profile_rows = profile_costs(build, args.corpus, args)

    loads = (load_start, os.getloadavg()[0])
    print_summary(sets, instruction_sets, scale, hostile_rows, micro_rows)
    print_hwpx_summary(hx)
    print_profiles_summary(profile_rows)
    args.out.write_text(render(args, info, loads, sets, instruction_sets, scale, hostile_rows,
                               micro_rows) + "\n" + render_hwpx(args, info, loads, hx)
                        + "\n" + render_profiles(args, info, loads, profile_rows),
                        encoding="utf-8")
    print(f"\nwrote {args.out}")


if __name__ == "__main__":
    main()
