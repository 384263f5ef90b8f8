#!/usr/bin/env python3
"""Scriptable HTTP and FTP servers for Tessel's tests, driven by the class
in HttpTestServer.h:

    python3 http_test_server.py LIFELINE_PORT http|https|ftp

It connects to the test at 127.0.0.1:LIFELINE_PORT, serves on a free port of
127.0.0.1 and says which one; it exits when the lifeline closes, and after
a hard time limit in any case. Messages both ways are netstrings whose bytes
are netstring fields: a command's name and arguments, or "ok"/"error" and
the reply's fields.

HTTP commands: "csv" CONTENT (the rows of a recording as Python's csv
module reads them, strictly, after a UTF-8 byte-order mark), "answer" KEY VALUE ... (keys: path, status, reason, header,
body, length auto|none|N, chunk, delay ms, reset after N body bytes, times
0=always, tunnel PORT: a CONNECT relayed to 127.0.0.1:PORT), "requests" (method, target, path, query, headers, body of each),
"multipart" INDEX (name, filename, content of each part), "clear".
HTTPS: the same commands over TLS, with a test CA of its own making
(test_pki.py); "ca" answers the CA's certificate (DER), "present" KIND
chooses the certificate that later connections get (trusted by default).
FTP command: "file" NAME CONTENT.
"""

import codecs
import csv
import email.parser
import io
import email.policy
import http.server
import os
import select
import shutil
import socket
import socketserver
import ssl
import struct
import sys
import tempfile
import threading
import time
import urllib.parse

import test_pki
from netstrings import encode, pack, read_message

HARD_LIMIT_SECONDS = 900


class Script:
    def __init__(self):
        self.lock = threading.Lock()
        self.answers = []
        self.requests = []

    def take(self, path):
        with self.lock:
            for answer in self.answers:
                if answer.get("path") and answer["path"] != path:
                    continue
                times = int(answer.get("times", "1"))
                if times == 1:
                    self.answers.remove(answer)
                elif times > 1:
                    answer["times"] = str(times - 1)
                return answer
        return None


SCRIPT = Script()


class ResetConnection(Exception):
    pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            if isinstance(self.request, ssl.SSLSocket):
                # A client that refuses the certificate ends here.
                self.request.do_handshake()
            super().handle()
        except (ResetConnection, OSError):
            pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def serve(self):
        target = self.path
        split = urllib.parse.urlsplit(target)
        headers = "".join("%s: %s\r\n" % (k, v) for k, v in self.headers.items())
        body = self.read_body()
        with SCRIPT.lock:
            SCRIPT.requests.append([self.command.encode(), target.encode("latin-1"),
                                    split.path.encode("latin-1"), split.query.encode("latin-1"),
                                    headers.encode("latin-1"), body])
        answer = SCRIPT.take(split.path)
        if answer is None:
            answer = {"status": "404", "body": "no answer"}
        if self.command == "CONNECT" and int(answer.get("tunnel", "0")):
            self.tunnel(int(answer["tunnel"]))
            return
        self.send_answer(answer)

    def tunnel(self, port):
        """Answers a CONNECT as a proxy does and relays the bytes both ways
        between the client and 127.0.0.1:port, whatever host it asked for."""
        try:
            upstream = socket.create_connection(("127.0.0.1", port), timeout=30)
        except OSError:
            self.send_answer({"status": "502", "body": "no tunnel"})
            return
        self.send_response_only(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        client = self.connection
        with upstream:
            sockets = [client, upstream]
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    return
                for source in readable:
                    data = source.recv(65536)
                    if not data:
                        return
                    (upstream if source is client else client).sendall(data)

    def send_answer(self, answer):
        status = int(answer.get("status", "200"))
        body = answer.get("body", b"")
        if isinstance(body, str):
            body = body.encode("latin-1")
        self.send_response_only(status, answer.get("reason") or None)
        for header in answer.get("headers", []):
            name, _, value = header.partition(":")
            self.send_header(name.strip(), value.strip())
        length = answer.get("length", "auto")
        if length == "auto":
            self.send_header("Content-Length", str(len(body)))
        elif length != "none":
            self.send_header("Content-Length", length)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        if self.command == "HEAD":
            return
        chunk = int(answer.get("chunk", "0")) or max(len(body), 1)
        delay = int(answer.get("delay", "0")) / 1000.0
        reset = int(answer.get("reset", "-1"))
        sent = 0
        while sent < len(body) or reset == sent:
            if reset == sent:
                self.reset()
            end = min(sent + chunk, len(body))
            if 0 <= reset < end:
                end = reset
            self.wfile.write(body[sent:end])
            self.wfile.flush()
            sent = end
            if delay and sent < len(body):
                time.sleep(delay)

    def reset(self):
        # Closing the descriptor itself with a zero linger time sends a reset;
        # socket.close() would wait for the handler's file objects, which end
        # the connection cleanly.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        os.close(self.connection.detach())
        raise ResetConnection()

    # CONNECT too: as a proxy the server sees an https request only as the
    # tunnel's request, which it records, and refuses unless the answer
    # names a loopback port to tunnel to.
    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = do_OPTIONS = do_CONNECT = serve


class ThreadingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def parse_answer(fields):
    answer = {"headers": []}
    for i in range(0, len(fields) - 1, 2):
        key = fields[i].decode()
        value = fields[i + 1]
        if key == "header":
            answer["headers"].append(value.decode("latin-1"))
        elif key == "body":
            answer["body"] = value
        else:
            answer[key] = value.decode("latin-1")
    return answer


def multipart_fields(index):
    with SCRIPT.lock:
        request = SCRIPT.requests[index]
    head = b""
    for line in request[4].split(b"\r\n"):
        if line.lower().startswith(b"content-type:"):
            head = line + b"\r\n"
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        head + b"MIME-Version: 1.0\r\n\r\n" + request[5])
    if not message.is_multipart() or message.defects:
        return None
    parts = []
    for part in message.iter_parts():
        if part.defects:
            return None
        parts.append(pack([(part.get_param("name", header="content-disposition") or "")
                             .encode("latin-1"),
                             (part.get_filename() or "").encode("latin-1"),
                             part.get_payload(decode=True) or b""]))
    return parts


