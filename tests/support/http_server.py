#!/usr/bin/env python3
"""Serves ROOT on 127.0.0.1 at a free port, written to PORT_FILE once it listens.

Every request of any method is recorded as one line "METHOD PATH" in REQUESTS_FILE, when given,
before it is answered; only GET is served.

Paths are decoded to raw bytes, so a name that is not UTF-8 (Latin-1 0xE4) is found too. With
--die-after N the server sends N bytes of a file and kills itself, mid-transfer. With --tls-cert
and --tls-key it speaks HTTPS; with --basic-auth USER:PASSWORD it answers 401 to every request
without those credentials. HEAD answers with the headers a GET would send, or with
--refuse-head 405.
"""
import argparse
import base64
import http.server
import os
import signal
import ssl
import urllib.parse


def make_handler(root, die_after, requests_file, credentials, refuse_head):
    expected = None
    if credentials is not None:
        expected = "Basic " + base64.b64encode(credentials.encode()).decode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def parse_request(self):
            if not super().parse_request():
                return False
            if requests_file:
                with open(requests_file, "a") as f:
                    f.write(f"{self.command} {self.path!r}\n")
            return True

        def authorized(self):
            if expected is None or self.headers.get("Authorization") == expected:
                return True
            self.send_response(401)
            self.send_header("WWW-Authenticate", 'Basic realm="recordings"')
            self.send_header("Content-Length", "0")
            self.end_headers()
            return False

        def file_data(self):
            raw = urllib.parse.unquote_to_bytes(self.path.split("?", 1)[0])
            path = os.path.join(root, raw.lstrip(b"/"))
            if b"/../" in raw or not os.path.isfile(path):
                self.send_error(404)
                return None
            with open(path, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            return data

        def do_HEAD(self):
            if refuse_head:
                self.send_error(405)
            elif self.authorized():
                self.file_data()

        def do_GET(self):
            if not self.authorized():
                return
            data = self.file_data()
            if data is None:
                return
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
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--basic-auth")
    parser.add_argument("--refuse-head", action="store_true")
    args = parser.parse_args()
    handler = make_handler(os.fsencode(args.root), args.die_after, args.requests, args.basic_auth,
                           args.refuse_head)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        # The handshake happens in the request's own thread: a client that refuses the
        # certificate ends only its connection.
        server.socket = context.wrap_socket(
            server.socket, server_side=True, do_handshake_on_connect=False)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
