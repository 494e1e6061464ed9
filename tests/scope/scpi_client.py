"""A bare SCPI connection for the cases a VISA library would not send, and
the pyvisa-py connection (raw socket) the tests open as a user does."""
import contextlib
import socket

from scope_client import DEADLINE


def error_queue(query):
    """Every entry of the error queue, read with `query` (a socket's or a
    VISA resource's), as (code, text without its quotes)."""
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
        return error_queue(self.query)

    def close(self):
        self.file.close()
        self.socket.close()


@contextlib.contextmanager
def visa_socket(port):
    """pyvisa-py's TCPIP::…::SOCKET resource on the scope's SCPI port."""
    import pyvisa  # only the tests that use it need it
    manager = pyvisa.ResourceManager("@py")
    instrument = manager.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                                       write_termination="\n", timeout=DEADLINE * 1000)
    try:
        yield instrument
    finally:
        instrument.close()
        manager.close()


def visa_errors(instrument):
    """Every entry of the error queue, as (code, text as sent)."""
    entries = []
    while True:
        code, text = instrument.query(":SYST:ERR?").split(",", 1)
        if int(code) == 0:
            return entries
        entries.append((int(code), text))
