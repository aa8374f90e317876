#!/usr/bin/env python3
"""Reads a tables source (a C++ file defining `const SetupConfig setupConfig`, see
vocabulary/setup_config.h) by compiling it on the host with scripts/tables_dump.cpp, and writes a
tables source back from what it read.

    tables.py json FILE      the configuration as JSON
    tables.py signing FILE   two lines: the signature's description and its URL (empty when
                             the tables have none)

A tables file that does not compile: the compiler's messages and exit status 1.
"""
import json
import os
import subprocess
import sys
import tempfile
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DUMP = os.path.join(ROOT, "scripts", "tables_dump.cpp")
COLUMNS = ("non-NT", "x86", "x64", "ARM64")


class TablesError(Exception):
    pass


def load(path):
    """The configuration of a tables source as a dict (the field names of setup_config.h)."""
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise TablesError("%s: no such readable file" % path)
    with tempfile.TemporaryDirectory(prefix="kavrin-tables-") as tmp:
        exe = os.path.join(tmp, "dump")
        proc = subprocess.run(["g++", "-std=c++17", "-w", "-I", ROOT, "-o", exe,
                               os.path.abspath(path), DUMP],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if proc.returncode != 0:
            raise TablesError("%s does not compile:\n%s" % (path, proc.stdout.decode(errors="replace")))
        proc = subprocess.run([exe], stdout=subprocess.PIPE, timeout=60)
        if proc.returncode != 0:
            raise TablesError("%s: reading its tables failed (status %d)" % (path, proc.returncode))
    return json.loads(proc.stdout.decode())


def signing(config):
    """(description, URL) for the signature: the first product's name and expected version,
    and the scheme and host of the first download address."""
    rows = config["packages"]
    description = ""
    if rows:
        description = " ".join(t for t in (rows[0]["productName"], rows[0]["expectedVersion"]) if t)
    url = ""
    for row in rows:
        parts = urllib.parse.urlsplit(row["downloadUrl"] or "")
        if parts.scheme and parts.netloc:
            url = "%s://%s/" % (parts.scheme, parts.netloc)
            break
    return description, url


def files(config):
    """Every file the tables name: [(row, language row, column name, kind, file name)]."""
    out = []
    for row in config["packages"]:
        for lang in row["languages"] or []:
            for kind in ("packageFiles", "patchFiles"):
                for column, name in zip(COLUMNS, lang[kind]):
                    if name:
                        out.append((row, lang, column, kind, name))
    return out


def c_string(text):
    if text is None:
        return "nullptr"
    out = []
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif " " <= ch < "\x7f":
            out.append(ch)
        else:
            out.append("\\u%04x" % ord(ch))  # every table text is in the BMP
    return 'u"%s"' % "".join(out)


def source(config):
    """A tables source (without its #include) holding `config`."""
    lines = ["namespace {"]
    rows = []
    for i, row in enumerate(config["packages"]):
        langs = "nullptr"
        if row["languages"] is not None:
            langs = "kLanguages%d" % i
            lines.append("const LanguageEntry %s[] = {" % langs)
            for lang in row["languages"] + [None]:
                if lang is None:
                    lang = {"langId": 0, "languageName": None, "packageFiles": [None] * 4,
                            "patchFiles": [None] * 4}
                lines.append("    {%d, %s, {%s}, {%s}}," % (
                    lang["langId"], c_string(lang["languageName"]),
                    ", ".join(map(c_string, lang["packageFiles"])),
                    ", ".join(map(c_string, lang["patchFiles"]))))
            lines.append("};")
        rows.append("    {%s, %s, %s, %s, %s, %d, %d, %s}," % (
            c_string(row["downloadUrl"]), c_string(row["operation"]), c_string(row["productName"]),
            c_string(row["properties"]), c_string(row["expectedVersion"]), row["askFirst"],
            row["uiLevel"], langs))
    lines.append("const PackageEntry kPackages[] = {")
    lines += rows
    lines.append("    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},")
    lines.append("};")
    lines.append("}  // namespace")
    lines.append("const SetupConfig setupConfig = {%s, %s, %s, %d, kPackages};" % (
        c_string(config["redistBaseUrl"]), c_string(config["redistNonNtFile"]),
        c_string(config["redistNtFile"]), config["minEngineVersion"]))
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 3 or argv[1] not in ("json", "signing"):
        sys.stderr.write("usage: tables.py json|signing FILE\n")
        return 2
    try:
        config = load(argv[2])
    except TablesError as e:
        sys.stderr.write("%s\n" % e)
        return 1
    if argv[1] == "json":
        json.dump(config, sys.stdout, indent=1, ensure_ascii=False)
        sys.stdout.write("\n")
    else:
        sys.stdout.write("%s\n%s\n" % signing(config))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
