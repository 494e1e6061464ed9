"""A record carries what it was taken with: metadata, times, files."""

import csv
import json
import os
import subprocess
import time

import numpy as np

import pytest

import rk350


# (settings, expected metadata)
TAKINGS = [
    (dict(rate=1e6, length=5000, post=3750, ranges=(2.0, 0.8), mode="ch12"),
     dict(sample_rate=1e6, trigger_index=1250, ranges=(2.0, 0.8), channels=(1, 2))),
    (dict(rate=3e6, length=2000, post=2000, ranges=(4.0, 4.0), mode="ch12"),
     dict(sample_rate=2.5e6, trigger_index=0, ranges=(4.0, 4.0), channels=(1, 2))),
    (dict(rate=100e6, length=4096, post=1024, ranges=(1.0, 2.0), mode="ch1"),
     dict(sample_rate=100e6, trigger_index=3072, ranges=(2.0, 2.0), channels=(1,))),
    (dict(rate=250e3, length=1000, post=500, ranges=(0.3, 8.0), mode="ch2", source="ch2"),
     dict(sample_rate=250e3, trigger_index=500, ranges=(0.4, 8.0), channels=(2,))),
]


def take(scope, settings):
    scope.measure_mode = settings["mode"]
    scope.sample_rate = settings["rate"]
    scope.set_record(settings["length"], settings["post"])
    for channel, volts in zip(scope.channels, settings["ranges"]):
        channel.range = volts
    scope.trigger_source = settings.get("source", "ch1")
    scope.card.set_source(2, "sine", amplitude=0.3, frequency=20e3)
    scope.generator.configure("sine", frequency=20e3, amplitude=1.0)


@pytest.mark.parametrize("settings, expected", TAKINGS)
def test_a_records_metadata_is_what_it_was_taken_with(scope, settings, expected):
    take(scope, settings)
    for record in (scope.block(timeout=10), scope.measure()):
        assert record.sample_rate == expected["sample_rate"]
        assert record.sample_interval == 1 / expected["sample_rate"]
        assert record.trigger_index == expected["trigger_index"] == scope.pre_samples
        assert record.t0 == -expected["trigger_index"] / expected["sample_rate"]
        assert record.ranges == expected["ranges"]
        assert record.channels == expected["channels"]
        assert record.shape == (2, settings["length"])
        times = record.times()
        assert times[0] == record.t0 and times[record.trigger_index] == 0
        assert np.allclose(np.diff(times), record.sample_interval)
        # Settings changed afterwards do not change what the record says.
        scope.sample_rate = 1e3
        assert record.times()[-1] == pytest.approx((settings["length"] - 1 - expected["trigger_index"])
                                                   / expected["sample_rate"])
        scope.sample_rate = settings["rate"]


def test_the_settings_of_a_block_are_those_at_its_start(scope):
    take(scope, TAKINGS[0][0])
    scope.start()
    scope.sample_rate = 10e3  # changed while the block is armed
    while not scope.ready:
        scope.process_messages()
    assert scope.get_data().sample_rate == 1e6


def test_how_the_record_was_taken(scope):
    take(scope, TAKINGS[0][0])
    record = scope.block(timeout=10)
    if not hasattr(scope.lib, "RK350_GetRecordTrigger"):
        assert record.how is None and record.triggered is None
        return
    assert record.how == rk350.RecordTrigger.TRIGGERED_SOFTWARE and record.triggered
    scope.card.unplug(1)
    scope.generator.output = False
    scope.trigger_timeout = 0.05
    forced = scope.block(timeout=10)
    assert forced.how == rk350.RecordTrigger.FORCED_CALL and forced.triggered is False
    assert scope.measure().how == rk350.RecordTrigger.FORCED_TIMEOUT
    scope.trigger_source = "none"
    scope.trigger_timeout = 0
    assert scope.block(timeout=10).how == rk350.RecordTrigger.FREE_RUN


def test_block_honours_the_trigger_timeout(scope):
    # Nothing crosses the level: the record is forced after trigger_timeout.
    take(scope, TAKINGS[0][0])
    scope.generator.output = False
    scope.card.unplug(1)
    scope.trigger_timeout = 0.2
    record = scope.block()
    assert record.shape == (2, 5000)
    scope.trigger_timeout = None  # for ever: the caller bounds the wait
    with pytest.raises(TimeoutError):
        scope.block(timeout=0.3)


@pytest.mark.parametrize("seconds", [0.4, 1.5])
def test_continuous_forces_after_the_trigger_timeout_in_seconds(scope, seconds):
    # A DC input that never crosses the level: each record is forced after
    # the time-out as wall time (the engine alone would count it in ticks).
    take(scope, TAKINGS[0][0])
    scope.generator.output = False
    scope.card.unplug(1)
    scope.trigger_timeout = seconds
    start = time.monotonic()
    records = list(scope.continuous(count=2, timeout=10))
    elapsed = time.monotonic() - start
    pre = scope.pre_samples / scope.sample_rate
    assert 2 * (seconds + pre) <= elapsed < 2 * (seconds + pre) + 0.5
    assert [r.how for r in records] == [rk350.RecordTrigger.FORCED_CALL] * 2
    assert scope.trigger_timeout == seconds  # the library's own setting is given back


def test_npz_round_trip(scope, tmp_path):
    take(scope, TAKINGS[0][0])
    record = scope.block(timeout=10)
    path = tmp_path / "record.npz"
    record.save_npz(path)
    back = rk350.Record.load_npz(path)
    assert np.array_equal(np.asarray(back), np.asarray(record), equal_nan=True)
    assert back.metadata == record.metadata
    with np.load(path) as f:
        assert np.array_equal(f["times"], record.times())


