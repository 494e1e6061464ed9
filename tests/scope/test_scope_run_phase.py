"""The run phase of a slow record: "acquiring" whenever the card acquires,
"waiting" only while it waits for a trigger, record after record."""
import time

from scope_client import Scope


def test_slow_records_show_acquiring_record_after_record():
    # 100 Hz, 500 samples: 5 s a record; a 7 Hz sine crosses the level
    # early in each run, so every run acquires from its start.
    scope = Scope("--rate", "100", "--samples", "500", "--gen-freq", "7")
    try:
        phases, records = [], set()
        end = time.monotonic() + 16
        while time.monotonic() < end:
            state = scope.state()
            if state["run"] is not None:
                phases.append(state["run"]["phase"])
            status, frame = scope.request("GET", "/api/record")
            if status == 200:
                records.add(frame.get("sequence"))
            time.sleep(0.25)
        assert len(records) >= 2, "fewer than two slow records in 16 s"
        assert phases and set(phases) == {"acquiring"}, phases
    finally:
        assert scope.close() == 0
