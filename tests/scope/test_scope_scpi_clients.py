"""SCPI clients as they really behave: they leave mid-wait, go silent, race
each other for records, ask for more than they read, and send faults in the
middle of a message. Each case bounded in time; loopback only."""
import os
import socket
import threading
import time

import pytest

from scope_client import DEADLINE, Scope, eventually
from scpi_client import RawScpi


def lock_is_free(scope):
    status, _ = scope.post({"trigger": {"level": 0.1}})
    return status == 200


def closed_by_scope(sock, seconds=DEADLINE):
    """Whether the scope ended the connection within `seconds` (data before the end is read and dropped)."""
    sock.settimeout(seconds)
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            if not sock.recv(1 << 16):
                return True
    except (ConnectionResetError, BrokenPipeError):
        return True
    except socket.timeout:
        return False
    return False


def scope_side_open(scope, sock):
    """Whether the scope's end of this connection is still established (its
    unsent data may still be on the way after it closed it)."""
    ours = sock.getsockname()[1]
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            local, remote, state = fields[1], fields[2], fields[3]
            if int(local.split(":")[1], 16) == scope.scpi_port and int(remote.split(":")[1], 16) == ours:
                return state == "01"
    return False


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


@pytest.mark.parametrize("leave", ["close", "half-close"])
def test_a_client_that_leaves_mid_wait_is_gone_with_its_lock(scope, leave):
    client = RawScpi(scope.scpi_port)
    # A wait that would last for ever (100,000 records averaged), then a query behind it.
    client.send(":SYST:LOCK ON;:ACQ:COUN 100000;:SING;*OPC?")
    client.send("*IDN?")
    eventually(lambda: not lock_is_free(scope), "the lock was not taken")
    if leave == "close":
        client.close()
    else:
        client.socket.shutdown(socket.SHUT_WR)
    eventually(lambda: lock_is_free(scope), "the lock outlived its client", seconds=5)
    other = RawScpi(scope.scpi_port)
    try:
        assert other.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
    finally:
        other.close()
        if leave != "close":
            client.close()


def test_a_silent_lock_holder_loses_it_and_a_reset_gives_it_up():
    scope = Scope("--scpi-lock-idle", "2")
    holder = RawScpi(scope.scpi_port)
    try:
        assert holder.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
        took = time.monotonic()
        assert not lock_is_free(scope)
        eventually(lambda: lock_is_free(scope), "a silent holder kept the lock", seconds=6)
        assert time.monotonic() - took >= 1.5  # not before its time
        assert holder.query(":SYST:LOCK?") == "0"
        assert holder.query(":SYST:LOCK ON;*RST;:SYST:LOCK?") == "0"
        assert lock_is_free(scope)
    finally:
        holder.close()
        assert scope.close() == 0


def test_idle_connections_are_closed_and_make_room():
    scope = Scope("--scpi-idle", "2")
    silent = [socket.create_connection(("127.0.0.1", scope.scpi_port)) for _ in range(128)]
    try:
        # All places taken: a newcomer gets in once one of them has been silent long enough.
        deadline = time.monotonic() + DEADLINE
        while True:
            assert time.monotonic() < deadline, "128 silent connections kept every other client out"
            try:
                newcomer = RawScpi(scope.scpi_port)
                answer = newcomer.query("*IDN?")
                newcomer.close()
                if answer.startswith("RK350,"):
                    break
            except (AssertionError, ConnectionError):
                time.sleep(0.2)
        for sock in silent:
            assert closed_by_scope(sock, seconds=10), "an idle connection stayed open"
    finally:
        for sock in silent:
            sock.close()
        assert scope.close() == 0


def test_with_a_token_a_place_is_taken_only_by_sending_it():
    scope = Scope("--allow-remote")
    token = scope.url.rsplit("?token=", 1)[1]
    strangers = [socket.create_connection(("127.0.0.1", scope.scpi_port)) for _ in range(128)]
    try:
        client = RawScpi(scope.scpi_port)
        client.send(":SYST:TOK '%s'" % token)
        assert client.query(":CHAN1:RANG 4;:CHAN1:RANG?") == "4"
        client.close()
        for sock in strangers:  # not admitted within their time
            assert closed_by_scope(sock, seconds=15), "a connection without the token stayed"
    finally:
        for sock in strangers:
            sock.close()
        assert scope.close() == 0


