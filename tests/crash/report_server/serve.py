#!/usr/bin/env python3
"""Report server launcher of the tests.

Usage: serve.py LIFELINE_PORT MODE [PORT]
  MODE php     PHP's built-in server with kestrel/report.php
       php500  the same, answering status 500
       silent  accepts connections and never answers
PORT 0 or absent picks a free port. Connects to 127.0.0.1:LIFELINE_PORT,
sends "<port> <store folder>\\n" once the server accepts connections and
runs until that connection closes; then it stops the server and removes
the store folder. So the server never outlives the test that started it.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def start_php(port, store, mode):
    env = dict(os.environ, REPORT_STORE=store, REPORT_MODE="500" if mode == "php500" else "")
    log = open(os.path.join(store, "php.log"), "wb")
    return subprocess.Popen(
        ["php", "-d", "upload_max_filesize=64M", "-d", "post_max_size=64M",
         "-S", "127.0.0.1:%d" % port, "-t", HERE],
        env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)


def start_silent(port, store):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    held = []

    def hold():
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return
            held.append(connection)
            with open(os.path.join(store, "requests.log"), "a") as log:
                log.write("connection\n")

    threading.Thread(target=hold, daemon=True).start()
    return listener


def main():
    lifeline_port, mode = int(sys.argv[1]), sys.argv[2]
    port = int(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] != "0" else free_port()
    lifeline = socket.create_connection(("127.0.0.1", lifeline_port), timeout=10)
    lifeline.settimeout(None)
    store = tempfile.mkdtemp(prefix="tessel-report-")
    server = None
    try:
        if mode == "silent":
            server = start_silent(port, store)
            ready = True
        else:
            server = start_php(port, store, mode)
            ready = wait_until_listening(port)
        lifeline.sendall(("%d %s\n" % (port if ready else 0, store)).encode())
        while lifeline.recv(1024):
            pass
    finally:
        if isinstance(server, subprocess.Popen):
            server.terminate()
            try:
                server.wait(5)
            except subprocess.TimeoutExpired:
                server.kill()
        elif server is not None:
            server.close()
        shutil.rmtree(store, ignore_errors=True)


if __name__ == "__main__":
    main()
