"""A compound-file reader for the tests, deliberately independent of paravox and of libolecf:
the fixture builder's layout checks and the table checker read compound files with it."""

from __future__ import annotations

import struct

from hwpbuilder import cfb


class CfbReader:
    """Reads a version 3 compound file from its header, DIFAT, FAT and directory."""

    def __init__(self, data: bytes):
        self.data = data
        (
            self.magic,
            _clsid,
            self.minor,
            self.major,
            self.byte_order,
            self.sector_shift,
            self.mini_shift,
            _res,
            self.dir_sector_count,
            self.fat_count,
            self.first_dir,
            _txn,
            self.mini_cutoff,
            self.first_minifat,
            self.minifat_count,
            self.first_difat,
            self.difat_count,
        ) = struct.unpack_from("<8s16sHHHHH6sIIIIIIIII", data, 0)
        difat = list(struct.unpack_from("<109I", data, 76))
        sector = self.first_difat
        for _ in range(self.difat_count):
            words = struct.unpack_from("<128I", data, self.offset(sector))
            difat.extend(words[:127])
            sector = words[127]
        self.fat: list[int] = []
        for s in difat[: self.fat_count]:
            self.fat.extend(struct.unpack_from("<128I", data, self.offset(s)))
        directory = self.read_chain(self.fat, self.first_dir, 512)
        self.entries = []
        for i in range(len(directory) // 128):
            e = directory[i * 128 : (i + 1) * 128]
            name_len, kind, color, left, right, child = struct.unpack_from("<HBBIII", e, 64)
            start, size = struct.unpack_from("<IQ", e, 116)
            name = e[: max(0, name_len - 2)].decode("utf-16-le")
            self.entries.append(
                dict(
                    name=name,
                    kind=kind,
                    color=color,
                    left=left,
                    right=right,
                    child=child,
                    start=start,
                    size=size,
                )
            )
        self.minifat: list[int] = []
        if self.minifat_count:
            for s in self.chain(self.fat, self.first_minifat):
                self.minifat.extend(struct.unpack_from("<128I", data, self.offset(s)))
        root = self.entries[0]
        self.mini_stream = self.read_chain(self.fat, root["start"], 512)[: root["size"]]

    @staticmethod
    def offset(sector: int) -> int:
        return 512 * (sector + 1)

    @staticmethod
    def chain(table: list[int], start: int) -> list[int]:
        out, seen = [], set()
        while start < 0xFFFFFFFA:
            if start in seen:
                raise ValueError(f"chain loops at sector {start}")
            seen.add(start)
            out.append(start)
            start = table[start]
        return out

    def read_chain(self, table: list[int], start: int, unit: int) -> bytes:
        if unit == 512:
            return b"".join(
                self.data[self.offset(s) : self.offset(s) + 512] for s in self.chain(table, start)
            )
        return b"".join(self.mini_stream[s * 64 : (s + 1) * 64] for s in self.chain(table, start))

    def children(self, index: int) -> list[int]:
        """In-order walk of a storage's sibling tree."""
        out: list[int] = []
        stack: list[int] = []
        i = self.entries[index]["child"]
        while stack or i != cfb.NOSTREAM:
            while i != cfb.NOSTREAM:
                stack.append(i)
                i = self.entries[i]["left"]
            i = stack.pop()
            out.append(i)
            i = self.entries[i]["right"]
        return out

    def find(self, path: str) -> dict:
        index = 0
        for part in path.split("/"):
            matches = [
                i for i in self.children(index) if self.entries[i]["name"].upper() == part.upper()
            ]
            if not matches:
                raise KeyError(path)
            index = matches[0]
        return self.entries[index]

    def stream(self, path: str) -> bytes:
        e = self.find(path)
        if e["size"] < self.mini_cutoff:
            return self.read_chain(self.minifat, e["start"], 64)[: e["size"]]
        return self.read_chain(self.fat, e["start"], 512)[: e["size"]]

    def black_height(self, i: int) -> int:
        """Black nodes on every path below i; raises when the red-black rules break."""
        if i == cfb.NOSTREAM:
            return 1
        e = self.entries[i]
        for kid in (e["left"], e["right"]):
            if e["color"] == cfb.RED and kid != cfb.NOSTREAM:
                assert self.entries[kid]["color"] == cfb.BLACK, "red node with a red child"
        left, right = self.black_height(e["left"]), self.black_height(e["right"])
        assert left == right, f"unequal black heights below {e['name']!r}"
        return left + (e["color"] == cfb.BLACK)
