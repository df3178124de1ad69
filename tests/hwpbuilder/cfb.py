"""A small writer of MS-CFB compound files (version 3, 512-byte sectors).

Layout of what `build_cfb` writes, sector by sector after the 512-byte header:
FAT sectors, DIFAT sectors (only when more than 109 FAT sectors are needed), directory
sectors, mini FAT sectors, the mini stream (the root entry's chain), then every large
stream's sectors in directory order. All chains are contiguous. Streams shorter than the
mini cutoff live in the mini stream in 64-byte mini sectors.

Damage for tests is applied after the layout is fixed, through `CfbFile` (the result of
`build_cfb`) or the matching keyword arguments of `write_cfb`.
"""

from __future__ import annotations

import struct
import sys
from array import array
from dataclasses import dataclass, field
from typing import Iterable, Mapping

MAGIC = bytes.fromhex("D0CF11E0A1B11AE1")
SECTOR_SIZE = 512
MINI_SECTOR_SIZE = 64
MINI_CUTOFF = 4096
DIR_ENTRY_SIZE = 128
ENTRIES_PER_SECTOR = SECTOR_SIZE // DIR_ENTRY_SIZE
FAT_ENTRIES_PER_SECTOR = SECTOR_SIZE // 4
HEADER_DIFAT_ENTRIES = 109
DIFAT_ENTRIES_PER_SECTOR = FAT_ENTRIES_PER_SECTOR - 1  # the last slot links to the next one

MAXREGSECT = 0xFFFFFFFA
DIFSECT = 0xFFFFFFFC
FATSECT = 0xFFFFFFFD
ENDOFCHAIN = 0xFFFFFFFE
FREESECT = 0xFFFFFFFF
NOSTREAM = 0xFFFFFFFF

TYPE_EMPTY = 0
TYPE_STORAGE = 1
TYPE_STREAM = 2
TYPE_ROOT = 5
RED = 0
BLACK = 1

MAX_NAME_UNITS = 31  # 32 with the terminating NUL


