"""Checks an installed paravox wheel: run by scripts/check-wheel.sh with the interpreter of the
fresh environment the wheel was installed into, from a folder outside the repository.

    python check_wheel.py CORPUS WHEEL_VERSION

1. The extension modules: the wheel pip chose is the one for the stable ABI from Python 3.11 on
   (cp311-abi3, modules named *.abi3.so), the interpreter's own before; every library they need
   is either inside the installed wheel or a system library every manylinux platform provides;
   their only exported symbol is the init function; every symbol they import comes from the C
   and C++ runtimes or the interpreter, so zlib, the compound-file reader and the ZIP and XML
   readers are all inside them.
2. Conversion of shared documents of both formats, compared byte for byte with their expected
   Markdown or error message, and the command line on some of them.
3. In a process that has Python's zlib module, numpy and the system zlib (loaded globally)
   besides paravox, conversion and a zlib round trip still give the right results, and the
   dynamic linker's log shows no symbol bound between the modules and any other zlib.
"""

from __future__ import annotations

import functools
import importlib.metadata
import json
import os
import re
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path
from typing import Any, Callable

# Extension modules the wheel must hold, by import name.
MODULES = ["_paravox", "paravox._native"]

# Libraries the manylinux platforms guarantee; anything else must come with the wheel.
SYSTEM_LIBRARIES = {
    "linux-vdso.so.1",
    "ld-linux-x86-64.so.2",
    "libc.so.6",
    "libm.so.6",
    "libpthread.so.0",
    "libdl.so.2",
    "librt.so.1",
    "libstdc++.so.6",
    "libgcc_s.so.1",
}
# Symbol versions of those libraries, for imported symbols.
SYSTEM_VERSIONS = re.compile(r"@(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+$")
# What the libraries linked into the modules would be called if a module loaded them itself.
OUR_LIBRARIES = re.compile(r"lib(olecf|bfio|z|minizip|expat|zip|xml2)\b")

# Binary documents, by corpus path; the expected output of X/NAME.hwp is expected/X/NAME.md (or
# .error, the message).
BINARY_DOCUMENTS = [
    "features/table.hwp",
    "features/수식.hwp",
    "features/필드.hwp",
    "features/footnote-endnote.hwp",
    "features/글상자-압축.hwp",
    "features/구버전(5.0.2.2) Picture 컨트롤.hwp",
    "features/password-12345.hwp",
    "bad/010000000000141827.hwp",
]
# Not a compound file: the package names what it appears to be instead.
NOT_COMPOUND = "bad/010000000000141827.hwp"

failures: list[str] = []