def tool_csv_head(tmp_path, *options):
    tool = os.environ.get("RK350_CAPTURE")
    assert tool, "RK350_CAPTURE must name the rk350-capture of this build (ctest sets it)"
    out = tmp_path / "tool.csv"
    subprocess.run([tool, "--quiet", "--samples", "100", "--csv", str(out), "--no-plot", *options], check=True,
                   capture_output=True, timeout=60)
    return out.read_text().splitlines()


@pytest.mark.parametrize("mode, raw, options", [
    ("ch12", False, []),
    ("ch1", False, ["--channels", "1"]),
    ("ch2", False, ["--channels", "2"]),
    ("ch12", True, ["--raw"]),
])
def test_csv_has_the_capture_tools_header(scope, tmp_path, mode, raw, options):
    tool = tool_csv_head(tmp_path, *options)
    scope.measure_mode = mode
    scope.set_record(100, 75)
    record = scope.block(timeout=10, raw=raw)
    path = tmp_path / "record.csv"
    record.to_csv(path)
    ours = path.read_text().splitlines()
    assert ours[0] == tool[0]
    assert "# record: 100 samples, 25 before the trigger; time_s is 0 at the trigger" in ours
    rate_note = [line for line in tool if line.startswith("# sample rate: ")][0]
    assert rate_note.startswith("# sample rate: 1000000 Hz") and "# sample rate: 1000000 Hz" in ours
    assert ours[1 + len(record.csv_notes())].startswith("-2.5e-05,")  # 25 samples at 1 MHz before the trigger
    rows = [row for row in csv.reader(line for line in ours if not line.startswith("#"))][1:]
    assert len(rows) == 100
    times = np.array([float(row[0]) for row in rows])
    assert np.array_equal(times, record.times())
    for column, channel in enumerate(record.channels, start=1):
        values = np.array([float(row[column]) for row in rows])
        expected = np.asarray(record[channel - 1]) // 256 if raw else np.asarray(record[channel - 1])
        assert np.array_equal(values, expected)


def test_csv_leaves_positions_without_samples_empty(scope, tmp_path):
    scope.software_trigger = False
    scope.generator.configure("sine", frequency=20e3, amplitude=1.0)
    record = scope.block(timeout=10)
    first, count = record.valid[0]
    assert first > 0
    path = tmp_path / "record.csv"
    record.to_csv(path)
    rows = [line.split(",") for line in path.read_text().splitlines()[1:] if not line.startswith("#")]
    assert all(row[1] == "" for row in rows[:first]) and all(row[1] != "" for row in rows[first:])
    assert "# CH1: range \u00b12 V, samples at %d .. 4999" % first in path.read_text()


@pytest.mark.parametrize("value, text", [(0.25, "0.25"), (1e-06, "1e-06"), (-0.0001, "-1e-04"), (1.5e7, "1.5e+07"), (1500.0, "1500"),
                                         (1.2e-4, "0.00012"), (0.0, "0"), (123.45, "123.45"), (1e21, "1e+21")])
def test_numbers_are_written_as_the_capture_tool_writes_them(value, text):
    assert rk350.record.format_number(value) == text


@pytest.mark.parametrize("key, start, step, channels", [
    ((slice(None), slice(1000, 2000)), 1000, 1, (1, 2)),
    ((slice(None), slice(None, None, 10)), 0, 10, (1, 2)),
    ((slice(None), slice(1300, None, 7)), 1300, 7, (1, 2)),
    ((1, slice(200, 900, 3)), 200, 3, (2,)),
    ((0,), 0, 1, (1,)),
])
def test_slices_carry_their_own_times_and_valid_ranges(scope, key, start, step, channels):
    take(scope, TAKINGS[0][0])
    scope.card.unplug(2)
    record = scope.block(timeout=10)
    part = record[key]
    positions = np.arange(record.shape[-1])[start::step][:part.shape[-1]]
    # Times from the whole record's own settings at the positions the slice holds.
    assert np.allclose(part.times(), (positions - record.trigger_index) / record.sample_rate, rtol=0, atol=1e-12)
    assert part.sample_interval == pytest.approx(step / record.sample_rate)
    assert part.channels == channels
    for c in channels:
        first, count = record.valid[c - 1]
        held = (positions >= first) & (positions < first + count)
        got_first, got_count = part.valid[c - 1]
        assert got_count == held.sum() and (got_count == 0 or held[got_first])
    assert part.complete == all(part.valid[c - 1][1] == part.shape[-1] for c in channels)


def test_slice_csv_times_and_plain_results(scope, tmp_path):
    take(scope, TAKINGS[0][0])
    record = scope.block(timeout=10)
    part = record[:, 1000:2000]
    part.to_csv(tmp_path / "part.csv")
    rows = [r for r in csv.reader(open(tmp_path / "part.csv")) if r and not r[0].startswith("#")][1:]
    assert float(rows[0][0]) == pytest.approx((1000 - record.trigger_index) / record.sample_rate)
    # Anything that is no record of these samples is a plain array or number.
    for other in (record[:, 5], record[0, ::-1], record[[0, 1]], record[0][record[0] > 0]):
        assert type(other) is np.ndarray
    peak = np.nanmax(record[0])
    assert not isinstance(peak, rk350.Record) and json.loads(json.dumps(peak)) == float(peak)
    assert type(record.mean(axis=1)) is np.ndarray
