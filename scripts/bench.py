#!/usr/bin/env python3
"""Size and speed figures of setup.exe under Wine, side by side with their floors.

  - the size of setup.exe, and of its code and data outside the resources;
  - the install run with the package beside the executable, against a minimal program that
    only calls MsiInstallProductW on the same package;
  - the install run downloading a 20 MiB package from a local HTTPS server, against curl of
    the same URL followed by that minimal program;
  - the time from launch until the progress window is visible.

Each timing is the median of --runs runs; the product is removed again between runs.
"""
import argparse
import glob
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

import cases_download  # noqa: E402
import run_wine_tests as rwt  # noqa: E402
import variants  # noqa: E402

# The packages and the tables of the download tests: the same product, the same row.
BENCH_PRODUCT = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5101}"
BENCH_COMPONENT = "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Bench:
    def __init__(self, setup_exe, runs, work):
        self.runs = runs
        self.s = rwt.Suite(setup_exe, work, keep=False, filt=None, verbose=False)
        self.work = work

    def wine_timed(self, argv, env=None):
        """Wall time of one wine command run to its end (seconds) and its exit status."""
        t = time.perf_counter()
        p = self.s.run(["wine"] + argv, 600, env=env or self.s.env(), check=False)
        return time.perf_counter() - t, p.returncode

    def runexit(self, cmdline, seen=None):
        stem = self.s.new_tmp("bench")
        with open(stem + ".cmd", "w", encoding="utf-8") as f:
            f.write(cmdline)
        argv = [rwt.win_path(os.path.join(self.s.bin, "runexit.exe"))]
        if seen:
            argv += ["--seen", rwt.win_path(seen)]
        argv += [rwt.win_path(stem + ".cmd"), "300000"]
        return argv

    def remove_product(self):
        code = self.product_code
        self.s.run(["wine", rwt.win_path(os.path.join(self.s.bin, "product_state.exe")), "remove", code], 120,
                   env=self.s.env(), check=False)

    def installed(self):
        p = self.s.run(["wine", rwt.win_path(os.path.join(self.s.bin, "product_state.exe")), "query",
                        self.product_code], 60, env=self.s.env(), check=False)
        return p.stdout.decode().strip() == "5"

    def prepare(self):
        s = self.s
        s.check_tools()
        os.makedirs(s.tmp, exist_ok=True)
        s.start_xvfb()
        s.build_helpers()
        for tool in ("product_state", "mini_install"):
            s.run(["i686-w64-mingw32-gcc", "-municode", "-O2", "-s", "-o", os.path.join(s.bin, tool + ".exe"),
                   os.path.join(ROOT, "tests", "wine", tool + ".c"), "-lmsi"], 120, what=tool)
        s.make_files()
        s.make_prefix()
        # The packages: a small one for the local run, a 20 MiB one for the download.
        pk = os.path.join(self.work, "packages")
        os.makedirs(pk, exist_ok=True)
        with open(os.path.join(pk, "lumora.txt"), "w") as f:
            f.write("Quorvex Lumora 5.1\n")
        rnd = random.Random(51)
        with open(os.path.join(pk, "payload.bin"), "wb") as f:
            f.write(rnd.randbytes(20 * 1024 * 1024))
        for name, pad in (("small", None), ("large", "payload.bin")):
            with open(os.path.join(pk, name + ".wxs"), "w") as f:
                f.write(cases_download.wxs(BENCH_PRODUCT, BENCH_COMPONENT, "5.1", "lumora.txt", pad))
            s.run(["wixl", "-o", os.path.join(pk, name + ".msi"), os.path.join(pk, name + ".wxs")], 300,
                  what="wixl " + name)
        self.small = os.path.join(pk, "small.msi")
        self.large = os.path.join(pk, "large.msi")
        p = s.run(["msiinfo", "export", self.small, "Property"], 60)
        self.product_code = re.search(r"ProductCode\t(\S+)", p.stdout.decode()).group(1)
        # The local run: setup.exe beside the small package.
        self.local_dir = os.path.join(self.work, "local")
        os.makedirs(self.local_dir, exist_ok=True)
        shutil.copyfile(s.setup_src, os.path.join(self.local_dir, "setup.exe"))
        shutil.copyfile(self.small, os.path.join(self.local_dir, "Lumora.Win32.msi"))
        # The download run: a signed setup variant pointing at the local server.
        self.port = free_port()
        exe = variants.build_variants({"bench": cases_download.tables(self.port, 200)})["bench"]
        self.dl_dir = os.path.join(self.work, "download")
        self.serve = os.path.join(self.work, "serve")
        os.makedirs(self.dl_dir, exist_ok=True)
        os.makedirs(self.serve, exist_ok=True)
        s.sign("leaf", exe, os.path.join(self.dl_dir, "setup.exe"))
        s.sign("leaf", self.large, os.path.join(self.serve, "Lumora.Win32.msi"))
        self.server_pki()

    def server_pki(self):
        """The local HTTPS server's certificate of the test PKI (tests/wine/pki.sh)."""
        self.server_cert = os.path.join(self.s.pki, "server.pem")
        self.server_key = os.path.join(self.s.pki, "server.key")

    def cache_dir(self):
        users = os.path.join(self.s.prefix, "drive_c", "users")
        out = []
        for user in os.listdir(users):
            path = os.path.join(users, user, "AppData", "Local", "Microsoft", "Windows", "INetCache")
            if os.path.isdir(path):
                out.append(path)
        return out

    def wipe_cache(self):
        for path in self.cache_dir():
            shutil.rmtree(path, ignore_errors=True)

    def measure(self):
        s = self.s
        figures = {}

        setup_local = rwt.win_path(os.path.join(self.local_dir, "setup.exe"))
        mini = rwt.win_path(os.path.join(s.bin, "mini_install.exe"))
        pkg = rwt.win_path(self.small)
        local, floor, window = [], [], []
        for _ in range(self.runs):
            self.remove_product()
            seen = s.new_tmp("seen")
            argv = self.runexit('"%s"' % setup_local, seen=seen)
            t0 = time.perf_counter()
            proc = s.start(["wine"] + argv, s.env())
            first = None
            while proc.poll() is None:
                if first is None and os.path.exists(seen):
                    first = time.perf_counter() - t0
                time.sleep(0.002)
            local.append(time.perf_counter() - t0)
            s.finish(proc, 10)
            if first is not None:
                window.append(first)
            if not self.installed():
                raise RuntimeError("the install run did not install the package")
            self.remove_product()
            t, rc = self.wine_timed(self.runexit('"%s" "%s"' % (mini, pkg)))
            floor.append(t)
        figures["local"] = (statistics.median(local), statistics.median(floor))
        figures["window"] = statistics.median(window) if window else None

        # Download.
        server = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "wine", "https_server.py"), "--dir", self.serve,
                                   "--cert", self.server_cert, "--key", self.server_key, "--port", str(self.port),
                                   "--lifetime", "900"], stdin=subprocess.DEVNULL)
        try:
            deadline = time.time() + 20
            while time.time() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", self.port), 0.5).close()
                    break
                except OSError:
                    time.sleep(0.1)
            url = "https://localhost:%d/prenos/?verzija=5.1&paket=Lumora.Win32.msi" % self.port
            setup_dl = rwt.win_path(os.path.join(self.dl_dir, "setup.exe"))
            fetched = os.path.join(self.work, "fetched.msi")
            dl, dl_floor = [], []
            for _ in range(self.runs):
                self.remove_product()
                self.wipe_cache()
                t, rc = self.wine_timed(self.runexit('"%s"' % setup_dl))
                dl.append(t)
                if not self.installed():
                    raise RuntimeError("the download run did not install the package (runexit: %s)"
                                       % open(sorted(glob.glob(os.path.join(self.s.tmp, "*.stdout")))[-1]).read())
                self.remove_product()
                t0 = time.perf_counter()
                subprocess.run(["curl", "-s", "--cacert", os.path.join(s.pki, "ca.pem"), "-o", fetched, url],
                               check=True, timeout=300)
                self.wine_timed(self.runexit('"%s" "%s"' % (mini, rwt.win_path(fetched))))
                dl_floor.append(time.perf_counter() - t0)
            figures["download"] = (statistics.median(dl), statistics.median(dl_floor))
        finally:
            server.terminate()
            server.wait(30)
        return figures

    def close(self):
        self.s.stop_wineserver()
        self.s.stop_xvfb()


