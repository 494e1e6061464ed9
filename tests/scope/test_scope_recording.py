"""The scope's recording (--record-dir): started and stopped over /api, SCPI
(through pyvisa-py) and the page's Record control, written by the tools' one
recorder; the file read back with h5py holds the records the scope published,
in their order, with the settings version each was taken with."""
import os
import time
import urllib.parse

import h5py
import numpy
import pytest

from scope_client import DEADLINE, Scope
from scpi_client import RawScpi, visa_errors, visa_socket


def eventually(condition, what, seconds=DEADLINE):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("no %s within %s s" % (what, seconds))


@pytest.fixture
def recording_scope(tmp_path):
    directory = tmp_path / "recordings"
    server = Scope("--record-dir", str(directory), "--samples", "2000")
    server.directory = directory
    yield server
    assert server.close() == 0, "rk350-scope did not stop cleanly"


def recording(scope):
    status, state = scope.request("GET", "/api/recording")
    assert status == 200, state
    return state


def finished(scope):
    return eventually(lambda: (lambda r: None if r["active"] else r)(recording(scope)), "the recording's end")


def start(scope, **request):
    status, answer = scope.request("POST", "/api/recording/start", request)
    assert status == 200, answer
    assert answer["active"], answer
    return answer


def same_record(frame, f, i):
    """Whether row i of the file is the record of this published frame."""
    table = f["records"][i]
    if (table["trigger"], table["trigger_index"], table["settings_version"]) != (
            frame["how"], frame["triggerIndex"], frame["settingsVersion"]):
        return False
    if abs(table["sample_interval"] * frame["rate"] - 1) > 1e-12:
        return False
    for channel in frame["channels"]:
        group = f[channel["name"]]
        row = group["records"][i]
        first, held = channel["held"]
        if (row["valid_first"], row["valid_count"], bool(row["overrange"]), row["range"]) != (
                first, held, channel["overrange"], channel["range"]):
            return False
        codes = group["codes"][i].astype(numpy.float64)
        converted = (codes[first:first + held] - 128) * row["volts_per_code"]
        shown = numpy.array(channel["volts"][first:first + held], dtype=numpy.float64)
        if not numpy.array_equal(converted, shown):
            return False
    return True


def test_an_api_recording_holds_every_record_the_scope_published(recording_scope):
    scope = recording_scope
    stream = scope.stream()
    try:
        begun = start(scope, name="run.h5")
        assert begun["name"] == "run.h5" and begun["files"] == []
        # The records taken with settings changed after the start were all
        # read while recording (the stream may still hold older ones); a
        # second change mid-recording shows in the file's settings versions.
        frames = []
        for frequency in (1500, 2500):
            status, changed = scope.post({"generator": {"frequency": frequency}})
            assert status == 200, changed
            frames += [stream.next_frame(changed["version"]) for _ in range(12)]
    finally:
        stream.close()
    status, stopped = scope.request("POST", "/api/recording/stop")
    assert status == 200 and not stopped["active"], stopped
    assert stopped["ended"] == "stopped" and stopped["lost"] == 0 and not stopped["failed"]
    assert stopped["records"] == stopped["finished"] >= len(frames)
    path = scope.directory / "run.h5"
    assert [(f["name"], f["bytes"]) for f in stopped["files"]] == [("run.h5", os.path.getsize(path))]

    with h5py.File(path, "r") as f:
        rows = f["records"].shape[0]
        assert rows == stopped["records"]
        assert list(f["records"]["sequence"]) == list(range(1, rows + 1))
        assert f.attrs["records_lost"] == 0 and f.attrs["ended"] == "stopped"
        versions = list(f["records"]["settings_version"])
        assert versions == sorted(versions)
        assert {frames[0]["settingsVersion"], changed["version"]} <= set(versions)
        assert frames[0]["settingsVersion"] < changed["version"]
        # Every published record is in the file, in the order it was published.
        row = 0
        for frame in frames:
            while row < rows and not same_record(frame, f, row):
                row += 1
            assert row < rows, "record %d of the scope is not in the file" % frame["sequence"]
            row += 1
        assert f["settings"].attrs["samples"] == "2000"

    # The download is the file.
    status, data = scope.request("GET", "/api/recordings/run.h5")
    assert status == 200 and data == path.read_bytes()


