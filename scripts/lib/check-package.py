#!/usr/bin/env python3
"""Checks a package folder before it is packed, so that a mistake stops the
release instead of an installation:

  check-package.py <folder> [<name.cab> | -] [<setup.inf>]

- with a cabinet name, the folder holds exactly one INF at its top and the
  cabinet is named as it is (<name>.inf in <name>.cab): the installer looks
  for the INF by the cabinet's name;
- every INF section of a file of the folder that carries a "FileVersion"
  names the version of that file's own version resource (four numbers
  separated by commas), and a "clsid" that the file itself carries (as
  text, or as the 16 bytes of the GUID);
- with a setup.inf, its section of the package (<INF name>.cab) names the
  "CLSID" and "FileVersion" of the INF's control.

Prints what is wrong and ends with 1; ends with 0 when all agrees."""
import pathlib
import re
import struct
import sys
import uuid

# VS_FIXEDFILEINFO begins with this signature; the file version follows the
# structure's version word.
FIXED_FILE_INFO = struct.pack("<I", 0xFEEF04BD)


def sections(text):
    """The INF's sections: lower-cased name -> {lower-cased key: value}."""
    found, current = {}, None
    for raw in text.splitlines():
        line = raw.split(";", 1)[0].strip()
        if line.startswith("[") and "]" in line:
            current = found.setdefault(line[1:line.index("]")].strip().lower(), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current[key.strip().lower()] = value.strip().strip('"')
    return found


def resource_version(data):
    at = data.find(FIXED_FILE_INFO)
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def carries_class(data, clsid):
    try:
        guid = uuid.UUID(clsid.strip("{}"))
    except ValueError:
        return False
    lowered = data.lower()
    text = clsid.lower().encode()
    return guid.bytes_le in data or text in lowered or text.decode().encode("utf-16-le") in lowered


def check(folder, cab=None, setup_inf=None):
    folder = pathlib.Path(folder)
    problems = []
    infs = sorted(p for p in folder.iterdir() if p.is_file() and p.suffix.lower() == ".inf")
    if cab is not None:
        stem = pathlib.Path(cab).name
        stem = stem[:-4] if stem.lower().endswith(".cab") else stem
        if len(infs) != 1:
            problems.append(f"{folder} holds {len(infs)} INF files at its top; a package holds exactly one")
        elif infs[0].stem.lower() != stem.lower():
            problems.append(f"the cabinet {stem}.cab must be named as its INF {infs[0].name} ({infs[0].stem}.cab)")
    files = {p.name.lower(): p for p in folder.iterdir() if p.is_file()}
    for inf in infs:
        for name, keys in sections(inf.read_text(errors="replace")).items():
            target = files.get(name)
            if target is None or not ("fileversion" in keys or "clsid" in keys):
                continue
            data = target.read_bytes()
            wanted = keys.get("fileversion")
            if wanted is not None:
                numbers = tuple(int(n) for n in re.findall(r"\d+", wanted))
                actual = resource_version(data)
                if actual is None:
                    problems.append(f"{inf.name} [{target.name}]: FileVersion={wanted}, but {target.name} "
                                    "has no version resource")
                elif numbers != actual:
                    problems.append(f"{inf.name} [{target.name}]: FileVersion={wanted}, but {target.name}'s "
                                    f"version resource says {','.join(map(str, actual))}")
            clsid = keys.get("clsid")
            if clsid is not None and not carries_class(data, clsid):
                problems.append(f"{inf.name} [{target.name}]: clsid={clsid}, which {target.name} does not carry")
            if setup_inf is not None and clsid is not None:
                listed = sections(pathlib.Path(setup_inf).read_text(errors="replace")).get(f"{inf.stem.lower()}.cab")
                for key, value in (("clsid", clsid), ("fileversion", wanted)):
                    if listed is not None and listed.get(key, "").lower() != (value or "").lower():
                        problems.append(f"{setup_inf} [{inf.stem}.cab]: {key}={listed.get(key, '')}, but "
                                        f"{inf.name} says {value}")
    return problems


def main():
    if len(sys.argv) not in (2, 3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    cab = sys.argv[2] if len(sys.argv) >= 3 and sys.argv[2] != "-" else None
    problems = check(sys.argv[1], cab, sys.argv[3] if len(sys.argv) == 4 else None)
    for problem in problems:
        print(f"check-package: {problem}", file=sys.stderr)
    return 1 if problems else 0


sys.exit(main())
