#!/usr/bin/env python3
"""An RFC 3161 time-stamp server on 127.0.0.1 for the release tests: answers each POSTed request with
`openssl ts -reply`, signed by a throw-away time-stamping certificate that it makes in a directory.
run_release_tests.py calls serve(DIR); `tsa_server.py DIR` serves until interrupted, its URL printed."""
import http.server
import os
import subprocess
import sys
import threading

# The time-stamping unit: SHA-256 signatures, serial numbers counted in ./serial, times to the second.
CNF = ("[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = ./serial\nsigner_digest = sha256\n"
       "default_policy = 1.2.3.4.1\ndigests = sha1, sha256\naccuracy = secs:1\ness_cert_id_alg = sha256\n")
CERTIFICATE = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "7",
               "-config", "tsa.cnf", "-subj", "/CN=Kavrin Test TSA", "-keyout", "tsa.key", "-out", "tsa.pem",
               "-addext", "basicConstraints=critical,CA:FALSE",
               "-addext", "keyUsage=critical,digitalSignature",
               "-addext", "extendedKeyUsage=critical,timeStamping"]
REPLY = ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-signer", "tsa.pem", "-inkey", "tsa.key",
         "-queryfile", "/dev/stdin", "-out", "/dev/stdout"]


def serve(d):
    """Makes the certificate in d, then serves from a thread of this process; returns the URL."""
    os.makedirs(d, exist_ok=True)
    for name, text in (("tsa.cnf", CNF), ("serial", "01\n")):
        with open(os.path.join(d, name), "w") as f:
            f.write(text)
    subprocess.run(CERTIFICATE, check=True, capture_output=True, cwd=d, timeout=60)

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            p = subprocess.run(REPLY, input=query, capture_output=True, cwd=d, timeout=60)
            data = p.stdout if p.returncode == 0 else b""
            self.send_response(200 if data else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    # One request at a time: each reply takes the next serial number from the file.
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d/" % server.server_port


if __name__ == "__main__":
    print(serve(os.path.abspath(sys.argv[1])), flush=True)
    threading.Event().wait()