def test_api_recordings_end_at_their_limits(recording_scope):
    scope = recording_scope
    start(scope, name="count.h5", count=20)
    ended = finished(scope)
    assert (ended["records"], ended["finished"], ended["lost"]) == (20, 20, 0)
    assert ended["ended"] == "the count of 20 records is reached"
    with h5py.File(scope.directory / "count.h5", "r") as f:
        assert list(f["records"]["sequence"]) == list(range(1, 21))

    began = time.monotonic()
    start(scope, name="duration.h5", duration="1s")
    ended = finished(scope)
    assert time.monotonic() - began >= 1.0
    assert ended["ended"] == "the duration of 1 s is reached" and ended["records"] > 0

    start(scope, name="size.h5", maxSize="1M")
    ended = finished(scope)
    assert ended["ended"] == "the size limit of 1.0 MB is reached" and not ended["failed"]
    assert 0 < os.path.getsize(scope.directory / "size.h5") <= 1_000_000
    with h5py.File(scope.directory / "size.h5", "r") as f:
        assert f["records"].shape[0] == ended["records"] > 0

    listed = {f["name"] for f in recording(scope)["files"]}
    assert listed == {"count.h5", "duration.h5", "size.h5"}


@pytest.mark.parametrize("request_body,why", [
    ({"name": "../outside.h5"}, "plain file name"),
    ({"name": "sub/inside.h5"}, "plain file name"),
    ({"name": "run.txt"}, "ending in .h5"),
    ({"name": ".h5"}, "plain file name"),
    ({"name": "x" * 98 + ".h5"}, "at most 100 characters"),
    ({}, "expected {\"name\""),
    ({"name": "a.h5", "count": -1}, "count is a whole number"),
    ({"name": "a.h5", "duration": "soon"}, "duration is seconds"),
    ({"name": "a.h5", "maxSize": "big"}, "maxSize is bytes"),
    ({"name": "a.h5", "split": "1M"}, "no field split"),
])
def test_api_refuses_names_and_limits_of_the_wrong_form(recording_scope, request_body, why):
    status, answer = recording_scope.request("POST", "/api/recording/start", request_body)
    assert status == 400 and why in answer["error"], answer
    assert not recording(recording_scope)["active"]
    assert sorted(os.listdir(recording_scope.directory)) == []
    assert not os.path.exists(recording_scope.directory.parent / "outside.h5")


def test_api_keeps_existing_files_and_serves_only_finished_recordings(recording_scope):
    scope = recording_scope
    (scope.directory / "kept.h5").write_bytes(b"someone's data")
    (scope.directory / "notes.txt").write_text("not a recording")
    status, answer = scope.request("POST", "/api/recording/start", {"name": "kept.h5"})
    assert status == 400 and "exists" in answer["error"]
    assert (scope.directory / "kept.h5").read_bytes() == b"someone's data"

    start(scope, name="live.h5")
    status, answer = scope.request("POST", "/api/recording/start", {"name": "other.h5"})
    assert status == 400 and "runs already (live.h5)" in answer["error"]
    eventually(lambda: recording(scope)["records"] > 0, "a record written")
    status, _ = scope.request("GET", "/api/recordings/live.h5")
    assert status == 404  # still being written
    assert "live.h5" not in {f["name"] for f in recording(scope)["files"]}
    scope.request("POST", "/api/recording/stop")
    status, _ = scope.request("GET", "/api/recordings/live.h5")
    assert status == 200
    for name in ("notes.txt", "missing.h5", urllib.parse.quote("../recordings/live.h5", safe=""),
                 urllib.parse.quote("/etc/passwd", safe="")):
        status, _ = scope.request("GET", "/api/recordings/" + name)
        assert status == 404, name


def test_without_a_directory_nothing_records():
    scope = Scope()
    try:
        assert scope.request("GET", "/api/recording")[0] == 404
        status, answer = scope.request("POST", "/api/recording/start", {"name": "run.h5"})
        assert status == 404 and "--record-dir" in answer["error"]
        raw = RawScpi(scope.scpi_port)
        raw.send(':RECord:STARt "run.h5"')
        raw.send(":REC:STAT?")  # refused as well: no answer, an error
        errors = raw.errors()
        assert [code for code, _ in errors] == [-221, -221], errors
        assert "--record-dir" in errors[0][1]
        raw.close()
    finally:
        assert scope.close() == 0


@pytest.fixture
def visa(recording_scope):
    with visa_socket(recording_scope.scpi_port) as instrument:
        yield instrument


errors = visa_errors


def test_scpi_records_with_a_count_and_stops_on_request(recording_scope, visa):
    scope = recording_scope
    assert visa.query(":RECord:STATe?") == "0"
    visa.write(':RECord:STARt "scpi.h5",25')
    assert errors(visa) == []
    eventually(lambda: visa.query(":REC:STAT?") == "0", "the recording's end")
    assert (visa.query(":REC:COUN?"), visa.query(":REC:LOST?")) == ("25", "0")
    assert visa.query(":REC:FILE?") == '"scpi.h5"'
    assert visa.query(":REC:REAS?") == '"the count of 25 records is reached"'
    assert int(visa.query(":REC:SIZE?")) == os.path.getsize(scope.directory / "scpi.h5")
    with h5py.File(scope.directory / "scpi.h5", "r") as f:
        assert list(f["records"]["sequence"]) == list(range(1, 26))

    visa.write(':REC:STAR "open.h5"')
    assert visa.query(":REC:STAT?") == "1"
    eventually(lambda: int(visa.query(":REC:COUN?")) >= 3, "records written")
    visa.write(":REC:STOP")
    assert visa.query(":REC:STAT?;:REC:REAS?") == '0;"stopped"'
    written = int(visa.query(":REC:COUN?"))
    with h5py.File(scope.directory / "open.h5", "r") as f:
        assert f["records"].shape[0] == written and f.attrs["ended"] == "stopped"
    # The page's list shows what SCPI recorded.
    assert {f["name"] for f in recording(scope)["files"]} == {"scpi.h5", "open.h5"}


