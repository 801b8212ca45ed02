#!/usr/bin/env python3
"""Serves ROOT on 127.0.0.1 at a free port, written to PORT_FILE once it listens.

Every request of any method is recorded as one line "METHOD PATH" in REQUESTS_FILE, when given,
before it is answered; only GET is served.

Paths are decoded to raw bytes, so a name that is not UTF-8 (Latin-1 0xE4) is found too. With
--die-after N the server sends N bytes of a file and kills itself, mid-transfer.
"""
import argparse
import http.server
import os
import signal
import urllib.parse


def make_handler(root, die_after, requests_file):
    class Handler(http.server.BaseHTTPRequestHandler):
        def parse_request(self):
            if not super().parse_request():
                return False
            if requests_file:
                with open(requests_file, "a") as f:
                    f.write(f"{self.command} {self.path!r}\n")
            return True

        def do_GET(self):
            raw = urllib.parse.unquote_to_bytes(self.path.split("?", 1)[0])
            path = os.path.join(root, raw.lstrip(b"/"))
            if b"/../" in raw or not os.path.isfile(path):
                self.send_error(404)
                return
            with open(path, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            if die_after is not None:
                self.wfile.write(data[:die_after])
                self.wfile.flush()
                os.kill(os.getpid(), signal.SIGKILL)
            self.wfile.write(data)

        def log_message(self, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port_file")
    parser.add_argument("--die-after", type=int)
    parser.add_argument("--requests")
    args = parser.parse_args()
    handler = make_handler(os.fsencode(args.root), args.die_after, args.requests)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
