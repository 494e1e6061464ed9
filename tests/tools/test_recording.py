"""Recordings of rk350-capture --continuous --record, read back with h5py and
h5dump: equal to the records the library handed out, readable after a kill
and after a full disk."""
import json
import os
import resource
import signal
import subprocess
import time

import h5py
import numpy
import pytest

CAPTURE = os.environ["RK350_CAPTURE"]
REFERENCE = os.environ["RK350_RECORDING_REFERENCE"]
RUN_LIMIT = 300  # seconds any one run may take


def read_reference(prefix):
    """The records as the library handed them out, from recording_reference."""
    with open(prefix + ".jsonl") as f:
        records = [json.loads(line) for line in f]
    codes = numpy.fromfile(prefix + ".codes", dtype=numpy.uint8)
    volts = numpy.fromfile(prefix + ".volts", dtype=numpy.float64)
    return records, codes, volts


def check_readable(path):
    """A recording as a reader meets it: the tables and codes agree in length
    and the sequence numbers rise; returns the number of records."""
    with h5py.File(path, "r") as f:
        rows = f["records"].shape[0]
        for name in ("CH1", "CH2"):
            if name in f:
                assert f[name]["codes"].shape[0] >= rows
                assert f[name]["records"].shape[0] >= rows
        sequence = f["records"]["sequence"][:rows]
        assert numpy.all(numpy.diff(sequence.astype(numpy.int64)) > 0)
    return rows


# Short and long records, both channels; the card trigger (with overrange);
# no trigger at all (free run); a slow record whose crossing the library's
# search finds; a level never crossed: the tool forces each run once the
# trigger time-out (1 s by default, wall time) has passed, so the library
# says forced by a call (4). The last field: how the library took the
# records (RK350_RECORD_*), and the one seen at least once (if any).
CASES = [
    ("short", ["--samples", "1000", "--ch2-source", "square:0.5:250"], 300, ({1, 2}, 1)),
    ("long", ["--samples", "65520", "--pre-trigger", "0", "--ch2-source", "noise:0.3"], 15, ({1}, 1)),
    ("card trigger", ["--samples", "2000", "--card-trigger", "--ch1-range", "0.5"], 100, ({1}, 1)),
    ("free run", ["--samples", "1500", "--trigger", "none", "--channels", "2", "--ch2-source", "sine:1:3k"], 100, ({5}, 5)),
    # Whether the card's comparator or the search takes a slow record depends
    # on where the run starts in the sine: either is right, none is required.
    ("slow software trigger", ["--samples", "5000", "--rate", "100k", "--gen-freq", "37"], 8, ({1, 2}, None)),
    ("forced", ["--samples", "2000", "--trigger-level", "1.5"], 5, ({4}, 4)),
]


@pytest.mark.parametrize("name,options,count,how", CASES, ids=[c[0] for c in CASES])
def test_recording_equals_the_library_records(tmp_path, name, options, count, how):
    path = str(tmp_path / "run.h5")
    prefix = str(tmp_path / "reference")
    run = subprocess.run([REFERENCE, prefix, "--continuous", "--record", path, "--count", str(count)] + options,
                         capture_output=True, text=True, timeout=RUN_LIMIT)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == f"written {count} lost 0"
    records, codes, volts = read_reference(prefix)
    assert len(records) == count
    with h5py.File(path, "r") as f:
        assert f.attrs["format"] == "rk350-recording"
        assert f.attrs["records_lost"] == 0
        table = f["records"][:]
        assert list(table["sequence"]) == [r["sequence"] for r in records] == list(range(1, count + 1))
        assert list(table["trigger"]) == [r["how"] for r in records]
        assert list(table["trigger_index"]) == [r["trigger_index"] for r in records]
        assert list(table["sample_interval"]) == [r["sample_interval"] for r in records]
        length = int(f.attrs["record_length"])
        offset = 0
        for i, record in enumerate(records):
            for ch in record["channels"]:
                group = f[f"CH{ch['channel']}"]
                row = group["records"][i]
                assert (row["valid_first"], row["valid_count"], row["overrange"], row["range"]) == (
                    ch["valid_first"], ch["valid_count"], ch["overrange"], ch["range"]), (i, ch)
                stored = group["codes"][i]
                assert numpy.array_equal(stored, codes[offset:offset + length]), (i, ch["channel"])
                # The file's conversion gives the library's own volts.
                first, held = ch["valid_first"], ch["valid_count"]
                converted = (stored.astype(numpy.float64) - 128) * row["volts_per_code"]
                library = volts[offset:offset + length]
                assert numpy.array_equal(converted[first:first + held], library[first:first + held])
                offset += length
        assert offset == len(codes)
        seen = {r["how"] for r in records}
        allowed, required = how
        assert seen <= allowed and (required is None or required in seen), seen
        if name == "card trigger":
            assert f["CH1/records"]["overrange"].all()
        if name == "forced":  # none forced before its time-out (the run's 0.5 ms pre-trigger part aside)
            assert numpy.all(numpy.diff(table["host_time"]) >= 1.0), table["host_time"]


