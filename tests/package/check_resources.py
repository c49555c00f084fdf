#!/usr/bin/python3
"""Reads the resources back from a built foliant.exe: the version information
against the project's version, the manifest's entries and the icon sizes.
Needs Debian's python3-pefile, so it runs under /usr/bin/python3."""

import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]

WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
ICON_SIZES = [16, 32, 48, 256]


def resources(pe):
    """{type: {id: bytes}} for every resource in the file."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                found.setdefault(kind.id, {})[name.id] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def fixed_version(pe):
    fixed = pe.VS_FIXEDFILEINFO[0]
    parts = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
             fixed.FileVersionLS & 0xFFFF)
    product = (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF, fixed.ProductVersionLS >> 16,
               fixed.ProductVersionLS & 0xFFFF)
    return ".".join(map(str, parts)), ".".join(map(str, product))


def manifest_settings(text):
    """The manifest's entries by local name (namespaces dropped), and the
    identities of the assemblies it depends on."""
    root = ElementTree.fromstring(text)
    values = {}
    for element in root.iter():
        name = element.tag.split("}")[-1]
        if name == "supportedOS":
            values.setdefault("supportedOS", []).append(element.get("Id"))
        elif name == "requestedExecutionLevel":
            values[name] = element.get("level")
        elif name == "assemblyIdentity" and element.get("name") == "Microsoft.Windows.Common-Controls":
            values["Common-Controls"] = element.get("version")
        else:
            values[name] = (element.text or "").strip()
    return values


def icon_sizes(group, icons):
    """The sizes a group icon lists, checking that each image it names is there."""
    reserved, kind, count = struct.unpack_from("<HHH", group)
    if (reserved, kind) != (0, 1):
        return None
    sizes = []
    for index in range(count):
        width, height, _, _, _, _, _, image = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
        if image not in icons or width != height:
            return None
        sizes.append(width or 256)
    return sorted(sizes)


def main():
    parser = harness.parser(platform=False)
    parser.add_argument("--version", required=True, help="the project's version, e.g. 0.1.0")
    options = parser.parse_args()
    pe = pefile.PE(options.tool)
    found = resources(pe)
    strings = version_strings(pe)
    manifests = found.get(RT_MANIFEST, {})
    settings = manifest_settings(manifests[1]) if 1 in manifests else {}
    groups = found.get(RT_GROUP_ICON, {})
    four_parts = ".".join((options.version.split(".") + ["0"] * 4)[:4])

    cases = [
        ("FileVersion", strings.get("FileVersion"), options.version),
        ("ProductVersion", strings.get("ProductVersion"), options.version),
        ("fixed file and product version", fixed_version(pe), (four_parts, four_parts)),
        ("CompanyName", strings.get("CompanyName"), "foliant developers"),
        ("ProductName", strings.get("ProductName"), "foliant"),
        ("OriginalFilename", strings.get("OriginalFilename"), "foliant.exe"),
        ("FileDescription is set", bool(strings.get("FileDescription")), True),
        ("LegalCopyright names the developers", "foliant developers" in strings.get("LegalCopyright", ""), True),
        ("LegalCopyright names the license", "MIT License" in strings.get("LegalCopyright", ""), True),
        ("one manifest, the process's (1)", sorted(manifests), [1]),
        ("supportedOS", settings.get("supportedOS"), [WINDOWS_10_AND_11]),
        ("Common Controls", settings.get("Common-Controls"), "6.0.0.0"),
        ("dpiAwareness", settings.get("dpiAwareness"), "PerMonitorV2"),
        ("dpiAware fallback", settings.get("dpiAware"), "true"),
        ("longPathAware", settings.get("longPathAware"), "true"),
        ("requestedExecutionLevel", settings.get("requestedExecutionLevel"), "asInvoker"),
        ("no activeCodePage", "activeCodePage" in settings, False),
        ("one icon group", len(groups), 1),
        ("icon sizes", icon_sizes(next(iter(groups.values())), found.get(RT_ICON, {})) if groups else None,
         ICON_SIZES),
    ]
    report = harness.Report()
    for what, actual, expected in cases:
        report.case(what, [] if actual == expected else [f"{actual!r}, expected {expected!r}"])
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
