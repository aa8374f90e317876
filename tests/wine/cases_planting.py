"""A DLL planted beside setup.exe under a system library's name is never loaded.

setup.exe usually runs from a downloads folder. Every library it loads besides the core
system DLLs comes from the system directory; these cases plant marker DLLs under those
names beside it, ask Wine to prefer them (WINEDLLOVERRIDES=name=n,b), run the paths that
load each library, and look for markers. A control case loads one by bare name and must
find its marker, so the check itself is known to work. The executable's PE header is
checked too: imports, GUI subsystem, ASLR and DEP.
"""
import os
import re
import shutil
import subprocess
import sys

import variants

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import expected_texts as texts  # noqa: E402

PLANTED = ("msi", "wintrust", "crypt32", "msimsg", "version", "urlmon", "comctl32")
CORE_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
CAPTION_HEX = texts.title("en").encode().hex()

# A package beside the setup that the engine cannot open, no download address and no
# expected version: the engine's failure is reported through the engine's message library.
LOCAL_ONLY_TABLES = """
namespace {
const LanguageEntry kLanguages[] = {
    {1060, u"Slovenščina", {nullptr, u"Lumora.Win32.msi", u"Lumora.x64.msi", nullptr}, {}},
    {0, nullptr, {}, {}},
};
const PackageEntry kPackages[] = {
    {nullptr, u"INSTALL", u"Quorvex Lumora", nullptr, nullptr, 0, 2, kLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
}  // namespace
const SetupConfig setupConfig = {u"https://localhost:1/MSI/2.0/", u"InstMSIA.exe", u"InstMSIW.exe", 200, kPackages};
"""


# The package beside the setup has the wrong version, so it is downloaded, from a port where
# nothing listens: the download fails at once.
CLOSED_PORT_TABLES = """
namespace {
const LanguageEntry kLanguages[] = {
    {1060, u"Slovenščina", {nullptr, u"Lumora.Win32.msi", u"Lumora.x64.msi", nullptr}, {}},
    {0, nullptr, {}, {}},
};
const PackageEntry kPackages[] = {
    {u"https://localhost:1/prenos/?verzija=5.1&paket=", u"INSTALL", u"Quorvex Lumora", nullptr, u"5.1", 0, 5, kLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
}  // namespace
const SetupConfig setupConfig = {u"https://localhost:1/MSI/2.0/", u"InstMSIA.exe", u"InstMSIW.exe", 200, kPackages};
"""


def add_cases(suite):
    if not any(suite.wanted(n) for n in ("planted", "PE header")):
        return
    group = Planting(suite)
    suite.case("PE header: 32-bit GUI, ASLR and DEP, core system imports only", group.pe_header)
    suite.case("planted DLLs: a bare-name load finds the planted DLL (control)", group.control)
    suite.case("planted DLLs: never loaded by /v, the install run or an engine failure",
               group.never_loaded)


