#!/usr/bin/env python3
"""make demo: install runs of setup.exe under Wine that download "Quorvex Lumora 5.1" over
HTTPS from a server on this machine, verify its signature and install it, once per language
of the setup (English, Slovenian, Italian, Albanian), with screenshots of the progress window.

Builds both setups (make windows), then runs the x86 one where the kernel runs 32-bit x86
code and the x64 one (64-bit Wine, win64 prefix) where it does not; DEMO_ARCH=x86|x64 picks.
Wine is that of a Debian root (tests/wine/roots.sh: bookworm, Wine 8; DEMO_WINE=trixie for
Wine 10). In build/demo: pki/ (the tests' throw-away CA, the demo publisher, the server's
certificate), serve/ (the padded, signed package), run/ (a setup built with its download
address on https://localhost:PORT, signed, nothing beside it), screenshots/. Exit status 0
only when every run exited 0 and left the product installed.
"""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "wine"), os.path.join(ROOT, "tests")]
import expected_texts as texts  # noqa: E402
import harness  # noqa: E402

WORK = os.path.join(ROOT, "build", "demo")
PAD_MIB = 4      # the package: about 4 MiB ...
DELAY_MS = 80    # ... sent 64 KiB at a time with this pause: about 5 s
LANGS = ("en", "sl", "it", "sq")
SHOTS_PER_RUN = 3


def log(text):
    print("\n== " + text, flush=True)


def progress(s, lang):
    """The progress window's state as dialogs.exe sees it, or None."""
    _, state, _ = s.dialogs("progress", texts.title(lang), lang=lang)
    return state if state and state.get("found") else None


def one_run(s, exe, lang, template):
    """One install run in its own copy of the prefix; returns (ok, lines to print)."""
    s.prefix = s.copy_prefix(os.path.join(WORK, "prefix-" + lang), template)
    proc = s.start_setup(exe, "", lang, timeout_ms=180000)
    shots = []
    deadline = time.time() + 120
    while proc.poll() is None and len(shots) < SHOTS_PER_RUN and time.time() < deadline:
        state = progress(s, lang)
        if state and state["visible"] and 0 < state["pos"] < state["high"]:
            png = "progress-%s-%d.png" % (lang, len(shots) + 1)
            s.screenshot(png)
            shots.append("%s: %s | %s | %d of %d bytes" % (png, state["title"], state["status"],
                                                          state["pos"], state["high"]))
            time.sleep(1)
        else:
            time.sleep(0.2)
    res = s.end_setup(proc)
    state = s.products("state", harness.LUMORA_PRODUCT_CODE)
    lines = ["exit status 0x%08X (%d)" % (res["code"], res["code"]),
             "product state and install source (5 = installed): " + state] + shots
    s.stop_wineserver()
    return res["code"] == 0 and " 5 " in " %s " % state, lines


def wine_part(arch):
    exe = os.path.join(ROOT, "out", *(["x64"] if arch == "x64" else []), "setup.exe")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    s = harness.Suite(exe, WORK, keep=True, filt=None, verbose=False, arch=arch)
    s.shots = os.path.join(WORK, "screenshots")
    ok = True
    try:
        log("helpers, the demo CA and publisher (build/demo/pki), Wine %s %s prefix"
            % (s.wine_version, "win64" if arch == "x64" else "win32"))
        s.prepare()
        template = s.prefix
        port = harness.free_port()
        serve = os.path.join(WORK, "serve")
        os.makedirs(serve, exist_ok=True)
        log("%s, about %d MiB, signed by the demo publisher; setup.exe (%s) with the download "
            "address https://localhost:%d/prenos/?verzija=5.1&paket=" % (s.package_file, PAD_MIB, arch, port))
        msi = harness.lumora_package(s, os.path.join(WORK, "msi-src"), PAD_MIB)
        s.sign("leaf", msi, os.path.join(serve, s.package_file))
        variant = harness.build_variants({"demo": harness.lumora_download_tables(port)}, arch)["demo"]
        run_dir = os.path.join(WORK, "run")
        os.makedirs(run_dir, exist_ok=True)
        signed = os.path.join(run_dir, "setup.exe")
        s.sign("leaf", variant, signed)
        with s.https_server({s.package_file: os.path.join(serve, s.package_file)}, port,
                            delay_ms=DELAY_MS) as requests:
            for lang in LANGS:
                log("install run, %s (%s): setup.exe alone, it downloads the package" % (lang, harness.LOCALES[lang]))
                good, lines = one_run(s, signed, lang, template)
                ok = ok and good
                print("\n".join("  " + line for line in lines))
            log("result")
            print("requests the server saw:")
            print("\n".join("  " + line for line in requests()) or "  none")
        print("screenshots: %s" % s.shots)
        print("demo %s" % ("succeeded: every run downloaded, verified and installed the product" if ok
                           else "FAILED: a run did not end with 0 and the product installed"))
    except Exception as e:  # noqa: BLE001 - reported, and everything started is stopped
        print("demo: %s: %s" % (type(e).__name__, e))
        ok = False
    finally:
        s.stop_wineserver()
        s.stop_xvfb()
    return 0 if ok else 1


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--wine-part":
        return wine_part(sys.argv[2])
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    log("building both setups (make windows)")
    subprocess.run(["make", "-C", ROOT, "--no-print-directory", "windows"], check=True)
    refused = harness.ia32_refused()
    arch = os.environ.get("DEMO_ARCH") or ("x64" if refused else "x86")
    if arch == "x86" and refused:
        print("demo: the x86 setup cannot run here: %s (DEMO_ARCH=x64 runs the x64 one)" % refused)
        return 1
    if refused:
        print("This kernel runs no 32-bit x86 code (%s): the demo runs the x64 setup." % refused)
    release = os.environ.get("DEMO_WINE", "bookworm")
    roots = os.path.join(ROOT, "tests", "wine", "roots.sh")
    log("Debian root with Wine (tests/wine/roots.sh ensure %s)" % release)
    subprocess.run([roots, "ensure", release], check=True)
    return subprocess.run([roots, "run", release, sys.executable, os.path.abspath(__file__),
                           "--wine-part", arch]).returncode


if __name__ == "__main__":
    sys.exit(main())
