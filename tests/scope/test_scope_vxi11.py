"""The scope as a VXI-11 instrument (TCPIP::host::INSTR): found through the
portmapper, driven by pyvisa-py and lxi-tools, its links sessions like the
raw socket's (one lock, one instrument, each its own status). Runs inside
in_loopback_namespace.sh: a namespace with only loopback up and an rpcbind
of its own (the tests named builtin_portmapper: with none, and the scope
answering on port 111 itself)."""
import subprocess
import threading
import time
import urllib.request
import xml.etree.ElementTree as ElementTree

import pytest
import pyvisa

from avahi_daemon import PrivateAvahi
from scope_client import DEADLINE, Scope
from scpi_client import RawScpi

LXI = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
# The elements the LXI identification schema requires, in its order.
LXI_REQUIRED = ["Manufacturer", "Model", "SerialNumber", "FirmwareRevision", "ManufacturerDescription",
                "HomepageURL", "DriverURL", "UserDescription", "IdentificationURL", "Interface", "LXIVersion"]
INTERFACE_REQUIRED = ["InstrumentAddressString", "Hostname", "IPAddress", "SubnetMask", "MACAddress", "Gateway",
                      "DHCPEnabled", "AutoIPEnabled"]

CORE_PROGRAM = 395183
MESSAGE_AVAILABLE = 0x10


@pytest.fixture
def manager():
    manager = pyvisa.ResourceManager("@py")
    yield manager
    manager.close()


def instr(manager, timeout=DEADLINE):
    return manager.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n", timeout=timeout * 1000)


def test_the_portmapper_lists_the_core_channel(scope):
    listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True, timeout=DEADLINE,
                            check=True).stdout
    rows = [line.split() for line in listed.splitlines()[1:]]
    assert ["%d" % CORE_PROGRAM, "1", "tcp", "%d" % scope.vxi11_port] in [row[:4] for row in rows], listed


def test_lxi_and_pyvisa_take_the_raw_sockets_record(scope, manager):
    raw = RawScpi(scope.scpi_port)
    try:
        assert raw.query(":SING;*OPC?") == "1"  # one record, then stopped: every client reads it
        identity = raw.query("*IDN?")
        lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "-t", "%d" % DEADLINE, "*IDN?"],
                             capture_output=True, text=True, timeout=DEADLINE)
        assert lxi.returncode == 0 and lxi.stdout.strip() == identity, (lxi.stdout, lxi.stderr)
        for channel in (1, 2):
            ascii_raw = raw.query(":WAV:SOUR CHAN%d;:WAV:FORM ASC;:WAV:DATA?" % channel)
            lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "-t", "%d" % DEADLINE,
                                  ":WAV:SOUR CHAN%d;:WAV:FORM ASC;:WAV:DATA?" % channel],
                                 capture_output=True, text=True, timeout=DEADLINE)
            assert lxi.returncode == 0 and lxi.stdout.strip() == ascii_raw
            instrument = instr(manager)
            try:
                instrument.write(":WAV:SOUR CHAN%d;:WAV:FORM BYTE" % channel)
                samples = instrument.query_binary_values(":WAV:DATA?", datatype="B", container=bytes)
                raw.send(":WAV:FORM BYTE;:WAV:DATA?")
                header = raw.file.read(2)
                length = int(raw.file.read(int(header[1:2])))
                raw_samples = raw.file.read(length)
                assert raw.file.read(1) == b"\n"
                assert len(samples) > 1000 and samples == raw_samples
                assert instrument.query(":SYST:ERR?").startswith("0,")
            finally:
                instrument.close()
    finally:
        raw.close()


def test_links_share_the_sockets_lock_and_keep_their_own_errors(scope, manager):
    raw = RawScpi(scope.scpi_port)
    first, second = instr(manager), instr(manager)
    try:
        first.lock_excl(timeout=DEADLINE * 1000)  # device_lock: :SYSTem:LOCK's lock
        assert raw.query(":SYST:LOCK?") == "0"
        raw.send(":ACQ:COUN 4")
        assert [code for code, _ in raw.errors()] == [-203]
        second.write(":ACQ:COUN 4")
        assert second.query(":SYST:ERR?").startswith("-203,")
        assert first.query(":SYST:LOCK?") == "1"
        first.write(":NOSUCH:THING")
        assert second.query(":SYST:ERR?").startswith("0,")  # each link its own queue
        assert first.query(":SYST:ERR?").startswith("-113,")
        first.unlock()
        raw.send(":ACQ:COUN 1")
        assert raw.errors() == []
        assert raw.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
        with pytest.raises(pyvisa.VisaIOError):  # held by the socket: device_lock times out
            second.lock_excl(timeout=300)
        assert raw.query(":SYST:LOCK OFF;:SYST:LOCK?") == "0"
        second.lock_excl(timeout=DEADLINE * 1000)
        second.close()  # destroy_link gives the lock up
        second = None
        assert raw.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
    finally:
        first.close()
        if second is not None:
            second.close()
        raw.close()