class Planting:
    def __init__(self, suite):
        self.suite = suite
        self.dir = os.path.join(suite.work, "planted")
        self.ready = False

    def prepare(self):
        if self.ready:
            return
        s = self.suite
        os.makedirs(self.dir, exist_ok=True)
        dll = os.path.join(s.bin, "planted.dll")
        s.run(["i686-w64-mingw32-gcc", "-shared", "-O2", "-s", "-o", dll,
               os.path.join(os.path.dirname(__file__), "planted_dll.c")], 120, what="planted_dll.c")
        s.run(["i686-w64-mingw32-gcc", "-municode", "-O2", "-s", "-o",
               os.path.join(s.bin, "load_by_name.exe"),
               os.path.join(os.path.dirname(__file__), "load_by_name.c")], 120, what="load_by_name.c")
        for name in PLANTED:
            shutil.copyfile(dll, os.path.join(self.dir, name + ".dll"))
        shutil.copyfile(s.setup_src, os.path.join(self.dir, "setup.exe"))
        shutil.copyfile(os.path.join(s.bin, "load_by_name.exe"), os.path.join(self.dir, "load_by_name.exe"))
        # Not a package: the engine fails to open it.
        with open(os.path.join(self.dir, "Lumora.Win32.msi"), "wb") as f:
            f.write(b"not a package" * 100)
        built = variants.build_variants({"localonly": LOCAL_ONLY_TABLES, "closedport": CLOSED_PORT_TABLES})
        for name, exe in built.items():
            shutil.copyfile(exe, os.path.join(self.dir, "setup-%s.exe" % name))
        self.ready = True

    def env(self):
        e = self.suite.env("en")
        e["WINEDLLOVERRIDES"] += ";" + ",".join(PLANTED) + "=n,b"
        return e

    def markers(self):
        return sorted(f for f in os.listdir(self.dir) if f.endswith(".loaded"))

    def clear_markers(self):
        for f in self.markers():
            os.remove(os.path.join(self.dir, f))

    def run_setup(self, exe, args, box_expected):
        """Runs one setup path with the planted DLLs preferred; presses OK on its box."""
        s = self.suite
        stem = s.new_tmp("planted")
        cmdfile, stopfile, seenfile = stem + ".cmd", stem + ".stop", stem + ".seen"
        with open(cmdfile, "w", encoding="utf-8") as fh:
            fh.write('"%s"%s' % (win_path(os.path.join(self.dir, exe)), " " + args if args else ""))
        argv = ["wine", win_path(os.path.join(s.bin, "runexit.exe")), "--stop", win_path(stopfile),
                "--seen", win_path(seenfile), win_path(cmdfile), "30000"]
        proc = s.start(argv, self.env())
        pressed = True
        if box_expected:
            rc, _, raw = s.robot(["press", CAPTION_HEX, "1", "20000"], "en", 60)
            pressed = rc == 0
        res = s.end_setup(proc, stopfile, stop_now=not pressed)
        return res, pressed

    def pe_header(self):
        problems = []
        out = subprocess.run(["i686-w64-mingw32-objdump", "-p", self.suite.setup_src],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60).stdout.decode()
        if not re.search(r"^Magic\s+010b\s+\(PE32\)", out, re.M):
            problems.append("not a PE32 image")
        if "(Windows GUI)" not in out:
            problems.append("subsystem is not Windows GUI")
        m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", out, re.M)
        flags = int(m.group(1), 16) if m else 0
        if not flags & 0x0040:
            problems.append("no ASLR (DYNAMIC_BASE) flag")
        if not flags & 0x0100:
            problems.append("no DEP (NX_COMPAT) flag")
        if "file format pei-i386" not in out:
            problems.append("not an i386 image")
        imports = {d.lower() for d in re.findall(r"DLL Name: (\S+)", out)}
        extra = sorted(imports - CORE_IMPORTS)
        if extra:
            problems.append("imports beyond the core system DLLs: %s" % ", ".join(extra))
        return problems

    def control(self):
        self.prepare()
        self.clear_markers()
        s = self.suite
        p = s.run(["wine", win_path(os.path.join(self.dir, "load_by_name.exe")), "version.dll"], 60,
                  env=self.env(), check=False)
        found = self.markers()
        self.clear_markers()
        if found != ["version.dll.loaded"]:
            return ["a bare-name load of version.dll left markers %s (exit %s)" % (found, p.returncode)]
        return []

    def never_loaded(self):
        self.prepare()
        self.clear_markers()
        problems = []
        runs = [
            # The trust provider and certificates.
            ("setup.exe", "/v " + win_path(os.path.join(self.dir, "setup.exe")), False, 0x800B0004),
            # Common controls, version, the engine (binding, package database) and urlmon.
            ("setup-closedport.exe", "", True, 2),
            # The engine's message library, after the engine failed on the local file.
            ("setup-localonly.exe", "", True, None),
        ]
        for exe, args, box, want in runs:
            res, pressed = self.run_setup(exe, args, box)
            if not pressed:
                problems.append("%s %s: no message box to close" % (exe, args))
            elif want is not None and res["code"] != want:
                problems.append("%s %s: exit 0x%08X, expected 0x%08X" % (exe, args, res["code"], want))
            elif want is None and res["code"] in (0, 0x103):
                problems.append("%s: the engine did not fail (exit %d)" % (exe, res["code"]))
        found = self.markers()
        if found:
            problems.append("planted DLLs were loaded: %s" % ", ".join(found))
        return problems


def win_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")
