#!/usr/bin/env python3
"""An RFC 3161 time-stamp server on 127.0.0.1 for the release tests: answers each POSTed
request with `openssl ts -reply`, signed by a throw-away time-stamping certificate it makes
in --dir. Writes its port to --port-file once listening; ends after --lifetime seconds."""
import argparse
import http.server
import os
import subprocess
import sys
import tempfile
import threading

CNF = """[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[tsa_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = %(dir)s/serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def make_certificate(d):
    for name, text in (("tsa.cnf", CNF % {"dir": d}), ("serial", "01\n")):
        with open(os.path.join(d, name), "w") as f:
            f.write(text)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "7",
                    "-config", "tsa.cnf", "-extensions", "tsa_ext", "-subj", "/CN=Kavrin Test TSA",
                    "-keyout", "tsa.key", "-out", "tsa.pem"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, cwd=d, timeout=60)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--port-file", required=True)
    p.add_argument("--lifetime", type=float, default=300)
    args = p.parse_args()
    d = os.path.abspath(args.dir)
    os.makedirs(d, exist_ok=True)
    make_certificate(d)

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            with tempfile.TemporaryDirectory() as tmp:
                query, reply = os.path.join(tmp, "q.tsq"), os.path.join(tmp, "r.tsr")
                with open(query, "wb") as f:
                    f.write(body)
                proc = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(d, "tsa.cnf"),
                                       "-queryfile", query, "-signer", os.path.join(d, "tsa.pem"),
                                       "-inkey", os.path.join(d, "tsa.key"), "-out", reply],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
                data = open(reply, "rb").read() if proc.returncode == 0 else b""
            self.send_response(200 if data else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    timer = threading.Timer(args.lifetime, lambda: threading.Thread(target=server.shutdown).start())
    timer.daemon = True
    timer.start()
    server.serve_forever(poll_interval=0.2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