def test_status_answers_while_a_wait_runs_and_clear_ends_it(scope, manager):
    instrument = instr(manager)
    try:
        assert instrument.query("*CLS;*OPC?") == "1"
        assert not instrument.read_stb() & MESSAGE_AVAILABLE
        instrument.write("*IDN?")
        deadline = time.monotonic() + DEADLINE
        while not instrument.read_stb() & MESSAGE_AVAILABLE:
            assert time.monotonic() < deadline
        assert instrument.read().startswith("RK350,")
        assert not instrument.read_stb() & MESSAGE_AVAILABLE
        # A record of many averages keeps *OPC? waiting: the link still answers.
        instrument.write(":ACQ:COUN 100000;:SING;*OPC?")
        started = time.monotonic()
        assert not instrument.read_stb() & MESSAGE_AVAILABLE
        instrument.timeout = 300
        with pytest.raises(pyvisa.VisaIOError):
            instrument.read()
        instrument.timeout = DEADLINE * 1000
        instrument.clear()  # device_clear ends the wait and drops its answer
        assert time.monotonic() - started < DEADLINE
        assert instrument.query(":ACQ:COUN 1;*IDN?").startswith("RK350,")
    finally:
        instrument.close()


def test_read_stb_sees_the_record_ready(scope, manager):
    instrument = instr(manager)
    raw = RawScpi(scope.scpi_port)
    try:
        # Record ready (operation bit 9) summarised into the status byte (bit 7), and asking for service.
        instrument.write("*CLS;*SRE 128;:STAT:OPER:ENAB 512;:ACQ:COUN 1;:SING")
        deadline = time.monotonic() + DEADLINE
        while instrument.read_stb() != 128 | 64:
            assert time.monotonic() < deadline
        assert instrument.query(":STAT:OPER:COND?") == "512"
        assert int(instrument.query(":STAT:OPER?")) & 512  # read and cleared
        assert instrument.read_stb() == 0
        assert instrument.query("*STB?") == "0"
        # A long record: armed, waiting for its trigger; another connection's change means it will not come.
        instrument.write(":STAT:OPER:ENAB 32;:ACQ:COUN 100000;:SING")
        assert instrument.query(":STAT:OPER:COND?") == "32"
        assert instrument.read_stb() == 128 | 64
        raw.send(":ACQ:COUN 1")
        deadline = time.monotonic() + DEADLINE
        while instrument.query(":STAT:OPER:COND?") != "0":
            assert time.monotonic() < deadline
        assert raw.query(":STAT:OPER:COND?;*STB?") == "0;0"  # another connection's status is its own
    finally:
        instrument.close()
        raw.close()


