#!/usr/bin/env python3
"""Checks that every #include "..." in src/ and tools/ follows the layers of
scripts/layers.txt; prints file:line: and the broken rule for each include
that does not. --self-test: checks that an include upward is caught."""
import pathlib
import re
import sys

repo = pathlib.Path(__file__).resolve().parent.parent
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table(text):
    table = {}
    for line in text.splitlines():
        words = line.split("#", 1)[0].split()
        if words:
            peers = words[3:] if len(words) > 2 and words[2] == "with" else []
            table[words[1]] = (int(words[0]), set(peers))
    return table


def check(table, files):
    """files: {folder/name: text}. Gives one message per broken include."""
    home = {}
    for path in files:
        home.setdefault(path.rsplit("/", 1)[1], path.rsplit("/", 1)[0])
    errors = []
    for path, text in sorted(files.items()):
        folder = path.rsplit("/", 1)[0]
        if folder not in table:
            errors.append(f"{path}:1: its folder {folder} has no line in scripts/layers.txt")
            continue
        layer, peers = table[folder]
        for number, line in enumerate(text.splitlines(), 1):
            match = include.match(line)
            if not match:
                continue
            name = match.group(1)
            other = home.get(name)
            if other is None:
                errors.append(f'{path}:{number}: "{name}" is no header of src/ or tools/')
            elif other != folder and other not in peers and table[other][0] >= layer:
                errors.append(f'{path}:{number}: includes "{name}" from {other} (layer {table[other][0]}); '
                              f"{folder} (layer {layer}) includes only from lower layers"
                              + (f" and {' '.join(sorted(peers))}" if peers else ""))
    return errors


def tree_files():
    files = {}
    for pattern in ("src/*/*", "tools/*/*"):
        for path in repo.glob(pattern):
            if path.suffix in (".h", ".cpp"):
                files[path.relative_to(repo).as_posix()] = path.read_text(encoding="utf-8")
    return files


def main():
    table = read_table((repo / "scripts/layers.txt").read_text(encoding="utf-8"))
    files = tree_files()
    if sys.argv[1:] == ["--self-test"]:
        files["src/util/upward.cpp"] = '#include "nb_utils.h"\n#include "log.h"\n'
        errors = check(table, files)
        if errors != ['src/util/upward.cpp:2: includes "log.h" from src/log (layer 2); '
                      "src/util (layer 1) includes only from lower layers"]:
            print("check_layers.py: an include upward went unnoticed or was misreported:", *errors, sep="\n")
            return 1
        return 0
    errors = check(table, files)
    print(*errors, sep="\n", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
