#!/usr/bin/env python3
"""Usage: check_layers.py <source root>

Layers point down only. Fails naming every include that points the wrong way:
- the helpers below every layer (base/) include nothing of the project;
- the protocol layers (link/, commands/, netmodule/) and the rules (rules/) include no public header;
- the reader sessions (session/) include nothing above the library (exports/, the programs);
- the programs on the public headers (cli/, daemon/) include only those headers, rules/ and bridge/
  besides their own folder;
- the shipped configuration tool (tool/) includes nothing of the virtual reader (sim/);
- each component of the daemon (a folder of daemon/ with a zendrikd_component in its CMakeLists.txt)
  includes only its own folder and the components its library links, directly or through them; and
  those links have no cycle.
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*["<]([^">]+)[">]')
SOURCE_SUFFIXES = {".c", ".cpp", ".h", ".hpp"}
PUBLIC_HEADERS = ("zendrik/", "exports/", "zendrik.h", "zendrik_session.h", "zendrik_session.hpp")
LIBRARY_INSIDES = ("link/", "commands/", "netmodule/", "session/", "exports/")
COMPONENT = re.compile(r"zendrikd_component\(\s*(\w+)(.*?)\)", re.S)
LINKED_COMPONENT = re.compile(r"\bzendrikd_(\w+)")


def includes(folder):
    for path in sorted(folder.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match:
                yield path, number, match.group(1)


class Report:
    def __init__(self, root):
        self.root = root
        self.found = {}

    def add(self, why, path, number, target):
        self.found.setdefault(why, []).append(f"{path.relative_to(self.root)}:{number}: {target}")

    def check(self, folders, forbidden, why):
        for folder in folders:
            for path, number, target in includes(self.root / folder):
                if forbidden(target):
                    self.add(why, path, number, target)


def daemon_components(root):
    """Each component's name -> the components its library links directly."""
    links = {}
    for cmake in sorted((root / "daemon").glob("*/CMakeLists.txt")):
        for match in COMPONENT.finditer(cmake.read_text()):
            name, rest = match.group(1), match.group(2)
            links[name] = set(LINKED_COMPONENT.findall(rest.split("LINKS", 1)[-1])) if "LINKS" in rest else set()
            if name != cmake.parent.name:
                sys.exit(f"{cmake}: the component {name} must live in daemon/{name}/")
    return links


def below(links, name, path=()):
    if name in path:
        sys.exit("the daemon's components link in a cycle: " + " -> ".join(path + (name,)))
    reached = set()
    for linked in links.get(name, ()):
        reached |= {linked} | below(links, linked, path + (name,))
    return reached


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    report = Report(root)
    project = ("zendrik", "exports/", "link/", "commands/", "netmodule/", "rules/", "session/", "bridge/", "cli/",
               "daemon/", "tool/", "sim/", "python/", "tests/")
    report.check(["base"], lambda t: t.startswith(project), "the project above the helpers below every layer")
    report.check(["link", "commands", "netmodule", "rules"], lambda t: t.startswith(PUBLIC_HEADERS),
                 "a public header below the exports")
    report.check(["session"], lambda t: t.startswith(("exports/", "cli/", "daemon/", "tool/", "sim/")),
                 "a layer above the reader sessions inside them")
    report.check(["cli", "daemon"], lambda t: t.startswith(LIBRARY_INSIDES),
                 "the library's insides in a program on its public headers")
    report.check(["tool"], lambda t: t.startswith("sim/"), "the virtual reader inside the shipped tool")

    links = daemon_components(root)
    for name in links:
        allowed = {name} | below(links, name)
        for path, number, target in includes(root / "daemon" / name):
            parts = target.split("/")
            if parts[0] == "daemon" and len(parts) > 2 and parts[1] not in allowed:
                report.add(f"daemon/{name} includes a component it does not link ({', '.join(sorted(allowed))})",
                           path, number, target)

    for why, lines in report.found.items():
        print(f"{why}:")
        print("\n".join(lines))
    return 1 if report.found else 0


if __name__ == "__main__":
    sys.exit(main())