def test_capture_tool_records_a_thousand_and_h5dump_reads_them(tmp_path):
    path = tmp_path / "run.h5"
    run = subprocess.run([CAPTURE, "--continuous", "--record", str(path), "--count", "1000", "--samples", "1000"],
                         capture_output=True, text=True, timeout=RUN_LIMIT)
    assert run.returncode == 0, run.stderr
    assert "recorded 1000 records" in run.stdout and ", 0 lost" in run.stdout, run.stdout
    assert check_readable(path) == 1000
    with h5py.File(path, "r") as f:
        assert f["CH1/codes"].shape == (1000, 1000)
        assert f.attrs["ended"] == "the run's limit was reached"
        assert f["settings"].attrs["samples"] == "1000"
    dump = subprocess.run(["h5dump", "-d", "/records", "-s", "999", "-c", "1", str(path)], capture_output=True,
                          text=True, timeout=60)
    assert dump.returncode == 0, dump.stderr
    assert "1000" in dump.stdout and "triggered" in dump.stdout


def test_split_parts_hold_every_record_in_order(tmp_path):
    path = tmp_path / "run.h5"
    run = subprocess.run([CAPTURE, "--continuous", "--record", str(path), "--count", "40", "--samples", "20000",
                          "--split", "1M"], capture_output=True, text=True, timeout=RUN_LIMIT)
    assert run.returncode == 0, run.stderr
    parts = sorted(tmp_path.glob("run-*.h5"))
    assert len(parts) >= 2 and not path.exists()
    sequence = []
    for part in parts:
        assert part.stat().st_size <= 1_000_000 + 200_000  # one record may start a part beyond the split size
        with h5py.File(part, "r") as f:
            sequence += list(f["records"]["sequence"][:])
    assert sequence == list(range(1, 41))


