#!/usr/bin/env python3
"""Tests of `make try` on the product of tests/try/product.py (two languages, x86 and x64).
Without Wine: packages that do not match the tables are reported and nothing runs; the variant
and helpers are built for the default architecture (x86 where the kernel runs 32-bit x86 code,
else x64), and elsewhere ARCH=x86 stops with the probe's reason. Under Wine, downloaded and from
beside the setup: the x64 setup installs the x64 package; where 32-bit code runs, the x86 setup
installs the x64 package on 64-bit Windows (WOW64) and the x86 package with WINEARCH=win32.

    run_try_tests.py [--no-wine]        ends with "try: N passed, M failed, K skipped"
"""
import json
import os
import shutil
import ssl
import subprocess
import sys
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(REPO, "scripts"), os.path.join(REPO, "tests")]
import harness  # noqa: E402
import product  # noqa: E402
trypy = __import__("try")  # scripts/try.py: its HTTPS server

WORK = os.path.join(REPO, "build", "try-tests")
REPORT = harness.Report("try")


def tried(*parts):  # where make try leaves the variant, its PKI, the served copies and the runs
    return os.path.join(REPO, "build", "try", *parts)


def make_try(packages, tables, prepare_only=False, **env):
    """make try (or try.py --prepare-only) with env and none of the caller's own settings."""
    own = ("CERT", "KEY", "KEY_PASS", "ARCH", "WINEARCH", "UI_LEVEL")
    e = dict({k: v for k, v in os.environ.items() if k not in own}, PACKAGES=packages, TABLES=tables, **env)
    cmd = ([sys.executable, os.path.join(REPO, "scripts", "try.py"), "--prepare-only"] if prepare_only
           else ["make", "--no-print-directory", "-C", REPO, "try"])
    proc = subprocess.run(cmd, env=e, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          stdin=subprocess.DEVNULL, timeout=1800)
    return proc.returncode, proc.stdout.decode(errors="replace")


def failing(*checks):
    """The reasons of those (failed, reason) checks that failed."""
    return [why for failed, why in checks if failed]


def refused(packages, tables, wants, **env):
    """make try stops before Wine: a non-zero exit, and its output names each of wants."""
    code, out = make_try(packages, tables, **env)
    return failing((code == 0, "exit 0"), ("Wine prefix" in out, "it went on to Wine"),
                   *((w not in out, "no %r in: %s" % (w, out[-800:])) for w in wants + ["nothing was run"]))


def prepare_only(packages, tables, **settings):
    """try.py --prepare-only: None when it succeeded, else its output as the case's problem."""
    code, out = make_try(packages, tables, True, **settings)
    return [out[-1500:]] if code else None


def verify(path, ca):
    """osslsigncode's report on path's signature; its exit status is 0 when it holds under ca."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=60)


def prepared(packages, tables, arch):
    """try.py --prepare-only: the signed variant and the helpers are built for arch, the variant asks the
    local server for the vendor's paths, and the server answers exactly those with the signed copies."""
    failed = prepare_only(packages, tables, TRY_PORT="47902")
    if failed:
        return failed
    exe, ca = tried("setup.exe"), tried("pki", "ca.pem")
    bins = [tried("bin", f) for f in sorted(os.listdir(tried("bin")))]
    prefix = "https://localhost:%d/tessa/2.4/" % json.load(open(tried("state.json")))["port"]
    image = open(exe, "rb").read()
    names = sorted(product.file_name(l, c) for (l, c) in product.PRODUCT_CODES)
    problems = ["%s is not %s" % (f, arch) for f in [exe] + bins if harness.pe_arch(f) != arch]
    problems += failing(
        (prefix.encode("utf-16-le") not in image, "setup.exe does not hold %s" % prefix),
        (b"dl.quorvex.example" in image.replace(b"\0", b""), "setup.exe still holds the vendor's host"),
        (sorted(os.listdir(tried("serve"))) != names, "serve/ holds %s" % os.listdir(tried("serve"))))
    problems += ["%s does not verify" % os.path.basename(f)
                 for f in [exe] + [tried("serve", n) for n in names] if verify(f, ca).returncode != 0]
    log = os.path.join(WORK, "requests.log")
    server = trypy.start_server(0, log)  # try.py's own: the signed copies at the variant's addresses
    try:
        base = "https://localhost:%s" % open(log + ".port").read().strip()
        context = ssl.create_default_context(cafile=ca)
        name = product.file_name("fr", "x64")
        got = urllib.request.urlopen(base + "/tessa/2.4/" + name, context=context, timeout=30).read()
        if got != open(tried("serve", name), "rb").read():
            problems.append("the server sent something else for %s" % name)
        for wrong in ("/tessa/2.4" + name, "/tessa/" + name, "/prenos/?verzija=5.1&paket=" + name):
            try:
                urllib.request.urlopen(base + wrong, context=context, timeout=30).read()
                problems.append("the server answered %s" % wrong)
            except urllib.error.HTTPError as err:
                if err.code != 404:
                    problems.append("%s: %d" % (wrong, err.code))
    except (OSError, ValueError) as err:
        problems.append("server: %s" % err)
    finally:
        server.terminate()
        server.wait(timeout=30)
    return problems


