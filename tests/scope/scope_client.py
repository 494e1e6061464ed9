"""Runs rk350-scope on a free loopback port and talks to it over HTTP."""
import http.client
import json
import os
import signal
import subprocess
import threading
import time

# Every wait in these tests is bounded by this many seconds.
DEADLINE = 30.0


def eventually(condition, what, seconds=DEADLINE):
    """Waits until `condition()` holds, failing with `what` after `seconds`."""
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.05)


class Scope:
    def __init__(self, *arguments):
        # VXI-11 brings a portmapper (rpcbind's, or the scope's own on the
        # fixed port 111 when run as root): only the tests that run in a
        # loopback-only namespace of their own (RK350_TEST_VXI11=1) serve it.
        if os.environ.get("RK350_TEST_VXI11") != "1" and "--no-scpi" not in arguments:
            arguments = (*arguments, "--no-vxi11")
        scpi = [] if "--no-scpi" in arguments or "--scpi-port" in arguments else ["--scpi-port", "0"]
        self.process = subprocess.Popen([os.environ["RK350_SCOPE"], "--port", "0", *scpi, *arguments],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self._announced("serving http://", "did not start")
        self.url = line.split("serving ", 1)[1].strip()  # with ?token=… under --allow-remote
        self.host, port = self.url.split("//", 1)[1].split("/", 1)[0].rsplit(":", 1)
        self.port = int(port)
        self.scpi_port = None
        if "--no-scpi" not in arguments:
            line = self._announced("serving SCPI on ", "serves no SCPI")
            self.scpi_port = int(line.rsplit(":", 1)[1])
        self.vxi11_port = None
        if "--no-scpi" not in arguments and "--no-vxi11" not in arguments:
            line = self._announced("serving VXI-11 on ", "serves no VXI-11")
            self.vxi11_port = int(line.split("serving VXI-11 on ", 1)[1].split(" ", 1)[0].rsplit(":", 1)[1])

    def _announced(self, text, failure):
        """The scope's next line on standard output, which must hold `text`
        (waited for at most DEADLINE: a scope that hangs fails the test)."""
        first = []
        reader = threading.Thread(target=lambda: first.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(DEADLINE)
        line = first[0] if first else ""
        if text not in line:
            self.close()
            raise AssertionError("rk350-scope %s: %r %s" % (failure, line, self.process.stderr.read()))
        return line

    def request(self, method, path, body=None):
        """(status, decoded JSON or raw bytes)"""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=DEADLINE)
        try:
            if isinstance(body, (dict, list)):
                body = json.dumps(body)
            connection.request(method, path, body=body, headers={"Content-Type": "application/json"})
            response = connection.getresponse()
            data = response.read()
            if response.getheader("Content-Type", "").startswith("application/json"):
                return response.status, json.loads(data)
            return response.status, data
        finally:
            connection.close()

    def settings(self):
        """The settings' state, without `run`: that follows the card from
        moment to moment (run() reads it), the rest only changes on request."""
        state = self.state()
        state.pop("run")
        return state

    def run(self):
        return self.state()["run"]

    def state(self):
        status, state = self.request("GET", "/api/settings")
        assert status == 200, state
        return state

    def post(self, patch):
        return self.request("POST", "/api/settings", patch)

    def stream(self):
        return Stream(self)

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(DEADLINE)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        returncode = self.process.returncode
        for pipe in (self.process.stdout, self.process.stderr):
            pipe.close()
        return returncode


class Stream:
    """The Server-Sent Events of /api/stream, one frame at a time."""

    def __init__(self, scope):
        self.connection = http.client.HTTPConnection(scope.host, scope.port, timeout=DEADLINE)
        self.connection.request("GET", "/api/stream")
        self.response = self.connection.getresponse()
        assert self.response.status == 200
        assert self.response.getheader("Content-Type").startswith("text/event-stream")

    def next_frame(self, min_version=0):
        """The next frame taken with settings of at least this version."""
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            line = self.response.readline()
            assert line, "the stream ended"
            if line.startswith(b"data: "):
                frame = json.loads(line[6:])
                if frame["settingsVersion"] >= min_version:
                    return frame
        raise AssertionError("no frame of settings version %d within %s s" % (min_version, DEADLINE))

    def close(self):
        self.connection.close()
