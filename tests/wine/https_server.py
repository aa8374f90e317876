#!/usr/bin/env python3
"""A small HTTPS server for the setup's downloads, on 127.0.0.1 only.

Serves files of one directory for the two address forms the setup uses:
  /prenos/?verzija=5.1&paket=NAME   -> DIR/NAME
  /MSI/2.0/NAME                     -> DIR/NAME
Every request line (path and query) is appended to --log. Faults for tests:
  --status NAME=CODE     answer CODE (404, 500, ...) for NAME
  --cut NAME             announce NAME's full length, send half of the body, close the connection
  --truncate NAME        announce the full length, send half of the body, shut the sending side
                         only (the client reads the end of the stream, the connection stays)
  --delay-ms N           sleep N ms after every 64 KiB sent (a slow server)
  --map FILE             JSON {"path and query": NAME}: serve DIR/NAME at exactly these
                         addresses and at no other (another product's download addresses)
The server ends by itself after --lifetime seconds, or on SIGTERM/SIGINT.
"""
import argparse
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

CHUNK = 64 * 1024


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dir", required=True)
    p.add_argument("--cert", required=True, help="server certificate (PEM), chain allowed")
    p.add_argument("--key", required=True)
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--port-file", help="write the port here once listening")
    p.add_argument("--log", help="append each request's path and query here")
    for fault, metavar in (("--status", "NAME=CODE"), ("--cut", "NAME"), ("--truncate", "NAME")):
        p.add_argument(fault, action="append", default=[], metavar=metavar)
    p.add_argument("--delay-ms", type=int, default=0)
    p.add_argument("--lifetime", type=float, default=600.0)
    p.add_argument("--map", help="JSON file mapping request paths with their query to file names")
    return p.parse_args()


def main():
    args = parse_args()
    statuses = dict(s.split("=", 1) for s in args.status)
    addresses = {}
    if args.map:
        with open(args.map, encoding="utf-8") as f:
            addresses = json.load(f)
    log_lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *a):  # quiet: requests go to --log
            pass

        def file_name(self):
            if args.map:
                return addresses.get(self.path, "")
            url = urllib.parse.urlsplit(self.path)
            if url.path.rstrip("/") == "/prenos":
                query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
                return (query.get("paket") or [""])[0]
            if url.path.startswith("/MSI/2.0/"):
                return url.path[len("/MSI/2.0/"):]
            return ""

        def do_GET(self):
            if args.log:
                with log_lock, open(args.log, "a", encoding="utf-8") as f:
                    f.write(self.path + "\n")
            name = os.path.basename(self.file_name())
            path = os.path.join(args.dir, name)
            code, kind = 200, "application/octet-stream"
            if name in statuses or not name or not os.path.isfile(path):
                code, kind = int(statuses.get(name, 404)), "text/html"
                data = f"<html><body>{code}</body></html>".encode()
            else:
                with open(path, "rb") as f:
                    data = f.read()
            self.send_response(code)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            faulty = code == 200 and (name in args.cut or name in args.truncate)
            limit = len(data) // 2 if faulty else len(data)
            sent = 0
            try:
                while sent < limit:
                    chunk = data[sent:min(sent + CHUNK, limit)]
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    sent += len(chunk)
                    if args.delay_ms:
                        time.sleep(args.delay_ms / 1000.0)
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
                return
            if faulty:
                self.close_connection = True
                try:
                    self.connection.shutdown(socket.SHUT_RDWR if name in args.cut else socket.SHUT_WR)
                except OSError:
                    pass

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", args.port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(args.port_file + ".tmp", args.port_file)

    def stop(*_):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    timer = threading.Timer(args.lifetime, stop)
    timer.daemon = True
    timer.start()
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
