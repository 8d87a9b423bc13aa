"""Replays canned replies over TCP on 127.0.0.1, for replies no real server
sends. Usage: raw_peer.py REPLY_DIR PORT_FILE

Binds a free port and writes its number to PORT_FILE. Each connection adds a
line to PORT_FILE.connections as it is accepted. For each connection it
reads the request head up to its empty line and answers with the bytes of
REPLY_DIR/<name>, where <name> is the request path without its leading '/',
then ends its sending. An empty file ends it before any byte; a missing file
holds the connection, answering once the file appears. Whatever the client
sends afterwards is ignored; once the client has closed the connection, a
line is added to PORT_FILE.closes.
"""
import os
import select
import socket
import socketserver
import sys

reply_dir, port_file = sys.argv[1], sys.argv[2]


def log(suffix, line):
    with open(port_file + suffix, "a") as f:
        f.write(line + "\n")


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        log(".connections", "connection")
        try:
            self.answer()
            while self.request.recv(4096):
                pass
        except OSError:
            pass
        log(".closes", "closed")

    def answer(self):
        head = b""
        while b"\r\n\r\n" not in head and b"\n\n" not in head:
            data = self.request.recv(4096)
            if not data:
                return
            head += data
        parts = head.split(b" ")
        name = parts[1].decode("latin-1").lstrip("/") if len(parts) > 1 else ""
        path = os.path.join(reply_dir, name)
        while not name or not os.path.isfile(path):
            readable, _, _ = select.select([self.request], [], [], 0.005)
            if readable and not self.request.recv(4096):
                return
        with open(path, "rb") as f:
            self.request.sendall(f.read())
        self.request.shutdown(socket.SHUT_WR)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


with Server(("127.0.0.1", 0), Handler) as server:
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()