def csv_rows(content):
    if not content.startswith(codecs.BOM_UTF8):
        return None
    text = content[len(codecs.BOM_UTF8):].decode("utf-8")
    if text and not text.endswith("\r\n"):
        return None
    reader = csv.reader(io.StringIO(text, newline=""), strict=True)
    return [pack([field.encode("utf-8") for field in row]) for row in reader]


def http_command(fields):
    name = fields[0].decode()
    if name == "csv":
        rows = csv_rows(fields[1])
        return [b"error"] if rows is None else [b"ok"] + rows
    if name == "answer":
        answer = parse_answer(fields[1:])
        with SCRIPT.lock:
            SCRIPT.answers.append(answer)
        return [b"ok"]
    if name == "requests":
        with SCRIPT.lock:
            return [b"ok"] + [pack(r) for r in SCRIPT.requests]
    if name == "multipart":
        parts = multipart_fields(int(fields[1]))
        return [b"error"] if parts is None else [b"ok"] + parts
    if name == "clear":
        with SCRIPT.lock:
            SCRIPT.answers.clear()
            SCRIPT.requests.clear()
        return [b"ok"]
    return [b"error"]


def start_http():
    server = ThreadingServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1], http_command, lambda: None


class TlsServer(ThreadingServer):
    """Wraps each accepted connection in the TLS context chosen last."""

    context = None

    def get_request(self):
        connection, address = self.socket.accept()
        return (self.context.wrap_socket(connection, server_side=True,
                                         do_handshake_on_connect=False), address)


def start_https():
    folder = tempfile.mkdtemp(prefix="tessel-pki-")
    test_pki.make_test_pki(folder)

    def context(kind):
        made = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        made.load_cert_chain(os.path.join(folder, kind + ".pem"),
                             os.path.join(folder, kind + ".key"))
        return made

    server = TlsServer(("127.0.0.1", 0), Handler)
    server.context = context("trusted")
    threading.Thread(target=server.serve_forever, daemon=True).start()

    def command(fields):
        if fields[0] == b"ca":
            with open(os.path.join(folder, "ca.der"), "rb") as der:
                return [b"ok", der.read()]
        if fields[0] == b"present" and len(fields) == 2:
            server.context = context(os.path.basename(fields[1].decode()))
            return [b"ok"]
        if fields[0] == b"clear":
            server.context = context("trusted")
        return http_command(fields)

    return server.server_address[1], command, lambda: shutil.rmtree(folder, ignore_errors=True)


def start_ftp():
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import ThreadedFTPServer
    import logging
    logging.disable(logging.CRITICAL)
    root = tempfile.mkdtemp(prefix="tessel-ftp-")
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root, perm="elr")
    authorizer.add_user("tessel", "secret", root, perm="elr")

    class QuietHandler(FTPHandler):
        pass

    QuietHandler.authorizer = authorizer
    QuietHandler.masquerade_address = None
    server = ThreadedFTPServer(("127.0.0.1", 0), QuietHandler)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    def command(fields):
        if fields[0] == b"file" and len(fields) == 3:
            name = os.path.basename(fields[1].decode())
            with open(os.path.join(root, name), "wb") as f:
                f.write(fields[2])
            return [b"ok"]
        return [b"error"]

    return server.address[1], command, lambda: shutil.rmtree(root, ignore_errors=True)


def main():
    lifeline_port = int(sys.argv[1])
    mode = sys.argv[2] if len(sys.argv) > 2 else "http"
    # Detach from whatever output the test process had: nobody may wait for
    # this process to close it.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    threading.Timer(HARD_LIMIT_SECONDS, lambda: os._exit(3)).start()
    lifeline = socket.create_connection(("127.0.0.1", lifeline_port), timeout=30)
    lifeline.settimeout(None)
    stream = lifeline.makefile("rwb")
    starts = {"http": start_http, "https": start_https, "ftp": start_ftp}
    port, command, cleanup = starts[mode]()
    stream.write(encode([b"port", str(port).encode()]))
    stream.flush()
    try:
        while True:
            fields = read_message(stream)
            if not fields:
                break
            try:
                reply = command(fields)
            except Exception:
                reply = [b"error"]
            stream.write(encode(reply))
            stream.flush()
    except OSError:
        pass
    cleanup()
    os._exit(0)


if __name__ == "__main__":
    main()
