"""Builds further setup executables from tables sources written by the Wine tests.

Each variant is a C++ source defining `const SetupConfig setupConfig` (see
vocabulary/setup_config.h). All variants share one build directory, so the core is compiled once
per checkout and each variant only adds its tables and a link.
"""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "wine-variants")
SOURCES = os.path.join(BUILD, "tables")

HEADER = '#include "vocabulary/setup_config.h"\n\n'


def build_variants(tables, timeout=900):
    """tables: {name: C++ source text}. Returns {name: path of setup-<name>.exe}.

    Raises RuntimeError with the build output's tail when the build fails."""
    os.makedirs(SOURCES, exist_ok=True)
    paths = []
    for name, text in sorted(tables.items()):
        path = os.path.join(SOURCES, name + ".cpp")
        content = HEADER + text
        old = open(path).read() if os.path.exists(path) else None
        if old != content:
            with open(path, "w") as f:
                f.write(content)
        paths.append(path)
    # Keep earlier variants of this build directory in the list, so that two groups of
    # cases asking one after the other do not rebuild each other's executables.
    known = sorted(os.path.join(SOURCES, f) for f in os.listdir(SOURCES) if f.endswith(".cpp"))
    configure = ["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-i686.cmake"),
                 "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DKAVRIN_TABLE_VARIANTS=" + ";".join(known)]
    for cmd in (configure, ["cmake", "--build", BUILD]):
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                              stdin=subprocess.DEVNULL)
        if proc.returncode != 0:
            raise RuntimeError("building setup variants failed:\n" + proc.stdout.decode(errors="replace")[-3000:])
    return {name: os.path.join(BUILD, "setup-%s.exe" % name) for name in tables}


def c_string(text):
    """A C++ UTF-16 literal for text (None gives nullptr)."""
    if text is None:
        return "nullptr"
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return 'u"%s"' % escaped
