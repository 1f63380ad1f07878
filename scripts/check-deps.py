#!/usr/bin/env python3
"""Checks that every target links the libraries whose headers its code includes.

Each code folder X builds the library kestrin_X. A file that includes "Y/..." of another
folder Y needs its target to link kestrin_Y, directly or through libraries that link it
PUBLIC (the way CMake passes usage requirements on). A library owns its sources and every
header of its folder; another target (a test, a tool, the program) owns its sources and the
headers it includes from folders without a library (tests/support, tests/frmmain, ...).

The target graph and each target's sources come from CMake itself (--graphviz and the file
API) for a configured build folder: scripts/check-deps.py [build folder], by default build/
or $KESTRIN_BUILD_DIR. Exits 1 and names each include that breaks the rule.
"""
import json
import os
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KESTRIN_BUILD_DIR", ROOT / "build")).resolve()
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
EDGE = re.compile(r'->\s*"node\d+"\s*(?:\[\s*style\s*=\s*(\w+)\s*\])?\s*//\s*(\S+)\s*->\s*(\S+)')


def configure():
    """Re-runs CMake's configure step on BUILD with a file-API query and a graph export."""
    query = BUILD / ".cmake/api/v1/query/client-kestrin-deps"
    query.mkdir(parents=True, exist_ok=True)
    (query / "codemodel-v2").touch()
    dot = BUILD / "kestrin-deps" / "targets.dot"
    dot.parent.mkdir(exist_ok=True)
    subprocess.run(["cmake", f"--graphviz={dot}", str(BUILD)], check=True, stdout=subprocess.DEVNULL)
    return dot


def read_targets():
    """Target name -> (its folder, its source files), for the project's own targets."""
    reply = BUILD / ".cmake/api/v1/reply"
    index = json.loads(max(reply.glob("index-*.json")).read_text())
    codemodel = index["reply"]["client-kestrin-deps"]["codemodel-v2"]["jsonFile"]
    config = json.loads((reply / codemodel).read_text())["configurations"][0]
    targets = {}
    for entry in config["targets"]:
        t = json.loads((reply / entry["jsonFile"]).read_text())
        if t["type"] == "UTILITY":
            continue
        sources = [ROOT / s["path"] for s in t.get("sources", []) if not Path(s["path"]).is_absolute()]
        targets[t["name"]] = (t["paths"]["source"], [s for s in sources if s.exists()])
    return targets


def read_links(dot):
    """Target -> [(linked target, visibility)] from the graph CMake exports."""
    links = {}
    names = {"dotted": "PRIVATE", "dashed": "INTERFACE", None: "PUBLIC", "solid": "PUBLIC"}
    for m in EDGE.finditer(dot.read_text()):
        links.setdefault(m.group(2), []).append((m.group(3), names.get(m.group(1), "PUBLIC")))
    return links


def reachable(target, links):
    """Libraries whose headers target may use: its own links, then their PUBLIC/INTERFACE ones."""
    seen = set()
    todo = [lib for lib, _ in links.get(target, [])]
    while todo:
        lib = todo.pop()
        if lib not in seen:
            seen.add(lib)
            todo += [dep for dep, vis in links.get(lib, []) if vis != "PRIVATE"]
    return seen


def resolve(name, including):
    for base in (ROOT, ROOT / "tests", including.parent):
        path = (base / name).resolve()
        if path.is_file() and ROOT in path.parents:
            return path
    return None


def library_of(path, libraries):
    rel = path.relative_to(ROOT).parts
    return libraries.get(rel[0]) if len(rel) > 1 else None


def main():
    dot = configure()
    targets = read_targets()
    links = read_links(dot)
    libraries = {folder: name for name, (folder, _) in targets.items() if name == f"kestrin_{folder}"}
    if not libraries:
        print("check-deps: no kestrin_* library found in", BUILD)
        return 1
    faults = []
    for name, (folder, sources) in sorted(targets.items()):
        owned = list(sources)
        if libraries.get(folder) == name:
            owned += [p for p in (ROOT / folder).rglob("*") if p.suffix in (".h", ".hpp")]
        usable = reachable(name, links)
        seen = set()
        while owned:
            path = owned.pop()
            if path in seen:
                continue
            seen.add(path)
            for included in INCLUDE.findall(path.read_text(errors="replace")):
                header = resolve(included, path)
                if header is None:
                    continue  # generated (ui_*.h) or not part of the tree
                lib = library_of(header, libraries)
                if lib is None:
                    owned.append(header)  # a helper of a folder without a library: this target's own
                elif lib != name and lib not in usable:
                    faults.append(f"{path.relative_to(ROOT)} includes \"{included}\", "
                                  f"but {name} does not link {lib}")
    for fault in sorted(set(faults)):
        print("check-deps:", fault)
    if faults:
        return 1
    print(f"check-deps: {len(targets)} targets link every library whose headers they include")
    return 0


if __name__ == "__main__":
    sys.exit(main())
