"""Reads compiled Windows resources (.res) and version records."""

import struct
from dataclasses import dataclass, field

VS_FIXEDFILEINFO_FORMAT = "<13I"


@dataclass
class Resource:
    type: object
    name: object
    language: int
    data: bytes


@dataclass
class VersionNode:
    key: str
    value_length: int
    text: bool
    value: bytes
    children: list = field(default_factory=list)

    def child(self, key):
        matches = [c for c in self.children if c.key == key]
        if len(matches) != 1:
            raise KeyError(f"{self.key}: {len(matches)} children named {key!r}")
        return matches[0]

    def string_value(self):
        text = self.value.decode("utf-16-le")
        return text[:-1] if text.endswith("\0") else text


def _align4(position):
    return (position + 3) & ~3


def _read_name(data, position):
    """A numeric id (0xFFFF, id) or a NUL-terminated UTF-16 name."""
    (first,) = struct.unpack_from("<H", data, position)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, position + 2)[0], position + 4
    end = position
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[position:end].decode("utf-16-le"), end + 2


def read_res(data):
    """The resources of a .res file, without its leading empty entry."""
    resources, position = [], 0
    while position < len(data):
        data_size, header_size = struct.unpack_from("<II", data, position)
        kind, cursor = _read_name(data, position + 8)
        name, cursor = _read_name(data, cursor)
        cursor = _align4(cursor)
        _, _, language = struct.unpack_from("<IHH", data, cursor)
        start = position + header_size
        if not (data_size == 0 and kind == 0):
            resources.append(Resource(kind, name, language, data[start:start + data_size]))
        position = _align4(start + data_size)
    return resources


def read_version_node(data, position=0):
    """One node of a version record and, recursively, its children."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, position)
    end = position + length
    key_end = position + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[position + 6:key_end].decode("utf-16-le")
    cursor = _align4(key_end + 2)
    text = value_type == 1
    value_bytes = value_length * 2 if text else value_length
    value = data[cursor:cursor + value_bytes]
    cursor = _align4(cursor + value_bytes)
    node = VersionNode(key, value_length, text, value)
    while cursor < end:
        child = read_version_node(data, cursor)
        node.children.append(child)
        cursor = _align4(cursor + struct.unpack_from("<H", data, cursor)[0])
    return node


def fixed_file_info(node):
    names = ("signature", "struct_version", "file_version_ms", "file_version_ls",
             "product_version_ms", "product_version_ls", "flags_mask", "flags", "os",
             "type", "subtype", "date_ms", "date_ls")
    return dict(zip(names, struct.unpack(VS_FIXEDFILEINFO_FORMAT, node.value)))
