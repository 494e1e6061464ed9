"""Headless Chromium (Debian's chromium) driven through its remote-debugging
protocol over a WebSocket (python3-websocket). Every wait is bounded."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket

from scope_client import DEADLINE


class Browser:
    def __init__(self, width=1400, height=900):
        executable = shutil.which("chromium")
        assert executable, "chromium is missing (scripts/install-deps.sh installs it)"
        self.profile = tempfile.mkdtemp(prefix="rk350-chromium-")
        # As root Chromium runs only without its sandbox.
        self.process = subprocess.Popen(
            [executable, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
             "--no-first-run", "--no-default-browser-check", "--disable-extensions", "--hide-scrollbars",
             "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
             "--user-data-dir=" + self.profile, "--window-size=%d,%d" % (width, height), "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        self.wait_for(lambda: os.path.exists(port_file) and open(port_file).read().strip(), "Chromium's debugging port")
        port = int(open(port_file).read().split()[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=DEADLINE))
        page = next(t for t in targets if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=DEADLINE,
                                                  suppress_origin=True)
        self.next_id = 0

    def wait_for(self, condition, what, timeout=DEADLINE):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.process.poll() is not None:
                raise AssertionError("Chromium ended (status %s) while waiting for %s" % (self.process.returncode, what))
            value = condition()
            if value:
                return value
            time.sleep(0.05)
        raise AssertionError("no %s within %s s" % (what, timeout))

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s: %s" % (method, message["error"]))
                return message["result"]
        raise AssertionError("%s did not answer" % method)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        """Navigates and waits until the page at `url` has loaded."""
        self.call("Page.navigate", url=url)

        def loaded():
            try:
                return self.evaluate("document.readyState === 'complete' && location.href === %s" % json.dumps(url))
            except AssertionError:  # the old page's context went away mid-call
                return False
        self.wait_for(loaded, "the page at " + url)

    def screenshot(self, path):
        data = base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
        with open(path, "wb") as f:
            f.write(data)
        return data

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass
        self.process.terminate()
        try:
            self.process.wait(DEADLINE)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