@pytest.mark.parametrize("command,code", [
    (':REC:STAR "../up.h5"', -224),
    (':REC:STAR "run.csv"', -224),
    (":REC:STAR RUN", -104),
    (':REC:STAR "run.h5",-1', -222),
    (':REC:STAR "run.h5",2.5', -222),
    (':REC:STAR "run.h5",0,-3', -222),
    (':REC:STAR "run.h5",0,0,0,1', -108),
    (":REC:STAR", -109),
    (":REC:STAT? 1", -108),
])
def test_scpi_refuses_recordings_of_the_wrong_form(recording_scope, visa, command, code):
    visa.write(command)
    assert [c for c, _ in errors(visa)] == [code]
    assert visa.query(":REC:STAT?") == "0"
    assert os.listdir(recording_scope.directory) == []


def test_scpi_recording_respects_another_clients_lock(recording_scope, visa):
    holder = RawScpi(recording_scope.scpi_port)
    try:
        holder.send(":SYST:LOCK ON")
        assert holder.query(":SYST:LOCK?") == "1"
        visa.write(':REC:STAR "locked.h5"')
        assert [c for c, _ in errors(visa)] == [-203]
        assert visa.query(":REC:STAT?") == "0"  # reading is allowed
        status, _ = recording_scope.request("POST", "/api/recording/start", {"name": "locked.h5"})
        assert status == 423
    finally:
        holder.close()


def test_the_page_records_and_offers_the_finished_file(recording_scope, browser):
    scope = recording_scope
    browser.open(scope.url)
    browser.wait_for(lambda: browser.evaluate("!document.getElementById('record-section').hidden"),
                     "the Record control")
    assert browser.evaluate("document.getElementById('record-stop').disabled")
    browser.evaluate("""(() => {
      document.getElementById('record-name').value = 'page.h5';
      document.getElementById('record-count').value = '15';
      document.getElementById('record-start').click();
    })()""")
    browser.wait_for(lambda: "15 records" in browser.evaluate("document.getElementById('record-progress').textContent")
                     and "count of 15 records" in browser.evaluate(
                         "document.getElementById('record-progress').textContent"), "the recording's end shown")
    shown = browser.evaluate("document.getElementById('record-progress').textContent")
    assert "0 lost" in shown and " MB" in shown, shown
    link = browser.wait_for(lambda: browser.evaluate(
        "(document.querySelector('#record-files a') || {}).href || ''"), "the finished file's link")
    assert link.endswith("/api/recordings/page.h5")
    # The link downloads the file the server wrote.
    size = browser.evaluate("fetch(%r).then(r => r.arrayBuffer()).then(b => b.byteLength)" % link)
    assert size == os.path.getsize(scope.directory / "page.h5")
    with h5py.File(scope.directory / "page.h5", "r") as f:
        assert f["records"].shape[0] == 15

    # A recording without limits runs until Stop; a refusal is shown.
    browser.evaluate("""(() => {
      document.getElementById('record-name').value = 'open.h5';
      document.getElementById('record-count').value = '';
      document.getElementById('record-start').click();
    })()""")
    browser.wait_for(lambda: browser.evaluate("document.getElementById('record-section').dataset.active") == "true",
                     "the recording running")
    eventually(lambda: recording(scope)["records"] >= 3, "records written")
    browser.evaluate("document.getElementById('record-stop').click()")
    browser.wait_for(lambda: "stopped" in browser.evaluate("document.getElementById('record-progress').textContent"),
                     "the stop shown")
    browser.wait_for(lambda: browser.evaluate("document.querySelectorAll('#record-files a').length") == 2,
                     "both files listed")
    browser.evaluate("""(() => {
      document.getElementById('record-name').value = 'page.h5';
      document.getElementById('record-start').click();
    })()""")
    browser.wait_for(lambda: "exists" in browser.evaluate("document.getElementById('record-progress').textContent"),
                     "the refusal shown")


def test_the_page_shows_no_record_control_without_a_directory(scope, browser):
    browser.open(scope.url)
    browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 2, "drawn records")
    assert browser.evaluate("document.getElementById('record-section').hidden")
