#!/usr/bin/env python3
"""Checks README.md, CHANGELOG.md and the pages under docs/ against the code:
every `ostrilo-admin COMMAND` they name is a command the program takes
(tools/ostrilo-admin/main.cpp), and every command its usage text lists is
named in docs/admin-tool.md; every ostrilo.cfg key they write as `key=...`
(in backticks, or at the start of a line of a code block) is a key of the
key table (src/config/config_keys.cpp), and the table of value types in
docs/policy.md names every key of the key table once. (The key table of
docs/configuration.md is held against the program's by the native test
policy_test.) Prints file:line and the fault for each and fails when there
is one. --self-test shows that each check notices a fault."""
import pathlib
import re
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent
# A command is the word behind the program's name, also behind "ostrilo-admin.exe""
# as a quoted path on a Windows command line.
MENTION = re.compile(r'ostrilo-admin(?:\.exe)?"?[ \t]+([^\s`"]+)')


# `name=...` in backticks, or a line of a code block that begins with "name=".
KEY_MENTION = re.compile(r'`([a-z][a-z0-9_]*) ?=')
KEY_LINE = re.compile(r'^([a-z][a-z0-9_]*) ?= ?\S')
# Written like a key but none: the general form, and parameters of links.
NOT_KEYS = {"key", "q", "url"}


def keys_in_code(config_keys_cpp):
    """The names of the key table's rows."""
    return re.findall(r'^\s*\{"([a-z_]+)", (?:text|path|on_off|choice|number),', config_keys_cpp, re.MULTILINE)


def key_faults(keys, pages):
    out = []
    known = {k.lower() for k in keys}
    for page, text in pages:
        block = False
        for number, line in enumerate(text.splitlines(), 1):
            if line.lstrip().startswith("```"):
                block = not block
                continue
            named = KEY_MENTION.findall(line) + (KEY_LINE.findall(line) if block else [])
            out += [f"{page}:{number}: '{name}=' is no key of ostrilo.cfg (src/config/config_keys.cpp)"
                    for name in named if name.lower() not in known and name not in NOT_KEYS]
        if page == "docs/policy.md":
            rows = [line for line in text.splitlines()
                    if re.match(r"\| (path|text|on/off|choice|number) \|", line)]
            listed = [name for row in rows for name in re.findall(r"`([a-z_]+)`", row.split("|")[2])]
            out += [f"{page}: the table of value types names '{k}' {listed.count(k)} times, not once"
                    for k in keys if listed.count(k) != 1]
            out += [f"{page}: the table of value types names '{k}', no key of the program"
                    for k in sorted(set(listed) - set(keys))]
    return out


def commands_in_code(main_cpp):
    """(every word main() takes as a command, the commands its usage text lists)."""
    taken = set(re.findall(r'command == "([^"]+)"', main_cpp))
    usage = main_cpp[main_cpp.index("usage_text[]"):main_cpp.index("constexpr int usage_status")]
    listed = set(re.findall(r'^\s*"  ([a-z][a-z-]*)[ \\]', usage, re.MULTILINE))
    return taken, listed


def mentions(pages):
    """(page, line number, command) for every command the pages name."""
    found = []
    for page, text in pages:
        for number, line in enumerate(text.splitlines(), 1):
            for word in MENTION.findall(line):
                found.append((page, number, word.rstrip(":,.;)")))
    return found


def faults(main_cpp, pages, reference):
    taken, listed = commands_in_code(main_cpp)
    out = [f"tools/ostrilo-admin/main.cpp: the usage text lists '{c}', which main() does not take"
           for c in sorted(listed - taken)]
    named = mentions(pages)
    out += [f"{page}:{number}: 'ostrilo-admin {word}' is no command of the program"
            for page, number, word in named if word not in taken]
    documented = {word for page, _, word in named if page == reference}
    out += [f"{reference}: the command '{c}' of the usage text is not described" for c in sorted(listed - documented)]
    return out


def self_test():
    main_cpp = ('const char usage_text[] =\n    "  lint [FILE...]\\n"\n    "  status\\n";\n'
                'constexpr int usage_status = 3;\nif (command == "lint")\nif (command == "status")\n')
    good = [("docs/admin-tool.md", "    ostrilo-admin lint [FILE...]\n## `ostrilo-admin status`\n")]
    assert faults(main_cpp, good, "docs/admin-tool.md") == [], faults(main_cpp, good, "docs/admin-tool.md")
    bad = good + [("README.md", 'run "C:\\P\\ostrilo-admin.exe" lnit\n')]
    assert faults(main_cpp, bad, "docs/admin-tool.md") == [
        "README.md:1: 'ostrilo-admin lnit' is no command of the program"]
    undocumented = [("docs/admin-tool.md", "ostrilo-admin lint\n")]
    assert faults(main_cpp, undocumented, "docs/admin-tool.md") == [
        "docs/admin-tool.md: the command 'status' of the usage text is not described"]
    assert faults(main_cpp.replace('if (command == "status")', ""), good, "docs/admin-tool.md")[0].endswith(
        "lists 'status', which main() does not take")
    keys = keys_in_code('    {"log", on_off, quiet,\n    {"unwrap_links", choice, quiet,\n')
    assert keys == ["log", "unwrap_links"], keys
    policy = "| on/off | `log` |\n| choice | `unwrap_links` | REG_DWORD |\n"
    pages = [("docs/policy.md", policy), ("README.md", "Set `log=1` or `LOG = 1`, with `key=value` and `url=`.\n"
                                           "```\nunwrap_links = 2\n```\n")]
    assert key_faults(keys, pages) == [], key_faults(keys, pages)
    bad = [("docs/policy.md", policy.replace("`log`", "`logs`")), ("docs/x.md", "```\nunwrap_link=1\n```\n")]
    assert key_faults(keys, bad) == [
        "docs/policy.md: the table of value types names 'log' 0 times, not once",
        "docs/policy.md: the table of value types names 'logs', no key of the program",
        "docs/x.md:2: 'unwrap_link=' is no key of ostrilo.cfg (src/config/config_keys.cpp)"], key_faults(keys, bad)


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return 0
    pages = [(str(p.relative_to(REPO)), p.read_text(encoding="utf-8"))
             for p in [REPO / "README.md", REPO / "CHANGELOG.md", *sorted((REPO / "docs").glob("*.md"))]
             if p.exists()]
    main_cpp = (REPO / "tools/ostrilo-admin/main.cpp").read_text(encoding="utf-8")
    found = faults(main_cpp, pages, "docs/admin-tool.md")
    keys = keys_in_code((REPO / "src/config/config_keys.cpp").read_text(encoding="utf-8"))
    found += key_faults(keys, pages)
    for fault in found:
        print(fault)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