def check(condition: bool, what: str) -> None:
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def run(*command: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(command, check=True, capture_output=True, text=True)


def installed_modules() -> dict[str, Path]:
    """The installed extension modules of the paravox distribution, by import name."""
    modules = {}
    for file in importlib.metadata.files("paravox") or []:
        if file.name.endswith(".so") and ".libs" not in str(file.parent):
            name = ".".join(file.parts[:-1] + (file.name.split(".")[0],))
            modules[name] = Path(str(file.locate())).resolve()
    return modules


def check_abi(modules: dict[str, Path]) -> None:
    """From 3.11 on, the one wheel for the stable ABI; for 3.10, the wheel for its own ABI."""
    wheel = importlib.metadata.distribution("paravox").read_text("WHEEL") or ""
    tags = [line.split(":", 1)[1].strip() for line in wheel.splitlines() if line.startswith("Tag:")]
    stable = sys.version_info >= (3, 11)
    interpreter = "cp%d%d" % sys.version_info[:2]
    want_tag = "cp311-abi3-" if stable else f"{interpreter}-{interpreter}-"
    want_suffix = ".abi3.so" if stable else sysconfig.get_config_var("EXT_SUFFIX")
    check(
        len(tags) > 0 and all(tag.startswith(want_tag) for tag in tags),
        f"Python {sys.version.split()[0]} installed the {want_tag}* wheel {tags}",
    )
    check(
        all(path.name.endswith(want_suffix) for path in modules.values()),
        f"the modules are named *{want_suffix}",
    )


def check_libraries(modules: dict[str, Path]) -> None:
    site = Path(str(importlib.metadata.distribution("paravox").locate_file(""))).resolve()
    for name, path in modules.items():
        ldd = run("ldd", str(path)).stdout
        print(f"--- ldd {path.name}\n{ldd.rstrip()}")
        outside = []
        for line in ldd.splitlines():
            soname, _, target = line.strip().partition(" => ")
            target = target.split(" (")[0].strip()
            if "not found" in target:
                outside.append(line.strip())
            elif target and Path(target).resolve().is_relative_to(site):
                continue  # vendored by auditwheel into the wheel
            elif soname.split(" ")[0].split("/")[-1] not in SYSTEM_LIBRARIES:
                outside.append(line.strip())
        check(not outside, f"{name}: needs no library from outside the wheel {outside or ''}")
        check(
            not OUR_LIBRARIES.search(ldd),
            f"{name}: loads no zlib, compound-file, ZIP or XML library of its own",
        )

        exported = run("nm", "-D", "--defined-only", str(path)).stdout.split()[2::3]
        print(f"--- exported by {path.name}: {' '.join(exported)}")
        init = "PyInit_" + name.rpartition(".")[2]
        check(exported == [init], f"{name}: exports {init} and nothing else")

        imported = run("nm", "-D", "--undefined-only", str(path)).stdout.split()
        foreign = [
            symbol
            for symbol in imported
            if symbol not in ("U", "w", "v")
            and not SYSTEM_VERSIONS.search(symbol)
            and not re.match(r"_?Py", symbol)
            and symbol
            not in ("__gmon_start__", "_ITM_registerTMCloneTable", "_ITM_deregisterTMCloneTable")
        ]
        check(
            not foreign,
            f"{name}: imports only C/C++ runtime and interpreter symbols {foreign[:10] or ''}",
        )


def expected(corpus: Path, document: str) -> tuple[str, str]:
    """("md", Markdown) or ("error", message): what a binary document converts to."""
    stem = corpus / "expected" / document.removesuffix(".hwp")
    for kind in ("md", "error"):
        path = stem.with_name(f"{stem.name}.{kind}")
        if path.exists():
            return kind, path.read_text(encoding="utf-8")
    raise FileNotFoundError(f"no expected output for {document}")


def minimal(convert: Callable[..., str]) -> Callable[[Any], str]:
    """`convert` asking for the minimal profile, whose output the expected files hold."""
    return functools.partial(convert, profile="minimal")


def outcome(convert: Callable[[Any], str], source: object) -> tuple[str, str]:
    try:
        return "md", convert(source)
    except RuntimeError as error:
        return "error", str(error)


def hwpx_twins(corpus: Path) -> list[tuple[Path, str]]:
    """The HWPX twins and the Markdown their binary twins convert to."""
    return [
        (twin, (corpus / "hwpx/expected" / f"{twin.stem}.md").read_text(encoding="utf-8"))
        for twin in sorted((corpus / "hwpx/twins").glob("*.hwpx"))
    ]


def check_conversion(corpus: Path) -> None:
    import _paravox
    import paravox

    for document in BINARY_DOCUMENTS:
        want = expected(corpus, document)
        path = corpus / document
        got = outcome(_paravox.hwp_to_markdown, str(path))
        check(got == want, f"_paravox.hwp_to_markdown {document} ({want[0]})")
        if document != NOT_COMPOUND:
            check(
                outcome(minimal(paravox.convert), path) == want,
                f"paravox.convert {document} ({want[0]})",
            )
    try:
        paravox.convert(corpus / NOT_COMPOUND)
        check(False, f"paravox.convert {NOT_COMPOUND} fails")
    except paravox.NotADocumentError as error:
        check(str(error).startswith("Not an HWP or HWPX document: "), f"{NOT_COMPOUND}: {error}")

    twins = hwpx_twins(corpus)
    check(len(twins) > 0, "the corpus has HWPX twins")
    for twin, markdown in twins:
        want = ("md", markdown)
        check(outcome(minimal(paravox.convert), twin) == want, f"convert hwpx/twins/{twin.name}")
        check(
            outcome(minimal(paravox.convert_bytes), twin.read_bytes()) == want,
            f"convert_bytes hwpx/twins/{twin.name}",
        )
        full = paravox.convert(twin)
        check(full == paravox.convert(twin.with_suffix(".hwp")), f"full profile {twin.stem}")


def check_command_line(corpus: Path, version: str) -> None:
    completed = run("paravox", "--version")
    check(completed.stdout == f"paravox {version}\n", f"paravox --version says {version}")

    documents = [d for d in BINARY_DOCUMENTS if expected(corpus, d)[0] == "md"][:4]
    with tempfile.TemporaryDirectory() as out:
        completed = subprocess.run(
            ["paravox", "-o", out, "-j", "2", "--profile", "minimal"]
            + [str(corpus / d) for d in documents],
            capture_output=True,
            text=True,
        )
        check(completed.returncode == 0, f"paravox -o OUT with {len(documents)} documents exits 0")
        for document in documents:
            written = Path(out) / (Path(document).stem + ".md")
            want = expected(corpus, document)[1] + "\n"
            got = written.read_text(encoding="utf-8") if written.exists() else None
            check(got == want, f"paravox -o wrote {written.name}")

    document = documents[0]
    completed = run("paravox", "--profile", "minimal", str(corpus / document))
    check(
        completed.stdout == expected(corpus, document)[1] + "\n",
        f"paravox {document} prints its Markdown",
    )
    twin, markdown = hwpx_twins(corpus)[0]
    completed = run("paravox", "--profile", "minimal", str(twin))
    check(completed.stdout == markdown + "\n", f"paravox hwpx/{twin.name} prints its Markdown")


# Run in a child process, so that the dynamic linker's log covers every library it loads.
CLASH_PROGRAM = r"""
import ctypes, json, sys, zlib
ctypes.CDLL("libz.so.1", mode=ctypes.RTLD_GLOBAL)  # a second zlib, first in the global scope
import xml.etree.ElementTree as ElementTree  # Python's own expat
import numpy
import paravox

for _ in range(3):
    for document, want in json.loads(sys.argv[1]):
        markdown = paravox.convert(document, profile="minimal")
        assert markdown == want, f"{document} converts differently beside another zlib"
        data = markdown.encode("utf-8") * 50
        packed = zlib.compress(data, 9)
        assert zlib.decompress(packed) == data and len(packed) < len(data) // 10
        inflater = zlib.decompressobj(-15)
        raw = zlib.compressobj(6, zlib.DEFLATED, -15)
        assert inflater.decompress(raw.compress(data) + raw.flush()) == data
        element = ElementTree.fromstring("<p><t>한글 &amp; text</t></p>")
        assert element.find("t").text == "한글 & text"
        array = numpy.frombuffer(data, dtype=numpy.uint8)
        assert int(array.astype(numpy.int64).sum()) == sum(data)
print("zlib", zlib.ZLIB_RUNTIME_VERSION, "numpy", numpy.__version__)
"""


def check_clash(corpus: Path, modules: dict[str, Path]) -> None:
    document = BINARY_DOCUMENTS[0]
    twin, twin_markdown = hwpx_twins(corpus)[0]
    documents = [
        (str(corpus / document), expected(corpus, document)[1]),
        (str(twin), twin_markdown),
    ]
    with tempfile.TemporaryDirectory() as log_folder:
        log = os.path.join(log_folder, "bindings")
        environment = dict(os.environ, LD_DEBUG="bindings", LD_DEBUG_OUTPUT=log)
        completed = subprocess.run(
            [sys.executable, "-c", CLASH_PROGRAM, json.dumps(documents)],
            capture_output=True,
            text=True,
            env=environment,
        )
        print(completed.stdout.rstrip() + completed.stderr.rstrip())
        check(
            completed.returncode == 0,
            "both formats convert, zlib, XML and numpy work beside a globally loaded system zlib",
        )
        lines = []
        for name in os.listdir(log_folder):
            with open(os.path.join(log_folder, name), encoding="utf-8", errors="replace") as file:
                lines += [line for line in file if "binding file" in line]

    ours = {path.name for path in modules.values()}
    binding = re.compile(r"binding file (\S+) \[\d+\] to (\S+) \[\d+\]: \w+ symbol `([^']+)'")
    from_ours, into_ours, seen = [], [], 0
    for line in lines:
        match = binding.search(line)
        if not match:
            continue
        source, target, symbol = Path(match[1]).name, Path(match[2]).name, match[3]
        if source in ours:
            seen += 1
            system = target in SYSTEM_LIBRARIES or target.startswith(("python", "libpython"))
            if not system and target not in ours:
                from_ours.append(f"{symbol} -> {target}")
        if target in ours and source not in ours and not symbol.startswith("PyInit_"):
            into_ours.append(f"{source} -> {symbol}")
    check(seen > 0, f"the dynamic linker logged the modules' bindings ({seen})")
    check(
        not from_ours,
        f"the modules bind nothing outside the system libraries {from_ours[:10] or ''}",
    )
    check(
        not into_ours,
        f"nothing binds to the modules but their init functions {into_ours[:10] or ''}",
    )


def main() -> int:
    corpus, version = Path(sys.argv[1]), sys.argv[2]
    check(not Path("CMakeLists.txt").exists(), "running outside the source tree")
    import paravox

    check(
        Path(paravox.__file__).resolve().is_relative_to(Path(sys.prefix).resolve()),
        f"paravox imported from the environment ({paravox.__file__})",
    )
    check(paravox.__version__ == version, f"paravox.__version__ is the wheel's version {version}")

    modules = installed_modules()
    print(
        "modules:",
        ", ".join(f"{name} ({path.stat().st_size} bytes)" for name, path in modules.items()),
    )
    check(sorted(modules) == sorted(MODULES), f"the wheel holds the modules {MODULES}")
    check_abi(modules)
    check_libraries(modules)
    check_conversion(corpus)
    check_command_line(corpus, version)
    check_clash(corpus, modules)

    print(f"\n{len(failures)} failed" if failures else "\nwheel checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
