"""A value the card runs other than asked is said on every surface of the
scope: the JSON answer carries the adjustment, SCPI queues an error with the
value in effect (and the query returns it); a value met as asked says nothing."""
import pytest

from scpi_client import RawScpi

# (JSON patch, SCPI command, key, value in effect)
CASES = [
    ({"rate": 1e9}, ":ACQ:SRAT 1GHZ", "rate", 1e8),
    ({"generator": {"frequency": 6e6}}, ":SOUR:FREQ 6MHZ", "generator.frequency", 5e6),
    ({"ch1": {"range": 3}}, ":CHAN1:RANG 3", "ch1.range", 4),
]


@pytest.mark.parametrize("patch, command, key, running", CASES)
def test_adjusted_values_are_reported(scope, patch, command, key, running):
    status, state = scope.post(patch)
    assert status == 200, state
    assert state["adjusted"] == [{"key": key, "asked": pytest.approx(next(iter(_leaves(patch)))),
                                  "running": running, "unit": "Hz" if "rate" in key or "freq" in key else "V"}]
    scpi = RawScpi(scope.scpi_port)
    try:
        scpi.send("*RST")
        assert scpi.errors() == []
        assert float(scpi.query(command + ";" + command.split()[0] + "?")) == running
        [(code, text)] = scpi.errors()
        assert code == 1 and text.startswith("Value adjusted;%s runs at " % key), text
    finally:
        scpi.close()


def test_values_met_as_asked_say_nothing(scope):
    status, state = scope.post({"rate": 250e3, "generator": {"frequency": 1234}, "ch1": {"range": 4}})
    assert status == 200 and "adjusted" not in state, state
    scpi = RawScpi(scope.scpi_port)
    try:
        scpi.send(":ACQ:SRAT 250KHZ;:SOUR:FREQ 1234;:CHAN1:RANG 4")
        assert scpi.errors() == []
    finally:
        scpi.close()


def _leaves(patch):
    for value in patch.values():
        if isinstance(value, dict):
            yield from _leaves(value)
        else:
            yield value