def size_figures(exe):
    """File size, the size of everything outside the resources, and each section's size."""
    out = subprocess.run(["i686-w64-mingw32-objdump", "-h", exe], stdout=subprocess.PIPE,
                         check=True).stdout.decode()
    sections = {m.group(1): int(m.group(2), 16)
                for m in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s", out, re.M)}
    outside = sum(n for name, n in sections.items() if name != ".rsrc")
    return os.path.getsize(exe), outside, sections


def ia32_refused():
    """The reason Wine cannot run 32-bit code on this machine, or None when it can."""
    probe = os.path.join(ROOT, "build", "ia32_probe")
    os.makedirs(os.path.dirname(probe), exist_ok=True)
    subprocess.run(["gcc", "-O1", "-o", probe, os.path.join(ROOT, "tests", "wine", "ia32_probe.c")],
                   check=True)
    p = subprocess.run([probe], stdout=subprocess.PIPE, text=True)
    return None if p.returncode == 0 else p.stdout.strip()


SIZE_LIMIT = 100 * 1024


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("setup", nargs="?", default=os.path.join(ROOT, "out", "setup.exe"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    ap.add_argument("--json", default=os.path.join(ROOT, "build", "bench.json"),
                    help="where the figures are written as JSON (default build/bench.json)")
    args = ap.parse_args()
    setup = os.path.abspath(args.setup)
    size, outside, sections = size_figures(setup)
    result = {"date": time.strftime("%Y-%m-%d"), "setup": setup, "size": size,
              "outside_resources": outside, "sections": sections, "runs": args.runs}
    rows = [("setup.exe size", "%d bytes (%.1f KiB)" % (size, size / 1024), "<= 100 KiB",
             "ok" if size <= SIZE_LIMIT else "missed"),
            ("code and data outside resources", "%d bytes (%.1f KiB)" % (outside, outside / 1024), "", "")]
    refused = ia32_refused()
    if refused is None and not os.environ.get("KAVRIN_WINE_ROOT"):
        # The timings run under the Wine of the Debian 12 root.
        subprocess.run([os.path.join(ROOT, "tests", "wine", "roots.sh"), "ensure", "bookworm"], check=True)
        os.execv(os.path.join(ROOT, "tests", "wine", "roots.sh"),
                 ["roots.sh", "run", "bookworm", sys.executable] + sys.argv)
    if refused is not None:
        result["timings_skipped"] = refused
        write_json(args.json, result)
        print_rows(rows, "size only")
        print("SKIP timings: %s; Wine cannot run 32-bit setup.exe here" % refused)
        print("figures: %s" % args.json)
        return 0
    work = tempfile.mkdtemp(prefix="setup-bench-")
    bench = Bench(setup, args.runs, work)
    try:
        bench.prepare()
        f = bench.measure()
    finally:
        bench.close()
        if args.keep:
            print("work directory kept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    local, floor = f["local"]
    dl, dl_floor = f["download"]
    result.update({"wine": os.environ.get("KAVRIN_WINE_VERSION", ""), "local": [local, floor],
                   "download": [dl, dl_floor], "window": f["window"]})
    write_json(args.json, result)
    rows += [
        ("install, package beside setup.exe", "%.3f s vs floor %.3f s: ratio %.2f" % (local, floor, local / floor),
         "<= 1.10", "ok" if local / floor <= 1.10 else "missed"),
        ("install with a 20 MiB download", "%.3f s vs curl+floor %.3f s: ratio %.2f" % (dl, dl_floor, dl / dl_floor),
         "<= 1.25", "ok" if dl / dl_floor <= 1.25 else "missed"),
        ("launch to progress window visible", "%.3f s" % f["window"] if f["window"] else "not seen", "", ""),
    ]
    print_rows(rows, "medians of %d runs (Wine %s, Xvfb, 127.0.0.1)"
               % (args.runs, os.environ.get("KAVRIN_WINE_VERSION", "?")))
    print("figures: %s" % args.json)
    return 0


def print_rows(rows, heading):
    print("\n" + heading)
    for name, value, target, verdict in rows:
        print("%-36s %-52s %-10s %s" % (name, value, target, verdict))


def write_json(path, result):
    import json
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".tmp", "w") as f:
        json.dump(result, f, indent=1, sort_keys=True)
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    sys.exit(main())
