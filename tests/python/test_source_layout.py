"""The core's folders are its layers: each includes only the layers below it, and the two
readers never include each other. The bindings reach the core through its front door."""

from __future__ import annotations

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
CORE = ROOT / "core" / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)

# What each layer may include, besides itself. The front door is the core's top folder.
ALLOWED = {
    "base": set(),
    "document": {"base"},
    "hwp": {"base", "document"},
    "hwpx": {"base", "document"},
    "front door": {"base", "document", "hwp", "hwpx"},
}
# What the extension modules may include from the core.
BINDINGS_ALLOWED = {"base/", "convert.h", "hwp/records.h"}

pytestmark = pytest.mark.skipif(not CORE.is_dir(), reason="needs the source tree (core/src)")


def layer_of(name: str) -> str:
    folder, _, _ = name.partition("/")
    return folder if "/" in name else "front door"


def core_includes() -> dict[str, set[str]]:
    graph = {}
    for path in sorted(CORE.rglob("*")):
        if path.suffix in (".h", ".cpp"):
            name = path.relative_to(CORE).as_posix()
            graph[name] = {i for i in INCLUDE.findall(path.read_text()) if (CORE / i).is_file()}
    return graph


def test_each_layer_includes_only_the_layers_below_it() -> None:
    graph = core_includes()
    assert {layer_of(name) for name in graph} == set(ALLOWED)
    wrong = [
        f"{name} includes {included}"
        for name, includes in graph.items()
        for included in includes
        if layer_of(included) != layer_of(name)
        and layer_of(included) not in ALLOWED[layer_of(name)]
    ]
    assert wrong == []


def test_the_include_graph_has_no_cycle() -> None:
    graph = core_includes()
    done: set[str] = set()

    def visit(name: str, path: list[str]) -> None:
        if name in path:
            pytest.fail("include cycle: " + " -> ".join(path[path.index(name) :] + [name]))
        if name in done:
            return
        for included in sorted(graph.get(name, ())):
            visit(included, path + [name])
        done.add(name)

    for name in graph:
        visit(name, [])


def test_the_bindings_use_the_front_door() -> None:
    wrong = [
        f"{path.name} includes {included}"
        for path in sorted((ROOT / "bindings").glob("*.cpp"))
        for included in INCLUDE.findall(path.read_text())
        if (CORE / included).is_file()
        and not any(included.startswith(allowed) for allowed in BINDINGS_ALLOWED)
    ]
    assert wrong == []