def _ceil_div(a: int, b: int) -> int:
    return -(-a // b)


def _upper_unit(unit: str) -> str:
    # CFB compares names by the simple upper-case mapping of each UTF-16 code unit; a character
    # whose upper case is longer than one unit (for example U+00DF) keeps its own value.
    upper = unit.upper()
    return upper if len(upper) == 1 else unit


def name_key(name: str) -> tuple[int, list[int]]:
    """Sort key of a directory entry name: length in UTF-16 units first, then the upper-cased
    units."""
    units = name.encode("utf-16-le", "surrogatepass")
    codes = [int.from_bytes(units[i:i + 2], "little") for i in range(0, len(units), 2)]
    upper = [c if 0xD800 <= c <= 0xDFFF else ord(_upper_unit(chr(c))) for c in codes]
    return len(codes), upper


@dataclass
class _Node:
    name: str
    kind: int
    path: str
    data: bytes = b""
    children: dict[str, "_Node"] = field(default_factory=dict)
    clsid: bytes = bytes(16)
    index: int = -1
    left: int = NOSTREAM
    right: int = NOSTREAM
    child: int = NOSTREAM
    color: int = BLACK
    start: int = ENDOFCHAIN
    size: int = 0
    in_mini: bool = False
    sector_count: int = 0


@dataclass(frozen=True)
class EntryInfo:
    """Where a directory entry and its data ended up."""

    path: str
    index: int  # directory entry number
    offset: int  # file offset of the 128-byte directory entry
    kind: int
    start: int  # first sector (or mini sector when in_mini)
    size: int
    in_mini: bool
    sectors: tuple[int, ...]  # chain, in (mini) sectors


class CfbFile:
    """A built compound file plus the facts needed to damage it precisely."""

    def __init__(self, data: bytearray, entries: dict[str, EntryInfo], fat_sectors: list[int],
                 minifat_sectors: list[int], directory_sectors: list[int],
                 difat_sectors: list[int]):
        self.data = data
        self.entries = entries
        self.fat_sectors = fat_sectors
        self.minifat_sectors = minifat_sectors
        self.directory_sectors = directory_sectors
        self.difat_sectors = difat_sectors

    @staticmethod
    def sector_offset(sector: int) -> int:
        return SECTOR_SIZE * (sector + 1)

    def to_bytes(self) -> bytes:
        return bytes(self.data)

    def _table_entry_offset(self, table_sectors: list[int], index: int) -> int:
        sector, slot = divmod(index, FAT_ENTRIES_PER_SECTOR)
        return self.sector_offset(table_sectors[sector]) + 4 * slot

    def set_fat(self, sector: int, value: int) -> None:
        """Overwrite the FAT entry of `sector`."""
        struct.pack_into("<I", self.data, self._table_entry_offset(self.fat_sectors, sector), value)

    def set_minifat(self, mini_sector: int, value: int) -> None:
        offset = self._table_entry_offset(self.minifat_sectors, mini_sector)
        struct.pack_into("<I", self.data, offset, value)

    def set_declared_size(self, path: str, size: int) -> None:
        """Make the directory entry of `path` declare `size` bytes (64-bit field)."""
        struct.pack_into("<Q", self.data, self.entries[path].offset + 120, size)

    def set_start_sector(self, path: str, sector: int) -> None:
        struct.pack_into("<I", self.data, self.entries[path].offset + 116, sector)

    def rename(self, path: str, name: str) -> None:
        """Rewrite the stored name of an entry without re-sorting the tree."""
        encoded = name.encode("utf-16-le") + b"\0\0"
        if len(encoded) > 64:
            raise ValueError(f"name too long: {name!r}")
        offset = self.entries[path].offset
        self.data[offset:offset + 64] = encoded.ljust(64, b"\0")
        struct.pack_into("<H", self.data, offset + 64, len(encoded))

    def loop_chain(self, path: str) -> None:
        """Point the last sector of the stream's chain back at its first one."""
        info = self.entries[path]
        if not info.sectors:
            raise ValueError(f"{path} has no sectors to loop")
        if info.in_mini:
            self.set_minifat(info.sectors[-1], info.sectors[0])
        else:
            self.set_fat(info.sectors[-1], info.sectors[0])

    def set_header_field(self, offset: int, value: int, fmt: str = "<I") -> None:
        struct.pack_into(fmt, self.data, offset, value)


def _split_path(path: str) -> list[str]:
    parts = [p for p in path.strip("/").split("/")]
    if not parts or any(not p for p in parts):
        raise ValueError(f"bad stream path: {path!r}")
    for part in parts:
        if len(part.encode("utf-16-le", "surrogatepass")) // 2 > MAX_NAME_UNITS:
            raise ValueError(f"name longer than {MAX_NAME_UNITS} units: {part!r}")
    return parts


def _build_tree(streams: Mapping[str, bytes], storages: Iterable[str],
                clsids: Mapping[str, bytes]) -> _Node:
    root = _Node("Root Entry", TYPE_ROOT, "")

    def storage_at(parts: list[str]) -> _Node:
        node = root
        for depth, part in enumerate(parts):
            nxt = node.children.get(part)
            if nxt is None:
                nxt = _Node(part, TYPE_STORAGE, "/".join(parts[:depth + 1]))
                node.children[part] = nxt
            elif nxt.kind != TYPE_STORAGE:
                raise ValueError(f"{nxt.path} is both a stream and a storage")
            node = nxt
        return node

    for path in storages:
        storage_at(_split_path(path))
    for path, data in streams.items():
        parts = _split_path(path)
        parent = storage_at(parts[:-1])
        if parts[-1] in parent.children:
            raise ValueError(f"duplicate entry {path}")
        parent.children[parts[-1]] = _Node(parts[-1], TYPE_STREAM, "/".join(parts), data=data)
    for path, clsid in clsids.items():
        node = root if path in ("", "/") else storage_at(_split_path(path))
        if len(clsid) != 16:
            raise ValueError("a CLSID is 16 bytes")
        node.clsid = bytes(clsid)
    return root


def _number_entries(root: _Node) -> list[_Node]:
    """Entries in breadth-first order; the root is entry 0."""
    order = [root]
    i = 0
    while i < len(order):
        node = order[i]
        node.index = i
        order.extend(sorted(node.children.values(), key=lambda n: name_key(n.name)))
        i += 1
    return order


def _link_siblings(root: _Node, tree_shape: str) -> None:
    """Give every storage a red-black tree of its children (a balanced binary search tree whose
    deepest level is red), or, for tree_shape='chain', a right-leaning list of black nodes."""

    def balanced(nodes: list[_Node], lo: int, hi: int, depth: int, depths: dict[int, int]) -> int:
        if lo >= hi:
            return NOSTREAM
        mid = (lo + hi) // 2
        node = nodes[mid]
        node.left = balanced(nodes, lo, mid, depth + 1, depths)
        node.right = balanced(nodes, mid + 1, hi, depth + 1, depths)
        depths[node.index] = depth
        return node.index

    stack = [root]
    while stack:
        parent = stack.pop()
        kids = sorted(parent.children.values(), key=lambda n: name_key(n.name))
        stack.extend(k for k in kids if k.kind == TYPE_STORAGE)
        if not kids:
            continue
        if tree_shape == "chain":
            for a, b in zip(kids, kids[1:]):
                a.right = b.index
            for k in kids:
                k.color = BLACK
            parent.child = kids[0].index
            continue
        depths: dict[int, int] = {}
        parent.child = balanced(kids, 0, len(kids), 0, depths)
        deepest = max(depths.values())
        # Null links of a midpoint-split tree lie on its last two levels; colouring the deepest
        # level red gives every root-to-leaf path the same number of black nodes.
        for k in kids:
            k.color = RED if depths[k.index] == deepest > 0 else BLACK


def _dir_entry(node: _Node | None) -> bytes:
    if node is None:
        return bytes(64) + struct.pack("<HBBIII", 0, TYPE_EMPTY, RED, NOSTREAM, NOSTREAM,
                                       NOSTREAM) + bytes(48)
    name = node.name.encode("utf-16-le", "surrogatepass") + b"\0\0"
    start, size = (0, 0) if node.kind == TYPE_STORAGE else (node.start, node.size)
    return (name.ljust(64, b"\0")
            + struct.pack("<HBBIII", len(name), node.kind, node.color, node.left, node.right,
                          node.child)
            + node.clsid
            + struct.pack("<IQQIQ", 0, 0, 0, start, size))


def build_cfb(streams: Mapping[str, bytes], *, storages_clsid: Mapping[str, bytes] | None = None,
              mini_cutoff: int = MINI_CUTOFF, storages: Iterable[str] = (),
              tree_shape: str = "balanced") -> CfbFile:
    """Lay out a compound file holding `streams` (paths like "BodyText/Section0"; storages on
    the way are created). Names are stored as given, so a differently cased name is a matter
    of passing it. `storages` adds storages that may stay empty; `storages_clsid` maps a storage
    path ("" for the root) to its CLSID; `mini_cutoff` is both the header field and the size
    below which a stream goes to the mini stream; `tree_shape` is "balanced" or "chain"."""
    if tree_shape not in ("balanced", "chain"):
        raise ValueError(f"unknown tree shape {tree_shape!r}")
    root = _build_tree(streams, storages, storages_clsid or {})
    entries = _number_entries(root)
    _link_siblings(root, tree_shape)
    stream_nodes = [n for n in entries if n.kind == TYPE_STREAM]

    # Mini stream: every short stream, each padded to whole mini sectors.
    mini_chunks: list[bytes] = []
    mini_fat = array("I")
    for node in stream_nodes:
        node.size = len(node.data)
        if node.size == 0 or node.size >= mini_cutoff:
            continue
        node.in_mini = True
        count = _ceil_div(node.size, MINI_SECTOR_SIZE)
        node.start, node.sector_count = len(mini_fat), count
        mini_fat.extend(range(node.start + 1, node.start + count))
        mini_fat.append(ENDOFCHAIN)
        mini_chunks.append(node.data)
        pad = count * MINI_SECTOR_SIZE - node.size
        if pad:
            mini_chunks.append(bytes(pad))
    mini_stream_size = len(mini_fat) * MINI_SECTOR_SIZE
    mini_stream_sectors = _ceil_div(mini_stream_size, SECTOR_SIZE)
    minifat_sector_count = _ceil_div(len(mini_fat), FAT_ENTRIES_PER_SECTOR)
    dir_sector_count = _ceil_div(len(entries), ENTRIES_PER_SECTOR)
    big_sector_count = sum(_ceil_div(n.size, SECTOR_SIZE) for n in stream_nodes
                           if n.size and not n.in_mini)

    # FAT and DIFAT sizes depend on the total, themselves included.
    other = dir_sector_count + minifat_sector_count + mini_stream_sectors + big_sector_count
    fat_count = 1
    while True:
        difat_count = max(0, _ceil_div(fat_count - HEADER_DIFAT_ENTRIES, DIFAT_ENTRIES_PER_SECTOR))
        if fat_count * FAT_ENTRIES_PER_SECTOR >= other + fat_count + difat_count:
            break
        fat_count += 1

    total = fat_count + difat_count + other
    fat = array("I", [FREESECT]) * (fat_count * FAT_ENTRIES_PER_SECTOR)
    cursor = 0

    def chain(count: int, marker: int | None = None) -> list[int]:
        nonlocal cursor
        sectors = list(range(cursor, cursor + count))
        for s in sectors:
            fat[s] = marker if marker is not None else s + 1
        if sectors and marker is None:
            fat[sectors[-1]] = ENDOFCHAIN
        cursor += count
        return sectors

    fat_sectors = chain(fat_count, FATSECT)
    difat_sectors = chain(difat_count, DIFSECT)
    directory_sectors = chain(dir_sector_count)
    minifat_sectors = chain(minifat_sector_count)
    mini_stream_chain = chain(mini_stream_sectors)
    root.start = mini_stream_chain[0] if mini_stream_chain else ENDOFCHAIN
    root.size = mini_stream_size
    for node in stream_nodes:
        if node.size and not node.in_mini:
            node.sector_count = _ceil_div(node.size, SECTOR_SIZE)
            node.start = chain(node.sector_count)[0]
    assert cursor == total

    header = bytearray(SECTOR_SIZE)
    struct.pack_into("<8s16sHHHHH6sIIIIIIIII", header, 0, MAGIC, bytes(16), 0x003E, 0x0003,
                     0xFFFE, 9, 6, bytes(6), 0, fat_count,
                     directory_sectors[0], 0, mini_cutoff,
                     minifat_sectors[0] if minifat_sectors else ENDOFCHAIN, minifat_sector_count,
                     difat_sectors[0] if difat_sectors else ENDOFCHAIN, difat_count)
    header_difat = array("I", fat_sectors[:HEADER_DIFAT_ENTRIES])
    header_difat.extend([FREESECT] * (HEADER_DIFAT_ENTRIES - len(header_difat)))
    header[76:SECTOR_SIZE] = header_difat.tobytes()

    difat = array("I")
    rest = fat_sectors[HEADER_DIFAT_ENTRIES:]
    for k, sector in enumerate(difat_sectors):
        part = rest[k * DIFAT_ENTRIES_PER_SECTOR:(k + 1) * DIFAT_ENTRIES_PER_SECTOR]
        difat.extend(part)
        difat.extend([FREESECT] * (DIFAT_ENTRIES_PER_SECTOR - len(part)))
        difat.append(difat_sectors[k + 1] if k + 1 < len(difat_sectors) else ENDOFCHAIN)

    directory = b"".join(_dir_entry(n) for n in entries)
    directory += _dir_entry(None) * (dir_sector_count * ENTRIES_PER_SECTOR - len(entries))
    mini_fat.extend([FREESECT] * (minifat_sector_count * FAT_ENTRIES_PER_SECTOR - len(mini_fat)))
    mini_stream = b"".join(mini_chunks)

    def padded(data: bytes | bytearray) -> list[bytes | bytearray]:
        pad = -len(data) % SECTOR_SIZE
        return [data, bytes(pad)] if pad else [data]

    if sys.byteorder == "big":
        fat.byteswap()
        mini_fat.byteswap()
        difat.byteswap()
    chunks: list[bytes | bytearray] = [header, fat.tobytes(), difat.tobytes(), directory,
                                       mini_fat.tobytes()]
    chunks += padded(mini_stream)
    for node in stream_nodes:
        if node.size and not node.in_mini:
            chunks += padded(node.data)
    data = bytearray().join(chunks)
    assert len(data) == SECTOR_SIZE * (total + 1)

    infos: dict[str, EntryInfo] = {}
    for node in entries:
        offset = CfbFile.sector_offset(directory_sectors[node.index // ENTRIES_PER_SECTOR]) + (
            node.index % ENTRIES_PER_SECTOR) * DIR_ENTRY_SIZE
        sectors = (tuple(range(node.start, node.start + node.sector_count))
                   if node.kind == TYPE_STREAM else
                   tuple(mini_stream_chain) if node.kind == TYPE_ROOT else ())
        infos[node.path] = EntryInfo(node.path, node.index, offset, node.kind,
                                     node.start if node.kind != TYPE_STORAGE else 0,
                                     node.size, node.in_mini, sectors)
    return CfbFile(data, infos, fat_sectors, minifat_sectors, directory_sectors, difat_sectors)


def write_cfb(streams: Mapping[str, bytes], *, storages_clsid: Mapping[str, bytes] | None = None,
              mini_cutoff: int = MINI_CUTOFF, storages: Iterable[str] = (),
              tree_shape: str = "balanced", declared_sizes: Mapping[str, int] | None = None,
              loop_chains: Iterable[str] = (), renames: Mapping[str, str] | None = None) -> bytes:
    """Bytes of a compound file holding `streams`; see `build_cfb` for the layout options.

    Damage, applied after layout: `declared_sizes` makes a stream's directory entry declare
    another size; `loop_chains` points the last sector of each named stream back at its first;
    `renames` rewrites an entry's stored name (e.g. another letter case) without re-sorting.
    """
    built = build_cfb(streams, storages_clsid=storages_clsid, mini_cutoff=mini_cutoff,
                      storages=storages, tree_shape=tree_shape)
    for path, size in (declared_sizes or {}).items():
        built.set_declared_size(path, size)
    for path in loop_chains:
        built.loop_chain(path)
    for path, name in (renames or {}).items():
        built.rename(path, name)
    return bytes(built.data)


def filler_streams(count: int, *, prefix: str = "Filler", size: int = 16,
                   storage: str = "") -> dict[str, bytes]:
    """`count` small distinct streams, for directories with thousands of entries."""
    base = f"{storage.strip('/')}/" if storage.strip("/") else ""
    return {f"{base}{prefix}{i}": i.to_bytes(4, "little") * (size // 4) + bytes(size % 4)
            for i in range(count)}
