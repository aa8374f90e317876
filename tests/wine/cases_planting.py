"""A DLL planted beside setup.exe under a system library's name is never loaded.

setup.exe usually runs from a downloads folder, and every library it loads besides the core
system DLLs comes from the system directory. Marker DLLs (planted_dll.c, of the setup's
bitness) lie beside it under those names, Wine is asked to prefer them, and the paths that load
each library run. A relative "InstallerLocation" must not load an msi.dll planted under the
folder it names: the system's engine installs instead. Control cases load the planted DLLs by
bare name and by relative path and must find their markers. The PE header is checked too.
"""
import os
import re
import shutil
import subprocess

import cases_faults
import cases_install
import harness
from harness import IDOK, texts, win_path

PLANTED = ("msi", "wintrust", "crypt32", "msimsg", "version", "urlmon", "comctl32")
OVERRIDES = ",".join(PLANTED) + "=n,b"  # Wine prefers the planted DLLs
CORE_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
INSTALLER_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer"
# Per build: the name's words, the optional header's magic, objdump's format, and the
# DllCharacteristics it must carry.
PE_KINDS = {"x86": ("32-bit", "010b", "pei-i386", (0x0040, 0x0100)),
            "x64": ("64-bit", "020b", "pei-x86-64", (0x0020, 0x0040, 0x0100))}
FLAG_NAMES = {0x0020: "high-entropy ASLR (HIGH_ENTROPY_VA)", 0x0040: "ASLR (DYNAMIC_BASE)",
              0x0100: "DEP (NX_COMPAT)"}
RELATIVE_ENGINE = os.path.join("engine", "msi.dll")


def add_cases(suite):
    group = Planting(suite)
    kind = PE_KINDS[suite.arch]
    suite.case("PE header: %s GUI, %sASLR and DEP, core system imports only"
               % (kind[0], "high-entropy " if suite.arch == "x64" else ""), group.pe_header)
    # (what is loaded, the folder of load_by_name.exe, the current directory, the markers
    # any one of which must be all that turns up)
    suite.case("planted DLLs: a bare-name load finds the planted DLL (control)", group.control,
               "version.dll", "", None, ["version.dll.loaded"])
    suite.case("planted DLLs: a relative-path load finds engine\\msi.dll under the program's "
               "folder or the current directory (control)", group.control, "engine\\msi.dll",
               "setup", "cwd", [os.path.join(d, RELATIVE_ENGINE) + ".loaded" for d in ("setup", "cwd")])
    suite.case("planted DLLs: never loaded by /v, the install run or an engine failure",
               group.never_loaded)
    for value in ("engine", ".\\engine"):
        suite.case('planted DLLs: relative InstallerLocation "%s": engine\\msi.dll under the '
                   "setup's folder and the current directory is not loaded, the system engine "
                   "installs (exit 0)" % value, group.relative_location, value)