def test_killed_recorder_leaves_a_readable_file(tmp_path):
    path = tmp_path / "run.h5"
    tool = subprocess.Popen([CAPTURE, "--quiet", "--continuous", "--record", str(path), "--duration", "60s",
                             "--samples", "30000"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and (not path.exists() or path.stat().st_size < 3_000_000):
            time.sleep(0.1)
        assert path.exists() and path.stat().st_size >= 3_000_000
    finally:
        tool.send_signal(signal.SIGKILL)
        tool.wait(timeout=30)
    assert tool.returncode == -signal.SIGKILL
    rows = check_readable(path)
    assert rows >= 40
    with h5py.File(path, "r") as f:
        assert "ended" not in f.attrs  # it never closed
        assert list(f["records"]["sequence"][:rows]) == list(range(1, rows + 1))
        codes = f["CH1/codes"][rows - 1]
        assert codes.min() < 100 and codes.max() > 156  # the generator's sine, not an empty row


def limit_file_size():
    resource.setrlimit(resource.RLIMIT_FSIZE, (8_000_000, 8_000_000))


def test_full_disk_ends_the_run_with_a_clear_error_and_a_readable_file(tmp_path):
    path = tmp_path / "run.h5"
    run = subprocess.run([CAPTURE, "--continuous", "--record", str(path), "--count", "500", "--samples", "65520"],
                         capture_output=True, text=True, timeout=RUN_LIMIT, preexec_fn=limit_file_size)
    assert run.returncode == 3, run.stderr
    assert "the recording stopped: the file-size limit (ulimit -f) is reached" in run.stderr, run.stderr
    rows = check_readable(path)
    assert 20 <= rows < 500
    assert f"holds the {rows} records before" in run.stderr
    with h5py.File(path, "r") as f:
        assert f.attrs["ended"].startswith("the file-size limit")
        assert f.attrs["records_lost"] >= 1


def test_interrupted_recording_is_closed_with_every_record(tmp_path):
    path = tmp_path / "run.h5"
    tool = subprocess.Popen([CAPTURE, "--quiet", "--continuous", "--record", str(path), "--samples", "1000"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and (not path.exists() or path.stat().st_size < 200_000):
        time.sleep(0.1)
    tool.send_signal(signal.SIGINT)
    out, err = tool.communicate(timeout=60)
    assert tool.returncode == 130, err
    rows = check_readable(path)
    assert f"recorded {rows} records" in out and ", 0 lost" in out
    with h5py.File(path, "r") as f:
        assert f.attrs["ended"] == "interrupted" and f.attrs["records_lost"] == 0


def loaded_objects(run):
    """The shared objects the dynamic loader opened in a run under LD_DEBUG=files."""
    return {line.split("file=", 1)[1].split()[0] for line in run.stderr.splitlines() if "file=" in line}


def test_hdf5_is_loaded_for_a_recording_only(tmp_path):
    environment = dict(os.environ, LD_DEBUG="files")
    plain = subprocess.run([CAPTURE, "--quiet", "--samples", "1000", "--csv", str(tmp_path / "a.csv"), "--no-plot"],
                           capture_output=True, text=True, timeout=RUN_LIMIT, env=environment)
    assert plain.returncode == 0, plain.stderr[-2000:]
    assert (tmp_path / "a.csv").exists()
    assert not [name for name in loaded_objects(plain) if "hdf5" in name or "rk350_recorder" in name]
    recording = subprocess.run([CAPTURE, "--quiet", "--continuous", "--record", str(tmp_path / "r.h5"), "--count", "2",
                                "--samples", "1000"], capture_output=True, text=True, timeout=RUN_LIMIT,
                               env=environment)
    assert recording.returncode == 0, recording.stderr[-2000:]
    loaded = loaded_objects(recording)
    assert [name for name in loaded if name.endswith("librk350_recorder.so")], sorted(loaded)
    assert [name for name in loaded if "hdf5" in name], sorted(loaded)
    assert check_readable(tmp_path / "r.h5") == 2


@pytest.mark.parametrize("named, says", [
    (None, "librk350_recorder.so, which writes recordings, is not at {tool_dir}/librk350_recorder.so or "
           "{tool_dir}/../lib"),
    ("not-a-module.so", "cannot load {tool_dir}/not-a-module.so"),
])
def test_missing_recorder_module_is_said_before_the_card_is_used(tmp_path, named, says):
    # The tool alone in a directory: the module is not beside it.
    tool = tmp_path / "bin" / "rk350-capture"
    tool.parent.mkdir()
    tool.write_bytes(open(CAPTURE, "rb").read())
    tool.chmod(0o755)
    environment = {k: v for k, v in os.environ.items() if k != "RK350_RECORDER"}
    if named is not None:
        (tool.parent / named).write_text("not a shared object\n")
        environment["RK350_RECORDER"] = str(tool.parent / named)
    path = tmp_path / "run.h5"
    run = subprocess.run([str(tool), "--continuous", "--record", str(path), "--count", "1"], capture_output=True,
                         text=True, timeout=RUN_LIMIT, env=environment)
    assert run.returncode == 1, run.stderr
    assert "rk350-capture: cannot record: " + says.format(tool_dir=tool.parent) in run.stderr, run.stderr
    assert run.stdout == ""  # nothing said about the card: it was not opened
    assert not path.exists()
    # Without --record the same tool runs as before.
    plain = subprocess.run([str(tool), "--quiet", "--csv", str(tmp_path / "a.csv"), "--no-plot"], capture_output=True,
                           text=True, timeout=RUN_LIMIT, env=environment)
    assert plain.returncode == 0, plain.stderr
