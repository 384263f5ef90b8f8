#!/usr/bin/env python3
"""Plays the update server for the release test with the project's HTTP test
server (tests/support/http_test_server.py) in its HTTPS form.

Prints the server's port on its first line, then takes commands, one a line,
on stdin and answers each with one line:
  publish FOLDER   serve every file under FOLDER at its relative path, to
                   any number of requests ("ok")
  clear            forget the files and the requests ("ok")
  requests         the requests so far: "path?query" separated by spaces
  ca FILE          write the server's CA certificate (DER) to FILE ("ok")
End of input ends the server.
"""
import os
import socket
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "support", "http_test_server.py")


def netstring(data):
    return str(len(data)).encode() + b":" + data + b","


def decode(payload):
    fields = []
    position = 0
    while position < len(payload):
        colon = payload.index(b":", position)
        start = colon + 1
        end = start + int(payload[position:colon])
        fields.append(payload[start:end])
        position = end + 1
    return fields


def read_message(stream):
    digits = b""
    while True:
        c = stream.read(1)
        if not c:
            raise EOFError("the test server ended")
        if c == b":":
            break
        digits += c
    payload = stream.read(int(digits))
    stream.read(1)
    return decode(payload)


def command(stream, fields):
    stream.write(netstring(b"".join(netstring(f) for f in fields)))
    stream.flush()
    reply = read_message(stream)
    if reply[0] != b"ok":
        raise RuntimeError("the test server refused %r" % fields[0])
    return reply[1:]


def publish(stream, folder):
    for directory, _, names in os.walk(folder):
        for name in sorted(names):
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                body = f.read()
            url_path = "/" + os.path.relpath(path, folder).replace(os.sep, "/")
            command(stream, [b"answer", b"path", url_path.encode(), b"body", body,
                             b"times", b"0"])


def main():
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(30)
    server = subprocess.Popen([sys.executable, SERVER, str(listener.getsockname()[1]),
                               "https"])
    connection, _ = listener.accept()
    stream = connection.makefile("rwb")
    port = read_message(stream)[1].decode()
    print(port, flush=True)
    try:
        for line in sys.stdin:
            words = line.split(maxsplit=1)
            if not words:
                continue
            if words[0] == "publish":
                publish(stream, words[1].strip())
                print("ok", flush=True)
            elif words[0] == "clear":
                command(stream, [b"clear"])
                print("ok", flush=True)
            elif words[0] == "ca":
                with open(words[1].strip(), "wb") as out:
                    out.write(command(stream, [b"ca"])[0])
                print("ok", flush=True)
            elif words[0] == "requests":
                seen = []
                for request in command(stream, [b"requests"]):
                    fields = decode(request)
                    seen.append((fields[2] + b"?" + fields[3]).decode())
                print(" ".join(seen), flush=True)
    finally:
        stream.close()
        connection.shutdown(socket.SHUT_RDWR)
        connection.close()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()


if __name__ == "__main__":
    main()
