"""Builds further setup executables from tables sources written by the Wine tests.

Each variant is a C++ source defining `const SetupConfig setupConfig` (see
vocabulary/setup_config.h). All variants share one build directory, so the core is compiled once
per checkout and each variant only adds its tables and a link.
"""
import hashlib
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SOURCES = os.path.join(ROOT, "build", "wine-variants", "tables")
TOOLCHAINS = {"x86": "mingw-i686.cmake", "x64": "mingw-x86_64.cmake"}

HEADER = '#include "vocabulary/setup_config.h"\n\n'


def build_variants(tables, arch, timeout=900):
    """tables: {name: C++ source text}; arch: x86 or x64, each with its own build directory.
    Returns {name: path of its setup executable}.

    A variant is named by its name and a hash of its source (setup-NAME-HASH.exe), so two
    groups of cases that ask for one name with different tables get two executables, never
    each other's. Raises RuntimeError with the build output's tail when the build fails."""
    os.makedirs(SOURCES, exist_ok=True)
    stems = {}
    for name, text in sorted(tables.items()):
        content = HEADER + text
        stem = "%s-%s" % (name, hashlib.sha1(content.encode("utf-8")).hexdigest()[:10])
        path = os.path.join(SOURCES, stem + ".cpp")
        if not os.path.exists(path):
            with open(path + ".tmp", "w") as f:
                f.write(content)
            os.replace(path + ".tmp", path)
        stems[name] = stem
    # Keep the other variants of this build directory in the list, so that two groups of
    # cases asking one after the other do not rebuild each other's executables.
    known = sorted(os.path.join(SOURCES, f) for f in os.listdir(SOURCES) if f.endswith(".cpp"))
    build = os.path.join(ROOT, "build", "wine-variants", arch)
    configure = ["cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", TOOLCHAINS[arch]),
                 "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DKAVRIN_TABLE_VARIANTS=" + ";".join(known)]
    for cmd in (configure, ["cmake", "--build", build]):
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                              stdin=subprocess.DEVNULL)
        if proc.returncode != 0:
            raise RuntimeError("building setup variants failed:\n" + proc.stdout.decode(errors="replace")[-3000:])
    return {name: os.path.join(build, "setup-%s.exe" % stem) for name, stem in stems.items()}


def c_string(text):
    """A C++ UTF-16 literal for text (None gives nullptr)."""
    if text is None:
        return "nullptr"
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return 'u"%s"' % escaped


def lumora_download_tables(port, min_engine=200):
    """The built-in Lumora row (every column's package), its addresses on a local server."""
    c = c_string
    return """
namespace {
const LanguageEntry kLanguages[] = {
    {1060, u"Slovenščina", {nullptr, u"Lumora.Win32.msi", u"Lumora.x64.msi", u"Lumora.ARM64.msi"},
     {nullptr, nullptr, nullptr, nullptr}},
    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},
};
const PackageEntry kPackages[] = {
    {%s, u"INSTALL", u"Quorvex Lumora", nullptr, u"5.1", 0, 5, kLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
}  // namespace
const SetupConfig setupConfig = {%s, u"InstMSIA.exe", u"InstMSIW.exe", %d, kPackages};
""" % (c("https://localhost:%d/prenos/?verzija=5.1&paket=" % port),
       c("https://localhost:%d/MSI/2.0/" % port), min_engine)


def lumora_package(suite, directory, pad_mib=0):
    """Builds the Lumora 5.1 package of suite's architecture in directory, with a random
    padding file of pad_mib MiB (random, so that the cabinet cannot shrink it). Returns its
    path (directory/Lumora.Win32.msi or Lumora.x64.msi)."""
    os.makedirs(directory, exist_ok=True)
    files = [("ReadMe", "lumora.txt", "lumora.txt")]
    with open(os.path.join(directory, "lumora.txt"), "w") as f:
        f.write("Quorvex Lumora 5.1\n")
    if pad_mib:
        with open(os.path.join(directory, "lumora.dat"), "wb") as f:
            f.write(os.urandom(pad_mib << 20))
        files.append(("Pad", "lumora.dat", "lumora.dat"))
    x64 = suite.arch == "x64"
    with open(os.path.join(directory, "lumora.wxs"), "w") as f:
        f.write(package_wxs("Quorvex Lumora", LUMORA_PRODUCT_CODE, "{0E6A3F2C-8D49-4F0B-B1C7-6A2D4C9E5100}",
                            "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}", "5.1", ("Quorvex", "Lumora"), files,
                            cabinet="lumora.cab", x64=x64))
    msi = os.path.join(directory, suite.package_file)
    suite.run(["wixl"] + (["-a", "x64"] if x64 else []) + ["-o", msi, "lumora.wxs"], 300,
              what="wixl lumora.wxs", cwd=directory)
    return msi


LUMORA_PRODUCT_CODE = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5101}"


def package_wxs(product, product_code, upgrade_code, component_guid, version, folders, files,
                language=1033, cabinet="package.cab", x64=False):
    """WiX source of a one-component test package for wixl.

    folders: the install folder's path under Program Files, e.g. ("Quorvex", "Lumora");
    files: (id, name, source) of each file, the first one the component's key path; x64: a
    64-bit component under the 64-bit Program Files (build it with `wixl -a x64`)."""
    dirs = [("INSTALLDIR" if n == len(folders) - 1 else "%sDir" % name.replace(" ", ""), name)
            for n, name in enumerate(folders)]
    pad = "  " * (len(dirs) + 4)
    entries = "".join('%s  <File Id="%s" Name="%s" Source="%s"%s/>\n'
                      % (pad, fid, name, source, ' KeyPath="yes"' if n == 0 else "")
                      for n, (fid, name, source) in enumerate(files))
    opening = "".join('%s<Directory Id="%s" Name="%s">\n' % ("  " * (n + 4), did, name)
                      for n, (did, name) in enumerate(dirs))
    closing = "".join("%s</Directory>\n" % ("  " * (n + 4)) for n in reversed(range(len(dirs))))
    return """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="%(code)s" Name="%(product)s" Language="%(language)d" Version="%(version)s"
           Manufacturer="Quorvex" UpgradeCode="%(upgrade)s">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="%(cabinet)s" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="%(pf)s">
%(opening)s%(pad)s<Component Id="Main" Guid="%(component)s"%(win64)s>
%(entries)s%(pad)s</Component>
%(closing)s      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
""" % {"code": product_code, "product": product, "language": language, "version": version,
       "upgrade": upgrade_code, "cabinet": cabinet,
       "pf": "ProgramFiles64Folder" if x64 else "ProgramFilesFolder", "opening": opening,
       "pad": pad, "component": component_guid, "win64": ' Win64="yes"' if x64 else "",
       "entries": entries, "closing": closing}
