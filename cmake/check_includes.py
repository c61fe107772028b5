#!/usr/bin/env python3
"""Checks the quoted includes of a source tree against its include rules.

usage: check_includes.py SOURCE_ROOT [RULES_FILE]
           [--logic-sources FILE --widget-dir DIR... --widget-header NAME...]

RULES_FILE defaults to SOURCE_ROOT/cmake/include_rules.txt. Exit status 0
when every include is allowed, 1 with one line per fault otherwise, 2 when
the rules cannot be read.

With --logic-sources (lines "SOURCE_DIR|source|source...", one per logic
library, as CMake writes them) it also fails when a logic library's source
reaches a widget header: a header found in a --widget-dir or named by
--widget-header, included directly or through headers of this tree.
"""
import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".cxx", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def read_rules(path):
    rules = {}
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            if ":" not in line:
                raise ValueError(f"{path}:{number}: expected 'folder: folders...'")
            folder, allowed = line.split(":", 1)
            folder = folder.strip()
            if folder in rules:
                raise ValueError(f"{path}:{number}: {folder} listed twice")
            allowed = allowed.split()
            rules[folder] = None if allowed == ["*"] else set(allowed)
    return rules


def find_cycle(rules):
    """A list of folders that include each other in a ring, or None."""
    state = {}

    def visit(folder, trail):
        state[folder] = "open"
        for dep in sorted(rules.get(folder) or ()):
            if dep == folder or rules.get(dep, set()) is None:
                continue
            if state.get(dep) == "open":
                return trail[trail.index(dep):] + [dep]
            if dep not in state:
                ring = visit(dep, trail + [dep])
                if ring:
                    return ring
        state[folder] = "done"
        return None

    for folder in sorted(f for f, r in rules.items() if r is not None):
        if folder not in state:
            ring = visit(folder, [folder])
            if ring:
                return ring
    return None


def top_folders(root):
    for name in sorted(os.listdir(root)):
        path = os.path.join(root, name)
        if name.startswith(".") or name.startswith("build") or not os.path.isdir(path):
            continue
        # A build tree inside the sources, whatever its name, is generated code.
        if os.path.exists(os.path.join(path, "CMakeCache.txt")):
            continue
        yield name


def sources(folder_path):
    for dirpath, dirnames, filenames in os.walk(folder_path):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
        for name in sorted(filenames):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.join(dirpath, name)


def folder_of_include(root, source, target):
    """The top folder an include names, or None when it names none."""
    beside = os.path.normpath(os.path.join(os.path.dirname(source), target))
    if os.path.exists(beside):
        path = os.path.relpath(beside, root)
    else:
        path = os.path.normpath(target)
    parts = path.split(os.sep)
    if len(parts) < 2 or parts[0] == "..":
        return parts[0] if parts[0] == ".." else None
    return parts[0]


def check(root, rules):
    faults = []
    ring = find_cycle(rules)
    if ring:
        faults.append("include rules form a cycle: " + " -> ".join(ring))
    for folder in rules:
        for dep in rules[folder] or ():
            if dep not in rules:
                faults.append(f"include rules: {folder} names unknown folder {dep}")
    for folder in top_folders(root):
        files = list(sources(os.path.join(root, folder)))
        if not files:
            continue
        if folder not in rules:
            faults.append(f"{folder}/: folder with sources not listed in the include rules")
            continue
        allowed = rules[folder]
        if allowed is None:
            continue
        for source in files:
            with open(source, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = folder_of_include(root, source, m.group(1))
                    if target is None or target == folder or target in allowed:
                        continue
                    if target != ".." and target not in rules and not os.path.isdir(os.path.join(root, target)):
                        continue  # a header of some library, not of this tree
                    rel = os.path.relpath(source, root)
                    faults.append(f'{rel}:{number}: {folder}/ may not include "{m.group(1)}"')
    return faults


ANGLE_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]+)>')


def read_logic_sources(path):
    files = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = [p for p in line.strip().split("|") if p]
            if len(parts) < 2:
                continue
            base = parts[0]
            for src in parts[1:]:
                full = src if os.path.isabs(src) else os.path.join(base, src)
                if os.path.isfile(full) and full.endswith(SOURCE_SUFFIXES):
                    files.append(os.path.normpath(full))
    return files


def is_widget_header(name, widget_dirs, widget_headers):
    if name in widget_headers or os.path.basename(name) in widget_headers:
        return True
    for d in widget_dirs:
        if os.path.isfile(os.path.join(d, name)):
            return True
        # <QtWidgets/QWidget> names the folder itself.
        if name.startswith(os.path.basename(d.rstrip("/")) + "/"):
            return True
    return False


def check_logic(root, logic_files, widget_dirs, widget_headers):
    """Faults for logic sources that reach a widget header."""
    faults = []
    reaches = {}  # file -> the widget header it reaches (or None)

    def visit(path):
        if path in reaches:
            return reaches[path]
        reaches[path] = None  # cycles end here
        try:
            lines = open(path, encoding="utf-8", errors="replace").read().splitlines()
        except OSError:
            return None
        for line in lines:
            m = ANGLE_INCLUDE.match(line)
            if m and is_widget_header(m.group(1), widget_dirs, widget_headers):
                reaches[path] = f"<{m.group(1)}>"
                return reaches[path]
            m = INCLUDE.match(line)
            if not m:
                continue
            for candidate in (os.path.join(os.path.dirname(path), m.group(1)), os.path.join(root, m.group(1))):
                candidate = os.path.normpath(candidate)
                if os.path.isfile(candidate):
                    found = visit(candidate)
                    if found:
                        reaches[path] = f'"{m.group(1)}" -> {found}'
                        return reaches[path]
                    break
            else:
                if is_widget_header(m.group(1), widget_dirs, widget_headers):
                    reaches[path] = f'"{m.group(1)}"'
                    return reaches[path]
        return None

    for source in logic_files:
        found = visit(source)
        if found:
            rel = os.path.relpath(source, root)
            faults.append(f"{rel}: logic library source reaches a widget header: {found}")
    return faults


def main(argv):
    args, options = [], {"--logic-sources": [], "--widget-dir": [], "--widget-header": []}
    i = 1
    while i < len(argv):
        if argv[i] in options and i + 1 < len(argv):
            options[argv[i]].append(argv[i + 1])
            i += 2
        else:
            args.append(argv[i])
            i += 1
    if not args:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.abspath(args[0])
    rules_path = args[1] if len(args) > 1 else os.path.join(root, "cmake", "include_rules.txt")
    try:
        rules = read_rules(rules_path)
        logic_files = []
        for path in options["--logic-sources"]:
            logic_files += read_logic_sources(path)
    except (OSError, ValueError) as e:
        print(f"cannot read include rules: {e}", file=sys.stderr)
        return 2
    faults = check(root, rules)
    faults += check_logic(root, logic_files, options["--widget-dir"], set(options["--widget-header"]))
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include rule fault(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
