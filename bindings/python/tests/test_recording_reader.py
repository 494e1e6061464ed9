"""open_recording: the capture tool's recordings as Records with their metadata."""
import os
import subprocess

import h5py
import numpy as np
import pytest

import rk350

CAPTURE = os.environ.get("RK350_CAPTURE", "")


@pytest.fixture(scope="module")
def recording_path(tmp_path_factory):
    if not CAPTURE:
        pytest.fail("RK350_CAPTURE names no capture tool (built with the tools)")
    path = tmp_path_factory.mktemp("recording") / "run.h5"
    run = subprocess.run([CAPTURE, "--quiet", "--continuous", "--record", str(path), "--count", "25",
                          "--samples", "4000", "--rate", "2.5M", "--ch2-source", "dc:0:0:0.5", "--ch2-range", "0.8"],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return path


def test_records_come_back_in_volts_with_their_metadata(recording_path):
    with rk350.open_recording(recording_path) as recording, h5py.File(recording_path, "r") as f:
        assert len(recording) == 25 and recording.lost == 0 and recording.channels == (1, 2)
        assert recording.settings["samples"] == "4000" and "virtual card" in recording.attributes["card"]
        records = list(recording)
        assert [r.sequence for r in records] == list(range(1, 26))
        for i, record in enumerate(records):
            assert record.shape == (2, 4000)
            assert record.sample_rate == 2.5e6 and record.trigger_index == 1000
            assert record.times()[1000] == 0.0
            assert record.how == rk350.RecordTrigger(int(f["records"]["trigger"][i]))
            assert record.ranges == (2.0, 0.8)
            for c in (0, 1):
                first, count = record.valid[c]
                row = f["CH%d/records" % (c + 1)][i]
                assert (first, count) == (row["valid_first"], row["valid_count"])
                assert np.isnan(record[c, :first]).all() and np.isnan(record[c, first + count:]).all()
            held = record[1, record.valid[1][0]:sum(record.valid[1])]
            assert np.all(np.abs(held - 0.5) <= 1 / 128)  # the DC source on CH2, to one step of its range
            assert np.nanmax(record[0]) > 0.9 and np.nanmin(record[0]) < -0.9  # the generator's 1 V sine
        assert records[-1].host_time >= records[0].host_time
        assert recording[-1].sequence == 25 and [r.sequence for r in recording[2:4]] == [3, 4]


def test_other_files_are_refused(tmp_path):
    other = tmp_path / "other.h5"
    with h5py.File(other, "w") as f:
        f["x"] = [1, 2, 3]
    with pytest.raises(ValueError, match="not an RK350 recording"):
        rk350.open_recording(other)
