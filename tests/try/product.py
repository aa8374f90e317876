"""A generated product for the `make try` tests: "Quorvex Tessa" 2.4 in German and French,
for x86 and x64 (four packages built with wixl, each with its own ProductCode and a text
file naming its language and processor), and its tables source."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import harness  # noqa: E402

PRODUCT_CODES = {  # (language, processor) -> ProductCode
    ("de", "x86"): "{6C1D2E55-3A2F-4D9B-8F62-2E5B1C8D6201}",
    ("de", "x64"): "{6C1D2E55-3A2F-4D9B-8F62-2E5B1C8D6202}",
    ("fr", "x86"): "{6C1D2E55-3A2F-4D9B-8F62-2E5B1C8D6203}",
    ("fr", "x64"): "{6C1D2E55-3A2F-4D9B-8F62-2E5B1C8D6204}",
}
LANG_IDS = {"de": 1031, "fr": 1036}
VERSION = "2.4"


def file_name(lang, cpu):
    return "Tessa-%s-%s.%s.msi" % (VERSION, lang, cpu)


def write(directory, name, content):  # text or bytes; returns the path
    path = os.path.join(directory, name)
    with open(path, "wb" if isinstance(content, bytes) else "w") as f:
        f.write(content)
    return path


def build_packages(directory, version_of=lambda lang, cpu: VERSION, pad_bytes=1 << 20):
    """The four packages in directory; version_of gives each one's ProductVersion. Each
    carries pad_bytes of random data, so that a slowed-down download takes a while."""
    src = os.path.join(directory, "src")
    os.makedirs(src, exist_ok=True)
    write(src, "tessa.dat", os.urandom(pad_bytes))
    for (lang, cpu), code in PRODUCT_CODES.items():
        write(src, "tessa.txt", "Quorvex Tessa %s, %s, %s\n" % (VERSION, lang, cpu))
        source = write(src, "tessa-%s-%s.wxs" % (lang, cpu), harness.package_wxs(
            "Quorvex Tessa", code, "{6C1D2E55-3A2F-4D9B-8F62-2E5B1C8D6200}",
            code.replace("6C1D2E55", "7D2E3F66"), version_of(lang, cpu), ("Quorvex", "Tessa"),
            [("ReadMe", "tessa-%s-%s.txt" % (lang, cpu), "tessa.txt"), ("Pad", "tessa.dat", "tessa.dat")],
            language=LANG_IDS[lang], cabinet="tessa.cab", x64=cpu == "x64"))
        subprocess.run(["wixl", "-a", cpu, "-o", os.path.join(directory, file_name(lang, cpu)), source],
                       cwd=src, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, timeout=120)


def tables_source():
    """Both languages in one INSTALL row, written by the release tools' own writer."""
    return harness.HEADER + harness.tables_source(
        [("https://dl.quorvex.example/tessa/2.4/", "INSTALL", "Quorvex Tessa", None, VERSION, 0, 5,
          [(LANG_IDS[lang], name, [None, file_name(lang, "x86"), file_name(lang, "x64"), None], None)
           for lang, name in (("de", "Deutsch"), ("fr", "Fran\u00e7ais"))])],
        "https://dl.quorvex.example/msi/2.0/")