class Planting:
    def __init__(self, suite):
        self.suite = suite
        self.dir = None

    def prepare(self):
        """planted/: the setup and its variants beside the marker DLLs; planted/setup/: the
        setup with the real package and engine\\msi.dll; planted/cwd/: engine\\msi.dll."""
        if self.dir:
            return
        s = self.suite
        root = s.new_tmp("planted")
        dll = os.path.join(s.bin, "planted.dll")
        for sub in ("setup", "cwd"):
            os.makedirs(os.path.join(root, sub, "engine"))
            shutil.copyfile(dll, os.path.join(root, sub, RELATIVE_ENGINE))
        for name in PLANTED:
            shutil.copyfile(dll, os.path.join(root, name + ".dll"))
        for folder in (root, os.path.join(root, "setup")):
            shutil.copyfile(s.setup_src, os.path.join(folder, "setup.exe"))
            shutil.copyfile(os.path.join(s.bin, "load_by_name.exe"),
                            os.path.join(folder, "load_by_name.exe"))
        # Not a package: the engine fails to open it.
        with open(os.path.join(root, s.package_file), "wb") as f:
            f.write(b"not a package" * 100)
        harness.lumora_package(s, os.path.join(root, "setup"))
        # A package beside the setup that the engine cannot open, no download address and no
        # expected version: the engine's failure is reported through its message library.
        # And one whose copy has no version, downloaded from a port where nothing listens.
        built = harness.build_variants({"localonly": cases_faults.TABLES["anycopy"],
                                        "closedport": cases_faults.TABLES["closedport"]}, s.arch)
        for name, exe in built.items():
            shutil.copyfile(exe, os.path.join(root, "setup-%s.exe" % name))
        self.dir = root

    def start(self, argv, cwd=None):
        """Starts a Wine command with the planted DLLs preferred, in cwd (a folder under
        planted/, default: this process's)."""
        env = self.suite.env("en")
        env["WINEDLLOVERRIDES"] += ";" + OVERRIDES
        return self.suite.start(["wine"] + argv, env, cwd and os.path.join(self.dir, cwd))

    def markers(self):
        return sorted(os.path.relpath(os.path.join(d, f), self.dir)
                      for d, _, files in os.walk(self.dir) for f in files if f.endswith(".loaded"))

    def clear_markers(self):
        self.prepare()
        for f in self.markers():
            os.remove(os.path.join(self.dir, f))

    def run_setup(self, exe, args, box_expected, cwd=None, want_exit=None):
        """Runs one setup path with the planted DLLs preferred; presses OK on its box.
        Returns (problems, launch.exe's report)."""
        s = self.suite
        def press_ok(proc, problems):
            return s.press(problems, texts.title("en"), IDOK, "OK on its box")
        return s.run_setup(os.path.join(self.dir, exe), args, "en", press_ok if box_expected else None,
                           want_exit, timeout_ms=30000, overrides=OVERRIDES,
                           cwd=cwd and os.path.join(self.dir, cwd))

    def pe_header(self):
        problems = []
        words, magic, fmt, flags_wanted = PE_KINDS[self.suite.arch]
        out = subprocess.run([harness.ARCH_TRIPLET[self.suite.arch] + "-objdump", "-p", self.suite.setup_src],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60).stdout.decode()
        if not re.search(r"^Magic\s+%s\s" % magic, out, re.M):
            problems.append("optional header magic is not %s (%s)" % (magic, words))
        if "(Windows GUI)" not in out:
            problems.append("subsystem is not Windows GUI")
        m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", out, re.M)
        flags = int(m.group(1), 16) if m else 0
        problems += ["no %s flag" % FLAG_NAMES[f] for f in flags_wanted if not flags & f]
        if "file format %s" % fmt not in out:
            problems.append("not a %s image" % fmt)
        extra = sorted({d.lower() for d in re.findall(r"DLL Name: (\S+)", out)} - CORE_IMPORTS)
        if extra:
            problems.append("imports beyond the core system DLLs: %s" % ", ".join(extra))
        return problems

    def control(self, name, folder, cwd, allowed):
        self.clear_markers()
        exe = win_path(os.path.join(self.dir, folder, "load_by_name.exe"))
        rc, _, _ = self.suite.finish(self.start([exe, name], cwd), 60)
        found = self.markers()
        self.clear_markers()
        if len(found) != 1 or found[0] not in allowed:
            return ["loading %s left markers %s, expected one of %s (exit %s)" % (name, found, allowed, rc)]
        return []

    def never_loaded(self):
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
            seen, res = self.run_setup(exe, args, box)
            if seen:
                problems.append("%s %s: %s" % (exe, args, "; ".join(seen)))
            elif want is not None and res["code"] != want:
                problems.append("%s %s: exit 0x%08X, expected 0x%08X" % (exe, args, res["code"], want))
            elif want is None and res["code"] in (0, 0x103):
                problems.append("%s: the engine did not fail (exit %d)" % (exe, res["code"]))
        found = self.markers()
        if found:
            problems.append("planted DLLs were loaded: %s" % ", ".join(found))
        return problems

    def relative_location(self, value):
        """The relative value is not used: the system's engine installs the package beside
        the setup without a box, run from planted/setup/ in the current directory planted/cwd/."""
        self.clear_markers()
        s, problems = self.suite, []
        cases_install.remove_product(s, problems)
        s.reg_add(INSTALLER_KEY, "InstallerLocation", value)
        try:
            problems += self.run_setup(os.path.join("setup", "setup.exe"), "", False, "cwd", 0)[0]
        finally:
            s.reg_add(INSTALLER_KEY, "InstallerLocation", "C:\\windows\\system32")
        cases_install.check_installed(s, problems)
        found = self.markers()
        if found:
            problems.append("planted DLLs were loaded: %s" % ", ".join(found))
        cases_install.remove_product(s, problems)
        return problems