def vendor_signed(packages, tables):
    """With CERT and KEY the variant and the packages carry the vendor's signature, and the
    prefix is told to trust the root that ends the vendor's chain besides the test CA."""
    pki = os.path.join(WORK, "vendor-pki")
    subprocess.run(["bash", os.path.join(REPO, "tests", "wine", "pki.sh"), pki], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    failed = prepare_only(packages, tables, CERT=os.path.join(pki, "leaf2-chain.pem"),
                          KEY=os.path.join(pki, "leaf2.key"))
    if failed:
        return failed
    problems = ["%s is not signed by the vendor's certificate" % os.path.basename(f)
                for f in (tried("setup.exe"), tried("serve", product.file_name("de", "x86")))
                if not all(w in verify(f, os.path.join(pki, "ca2.pem")).stdout.decode(errors="replace")
                           for w in ("Subject: /CN=Other Test Publisher", "Signature verification: ok"))]

    def thumb(path):
        return subprocess.run(["openssl", "x509", "-in", path, "-noout", "-fingerprint", "-sha1"],
                              stdout=subprocess.PIPE, timeout=60).stdout.decode().split("=")[1].strip()
    told = [thumb(path) for path in json.load(open(tried("pki", "cas.json")))]  # what make_prefix gets
    return problems + ["the prefix is not told to trust %s" % os.path.basename(path) for path in
                       (tried("pki", "ca.pem"), os.path.join(pki, "ca2.pem")) if thumb(path) not in told]


def installs(cpu, packages, tables, **env):
    """make try with env: both runs end with 0 and install the first language's package for
    cpu, and only that one; the download run fetched exactly that file."""
    # 1 MiB sent 64 KiB at a time with 250 ms pauses: about 4 s, long enough for screenshots.
    code, out = make_try(packages, tables, TRY_DELAY_MS="250", **env)
    problems = [] if code == 0 else ["exit %d: %s" % (code, out[-1500:])]
    if harness.pe_arch(tried("setup.exe")) != env["ARCH"]:
        problems.append("the variant is not an %s setup" % env["ARCH"])
    # The language dialog's OK without a match takes the first row.
    want, want_code = product.file_name("de", cpu), product.PRODUCT_CODES[("de", cpu)]
    text = "Program Files/Quorvex/Tessa/tessa-de-%s.txt" % cpu
    for run, requests in (("download", ["/tessa/2.4/" + want]), ("beside", [])):
        if not os.path.exists(tried(run, "result.json")):
            problems.append("%s: no result" % run)
            continue
        r = json.load(open(tried(run, "result.json")))
        problems += ["%s: %s" % (run, why) for why in failing(
            (r["exit"] != 0, "exit %s" % r["exit"]),
            (r["requests"] != requests, "requests %s, expected %s" % (r["requests"], requests)),
            (text not in r["files"], "no %s among %s" % (text, r["files"])),
            (run == "download" and not os.path.exists(tried(run, "progress.png")), "no contact sheet"))]
        problems += ["%s: %s-%s has state %s" % (run, lang, c, r["states"].get(pc))
                     for (lang, c), pc in product.PRODUCT_CODES.items()
                     if (pc == want_code) != (r["states"].get(pc) == 5)]
    return problems


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    packages = os.path.join(WORK, "packages")
    product.build_packages(packages)
    tables = product.write(WORK, "tessa_tables.cpp", product.tables_source())

    fr64, fr86, de86 = (product.file_name(*k) for k in (("fr", "x64"), ("fr", "x86"), ("de", "x86")))
    for name, directory, change, want in [  # a copy of the packages, then changed
            ("a file name missing from PACKAGES", "partial", lambda d: os.remove(os.path.join(d, fr64)),
             "problem: %s (Quorvex Tessa, Fran\u00e7ais, x64) is not in" % fr64),
            ("a package with another ProductVersion", "other-version",
             lambda d: product.build_packages(d, lambda *key: "2.4.0" if key == ("de", "x86") else "2.4"),
             "%s (Quorvex Tessa, Deutsch, x86) has ProductVersion '2.4.0', the tables expect '2.4'" % de86),
            ("a file that is not a package", "junk", lambda d: product.write(d, fr86, "not a package\n"),
             "%s (Quorvex Tessa, Fran\u00e7ais, x86) is not a Windows Installer package" % fr86)]:
        shutil.copytree(packages, os.path.join(WORK, directory))
        change(os.path.join(WORK, directory))
        REPORT.case(name, refused, os.path.join(WORK, directory), tables, [want])

    refusal = harness.ia32_refused()  # None where the kernel runs 32-bit x86 code
    REPORT.case("try prepares a signed variant and its server", prepared, packages, tables,
                "x64" if refusal else "x86")
    REPORT.case("try signs with the vendor's certificate", vendor_signed, packages, tables)
    if refusal:
        REPORT.case("make try ARCH=x86 stops with the ia32 probe's reason", refused, packages, tables,
                    ["Wine cannot start the x86 setup.exe on this machine: " + refusal], ARCH="x86")
    # On 64-bit Windows the x86 setup, as the x64 one, takes the x64 column.
    wine_runs = [("x64", {"ARCH": "x64"}), ("x64", {"ARCH": "x86", "WINEARCH": "win64"}),
                 ("x86", {"ARCH": "x86", "WINEARCH": "win32"})]
    for cpu, env in wine_runs if "--no-wine" not in sys.argv else []:
        name = "make try %s installs the %s package" % (" ".join(map("=".join, sorted(env.items()))), cpu)
        if refusal and env["ARCH"] == "x86":
            REPORT.skip(name, refusal)
        else:
            REPORT.case(name, installs, cpu, packages, tables, **env)
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main())
