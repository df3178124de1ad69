"""The package's modules import one another in layers: errors, conversion, batch, storage,
datasets, Dask, and beside them the console module and the command line's two front ends.
Imports are read from the sources, those inside functions included, so a late import that
would close a cycle at run time is seen as well."""

from __future__ import annotations

import ast
import importlib
import importlib.util
import pkgutil
from pathlib import Path
from typing import Dict, Set

import pytest

import paravox
from paravox._storage import MissingDependencyError

PACKAGE = "paravox"
COMMAND_LINE = {"paravox.cli", "paravox._dataset_cli", "paravox.__main__"}
CONSOLE = "paravox._console"


def package_modules() -> Dict[str, Path | None]:
    """Every module of the package with its source file (None for an extension module)."""
    modules: Dict[str, Path | None] = {PACKAGE: Path(paravox.__file__)}
    for info in pkgutil.iter_modules(paravox.__path__, PACKAGE + "."):
        found = importlib.util.find_spec(info.name)
        origin = found.origin if found else None
        modules[info.name] = Path(origin) if origin and origin.endswith(".py") else None
    return modules


def imported_names(module: str, source: Path, modules: Set[str]) -> Set[str]:
    """The package's modules and the outside top-level modules that `module` imports."""
    package = module if source.name == "__init__.py" else module.rpartition(".")[0]
    names: Set[str] = set()
    for node in ast.walk(ast.parse(source.read_text("utf-8"))):
        if isinstance(node, ast.Import):
            names.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                parts = package.split(".")
                base = ".".join(parts[: len(parts) - node.level + 1] + ([base] if base else []))
            for alias in node.names:
                name = f"{base}.{alias.name}"
                names.add(name if name in modules else base)
    return {name if name in modules else name.split(".")[0] for name in names}


@pytest.fixture(scope="module")
def graph() -> Dict[str, Set[str]]:
    modules = package_modules()
    for name in modules:
        try:
            importlib.import_module(name)
        except MissingDependencyError:  # paravox.dask without Dask installed
            pass
    return {
        name: imported_names(name, source, set(modules)) if source else set()
        for name, source in modules.items()
    }


def reachable(graph: Dict[str, Set[str]], start: str) -> Set[str]:
    seen: Set[str] = set()
    pending = list(graph[start])
    while pending:
        name = pending.pop()
        if name not in seen:
            seen.add(name)
            pending.extend(graph.get(name, ()))
    return seen


def test_no_module_imports_itself_through_others(graph):
    cycles = [name for name in graph if name in reachable(graph, name)]
    assert not cycles, f"import cycles through {cycles}"


@pytest.mark.parametrize(
    "modules, forbidden",
    [
        ("library", COMMAND_LINE | {CONSOLE, "tqdm"}),
        ({"paravox._dataset_cli"}, {"paravox.cli"}),
    ],
    ids=["library", "dataset-front-end"],
)
def test_layers_reach_no_higher(graph, modules, forbidden):
    if modules == "library":
        modules = set(graph) - COMMAND_LINE - {CONSOLE}
    assert "paravox._dataset" in graph and "paravox.cli" in graph
    reached = {name: reachable(graph, name) & forbidden for name in modules}
    assert {name: found for name, found in reached.items() if found} == {}
