"""An Avahi daemon of a test's own: a private D-Bus bus (as the system bus
of the processes given its address) and avahi-daemon on it, answering on
the loopback interface only. It needs root: avahi-daemon keeps its PID file
in /run/avahi-daemon, so it runs in a mount namespace of its own with a fresh
directory there, and a daemon of the machine or of another test run is left
alone."""
import os
import shutil
import subprocess
import tempfile
import threading

from scope_client import DEADLINE

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

AVAHI_CONFIG = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[publish]
publish-workstation=no
"""

NEEDED = ["dbus-daemon", "avahi-daemon", "avahi-browse", "unshare"]


class PrivateAvahi:
    def __enter__(self):
        missing = [n for n in NEEDED if shutil.which(n) is None]
        assert not missing, "missing %s: scripts/install-deps.sh installs them" % ", ".join(missing)
        assert os.geteuid() == 0, "avahi-daemon runs as root (its PID file is in /run/avahi-daemon)"
        self.directory = tempfile.mkdtemp(prefix="rk350-avahi-")
        self.processes = []
        socket_path = os.path.join(self.directory, "bus")
        with open(os.path.join(self.directory, "bus.conf"), "w") as f:
            f.write(BUS_CONFIG % socket_path)
        with open(os.path.join(self.directory, "avahi.conf"), "w") as f:
            f.write(AVAHI_CONFIG)
        self.address = "unix:path=" + socket_path
        try:
            self._start(["dbus-daemon", "--config-file=" + os.path.join(self.directory, "bus.conf"), "--nofork",
                         "--print-address"], "unix:")
            self._start(["unshare", "--mount", "sh", "-c",
                         "mkdir -p /run/avahi-daemon && mount -t tmpfs rk350-test /run/avahi-daemon && exec avahi-daemon --no-drop-root "
                         "--no-chroot --no-rlimits -f %s/avahi.conf 2>&1" % self.directory],
                        "Server startup complete", {"DBUS_SYSTEM_BUS_ADDRESS": self.address})
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self, command, ready, extra_environment=None):
        """Starts a process and waits for the line that says it is ready."""
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                   env={**os.environ, **(extra_environment or {})})
        self.processes.append(process)
        seen, found = [], threading.Event()

        def read():
            for line in process.stdout:
                seen.append(line)
                if ready in line:
                    found.set()
        threading.Thread(target=read, daemon=True).start()
        assert found.wait(DEADLINE), "%s did not start: %s" % (command[0], "".join(seen))

    def __exit__(self, *exception):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(DEADLINE)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(self.directory, ignore_errors=True)
