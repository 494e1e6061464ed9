"""Instrument.record: the engine's records through the capture tool's recorder
into a recording, read back equal to the records the library handed out."""
import h5py
import numpy as np
import pytest

import rk350


def test_record_keeps_every_record_as_the_library_gave_it(scope, tmp_path, monkeypatch):
    scope.set_record(3000, 2250)
    scope.generator.configure("sine", frequency=1000, amplitude=1.0)
    seen = []
    original = scope.continuous

    def watched(*args, **kwargs):
        for record in original(*args, **kwargs):
            seen.append(record.copy())
            yield record

    monkeypatch.setattr(scope, "continuous", watched)
    path = tmp_path / "py.h5"
    result = scope.record(path, count=40)
    assert (result.finished, result.written, result.lost) == (40, 40, 0)
    assert result.bytes == path.stat().st_size
    assert len(seen) == 40 and all(r.raw for r in seen)
    with rk350.open_recording(path) as recording, h5py.File(path, "r") as f:
        assert len(recording) == 40 and recording.lost == 0
        assert "virtual card" in recording.attributes["card"]
        for i, (library, kept) in enumerate(zip(seen, recording)):
            assert kept.sequence == i + 1
            assert kept.how == library.how and kept.trigger_index == library.trigger_index
            assert kept.valid == library.valid and kept.overrange == library.overrange
            assert kept.sample_rate == library.sample_rate
            for c in (0, 1):
                assert np.array_equal(f["CH%d/codes" % (c + 1)][i], np.asarray(library[c]) >> 8)
                first, count = library.valid[c]
                volts = (np.asarray(library[c], dtype=float) - 0x8000) * library.ranges[c] / 32768
                assert np.array_equal(kept[c, first:first + count], volts[first:first + count])


def test_record_by_duration_and_its_refusals(scope, tmp_path):
    result = scope.record(tmp_path / "timed.h5", duration=0.5)
    assert result.written == result.finished > 0 and result.lost == 0 and result.seconds >= 0.5
    with pytest.raises(ValueError, match="count or a duration"):
        scope.record(tmp_path / "endless.h5")
    with pytest.raises(OSError, match="the recording stopped: cannot create"):
        scope.record(tmp_path / "no" / "such" / "dir.h5", count=3)