def test_opc_answers_for_the_clients_own_record_while_others_race(scope):
    """Clients loop :SING;*OPC? then :WAV:SEQ?;:WAV:DATA? while the page
    changes settings: each "1" is followed by the record taken after that
    client's :SINGle, each "0" by its -221."""
    scope.post({"samples": 2000})
    format_ascii = ":WAV:FORM ASC"
    failures, counts = [], {"own": 0, "refused": 0}
    lock = threading.Lock()

    def client_loop(index):
        client = RawScpi(scope.scpi_port)
        client.send(format_ascii)
        try:
            for _ in range(15):
                status, record = scope.request("GET", "/api/record")
                before = record["sequence"] if status == 200 else 0
                done = client.query(":SING;*OPC?")
                if done == "1":
                    sequence, block = client.query(":WAV:SEQ?;:WAV:DATA?").split(";", 1)
                    if int(sequence) <= before or len(block.split(",")) != 2000:
                        failures.append((index, before, sequence))
                    with lock:
                        counts["own"] += 1
                else:
                    errors = client.errors()
                    if done != "0" or [c for c, _ in errors] != [-221]:
                        failures.append((index, done, errors))
                    with lock:
                        counts["refused"] += 1
        finally:
            client.close()

    def page_loop(stop):
        level = 0
        while not stop.is_set():
            level = (level + 1) % 5
            scope.post({"trigger": {"level": level * 0.05}})
            time.sleep(0.05)

    stop = threading.Event()
    page = threading.Thread(target=page_loop, args=(stop,))
    page.start()
    clients = [threading.Thread(target=client_loop, args=(i,)) for i in range(4)]
    for t in clients:
        t.start()
    for t in clients:
        t.join(DEADLINE * 4)
    stop.set()
    page.join(DEADLINE)
    assert not any(t.is_alive() for t in clients), "a client's wait did not end"
    assert failures == []
    assert counts["own"] > 0, counts


def test_an_amplifying_message_is_answered_piece_by_piece_and_a_slow_reader_dropped(scope):
    client = RawScpi(scope.scpi_port)
    assert client.query(":ACQ:POIN 65520;:SING;*OPC?") == "1"
    before = rss_kib(scope.process.pid)
    # 1,500 ASCII waveforms of 65,520 samples: hundreds of MB if made before sending.
    client.send(":WAV:FORM ASC;" + ";".join([":WAV:DATA?"] * 1500))
    peak = before
    deadline = time.monotonic() + 60
    client.socket.settimeout(0.5)
    while time.monotonic() < deadline and scope_side_open(scope, client.socket):
        peak = max(peak, rss_kib(scope.process.pid))
        time.sleep(1.5)
        try:
            client.socket.recv(4096)  # a reader taking 4 KB now and then
        except socket.timeout:
            pass
    closed = not scope_side_open(scope, client.socket)
    assert closed, "a reader too slow for its answer kept its connection"
    assert peak - before < 64 * 1024, "the scope grew by %d KiB" % (peak - before)
    client.close()
    other = RawScpi(scope.scpi_port)
    assert other.query("*IDN?").startswith("RK350,")
    other.close()


@pytest.mark.parametrize("message, settings, errors", [
    (":TRIG:LEV 0.2;:ACQ:POIN 70000;:TRIG:LEV 0.4", {"trigger": {"level": 0.2}}, [-222]),
    (":TRIG:LEV 0.3;:BOGUS;:TRIG:LEV 0.4", {"trigger": {"level": 0.3}}, [-113]),
    (":TRIG:LEV 0.1;:CHAN1234567:RANG 2;:TRIG:LEV 0.4", {"trigger": {"level": 0.1}}, [-114]),
])
def test_a_message_stops_at_its_first_error(scope, message, settings, errors):
    client = RawScpi(scope.scpi_port)
    try:
        client.send(message)
        assert [c for c, _ in client.errors()] == errors
        state = scope.settings()["settings"]
        for key, value in settings.items():
            assert {k: state[key][k] for k in value} == value
    finally:
        client.close()


def test_a_failing_query_answers_nothing_of_its_message(scope):
    client = RawScpi(scope.scpi_port)
    try:
        assert client.query(":CHAN1:DISP OFF;:SING;*OPC?") == "1"
        client.send(":WAV:PRE?;:WAV:POIN?;:TRIG:STAT?")
        # The next line read is the next message's answer: nothing of the failed one.
        assert client.query("*IDN?").startswith("RK350,")
        assert [c for c, _ in client.errors()] == [-230]
    finally:
        client.close()
