"""A bare SCPI connection for the cases a VISA library would not send."""
import socket

from scope_client import DEADLINE


def error_queue(query):
    """Every entry of the error queue, as (code, text), read through any
    client's `query`."""
    entries = []
    while True:
        code, text = query(":SYST:ERR?").split(",", 1)
        if int(code) == 0:
            return entries
        entries.append((int(code), text.strip('"')))


class RawScpi:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        self.file = self.socket.makefile("rb")

    def send(self, data):
        self.socket.sendall(data if isinstance(data, bytes) else data.encode() + b"\n")

    def query(self, text):
        self.send(text)
        line = self.file.readline()
        assert line.endswith(b"\n"), "no answer to %r" % text
        return line[:-1].decode()

    def errors(self):
        """Every entry of the error queue, as (code, text)."""
        return error_queue(self.query)

    def close(self):
        self.file.close()
        self.socket.close()