def test_many_links_at_once(scope, manager):
    failures = []

    def client():
        try:
            instrument = instr(manager)
            for _ in range(20):
                assert instrument.query("*IDN?").startswith("RK350,")
            instrument.close()
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append(repr(e))

    threads = [threading.Thread(target=client) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(DEADLINE * 2)
    assert not failures


def test_the_scope_stops_while_a_read_waits_for_its_answer(manager):
    scope = Scope()
    instrument = manager.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n", timeout=120000)
    outcome = []

    def read():
        try:
            outcome.append(instrument.read())
        except Exception as e:  # noqa: BLE001 - the connection ends with the scope
            outcome.append(repr(e))

    try:
        instrument.write(":ACQ:COUN 100000;:SING;*OPC?")  # an answer far away
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        time.sleep(0.5)
        started = time.monotonic()
        assert scope.close() == 0  # not held by the read's two-minute io_timeout
        assert time.monotonic() - started < DEADLINE
        # (What the client's read then reports is pyvisa-py's affair: it may wait out its own timeout.)
        assert outcome != ["1"]
    finally:
        scope.close()


def test_with_a_token_a_link_is_admitted_by_sending_it(manager):
    scope = Scope("--allow-remote")
    token = scope.url.rsplit("?token=", 1)[1]
    instrument = instr(manager)
    try:
        instrument.write(":CHAN1:RANG 4")
        assert instrument.query(":SYST:ERR?").startswith("-203,"), "without the token"
        instrument.write(":SYST:TOK '%s'" % token)
        assert instrument.query(":CHAN1:RANG 4;:CHAN1:RANG?") == "4"
        assert instrument.query(":SYST:ERR?").startswith("0,")
    finally:
        instrument.close()
        assert scope.close() == 0


def test_a_device_other_than_inst0_is_refused(scope, manager):
    with pytest.raises(Exception, match="error creating link: 3"):  # device not accessible
        manager.open_resource("TCPIP::127.0.0.1::inst7::INSTR", timeout=2000)


def test_lxi_identification_names_the_instrument_and_its_resources(scope, manager):
    with urllib.request.urlopen("http://127.0.0.1:%d/lxi/identification" % scope.port, timeout=DEADLINE) as r:
        assert r.headers["Content-Type"].startswith("text/xml")
        root = ElementTree.fromstring(r.read())
    assert root.tag == LXI + "LXIDevice"
    tags = [child.tag[len(LXI):] for child in root]
    assert [t for t in tags if t in LXI_REQUIRED] == LXI_REQUIRED  # all there, in the schema's order
    interface = root.find(LXI + "Interface")
    inner = [child.tag[len(LXI):] for child in interface]
    assert sorted(set(inner)) == sorted(INTERFACE_REQUIRED)
    assert interface.get("InterfaceType") == "LXI" and interface.get("IPType") == "IPv4"
    assert interface.find(LXI + "IPAddress").text == "127.0.0.1"
    fields = {t: root.find(LXI + t).text for t in ("Manufacturer", "Model", "SerialNumber", "FirmwareRevision")}
    assert root.find(LXI + "IdentificationURL").text == "http://127.0.0.1:%d/lxi/identification" % scope.port
    resources = [e.text for e in interface.findall(LXI + "InstrumentAddressString")]
    assert resources == ["TCPIP::127.0.0.1::INSTR", "TCPIP::127.0.0.1::%d::SOCKET" % scope.scpi_port]
    for resource in resources:  # each opens and says who it is, as the document does
        instrument = manager.open_resource(resource, read_termination="\n", write_termination="\n",
                                           timeout=DEADLINE * 1000)
        try:
            assert instrument.query("*IDN?").split(",") == [fields["Manufacturer"], fields["Model"],
                                                            fields["SerialNumber"], fields["FirmwareRevision"]]
        finally:
            instrument.close()


def test_lxi_discover_finds_it_by_broadcast(scope):
    found = subprocess.run(["lxi", "discover", "-t", "2"], capture_output=True, text=True, timeout=DEADLINE)
    assert found.returncode == 0, found.stderr
    assert 'Found "RK350,RK350 virtual card' in found.stdout and "on address 127.0.0.1" in found.stdout, found.stdout


def test_lxi_discover_mdns_finds_the_announced_services(monkeypatch):
    with PrivateAvahi() as avahi:
        monkeypatch.setenv("DBUS_SYSTEM_BUS_ADDRESS", avahi.address)
        scope = Scope("--announce")
        try:
            deadline = time.monotonic() + DEADLINE
            wanted = {"_lxi._tcp": scope.port, "_vxi-11._tcp": 111, "_scpi-raw._tcp": scope.scpi_port,
                      "_http._tcp": scope.port}
            found = {}
            while any(port not in found.get(service, ()) for service, port in wanted.items()):
                assert time.monotonic() < deadline, found
                for service in wanted:
                    browsed = subprocess.run(["avahi-browse", "-rtp", service], capture_output=True, text=True,
                                             timeout=DEADLINE).stdout
                    for line in browsed.splitlines():
                        fields = line.split(";")
                        if fields[0] == "=" and fields[3].startswith("RK350\\032scope\\032on"):
                            found.setdefault(service, set()).add(int(fields[8]))
            listed = subprocess.run(["lxi", "discover", "--mdns", "-t", "3"], capture_output=True, text=True,
                                    timeout=DEADLINE)
            assert listed.returncode == 0 and "RK350 scope on" in listed.stdout, (listed.stdout, listed.stderr)
            for service in ("lxi", "vxi-11", "scpi-raw"):
                assert service in listed.stdout, listed.stdout
        finally:
            assert scope.close() == 0


def test_builtin_portmapper_answers_when_none_runs(scope, manager):
    listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True, timeout=DEADLINE,
                            check=True).stdout
    assert "395183    1   tcp  %5d" % scope.vxi11_port in listed, listed
    lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "-t", "%d" % DEADLINE, "*IDN?"],
                         capture_output=True, text=True, timeout=DEADLINE)  # rpcbind's version 4 GETADDR
    assert lxi.returncode == 0 and lxi.stdout.startswith("RK350,"), (lxi.stdout, lxi.stderr)
    instrument = instr(manager)  # the portmapper's version 2 GETPORT
    try:
        assert instrument.query("*IDN?").startswith("RK350,")
    finally:
        instrument.close()
