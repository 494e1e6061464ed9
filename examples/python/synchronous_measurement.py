"""Synchronous measurement (StartMeasurement): a DC level from the generator,
then the input's DC level added on top."""
import _path  # noqa: F401
import rk350

with rk350.Instrument() as scope:
    scope.channels[0].range = 2.0
    scope.sample_rate = 1e6
    scope.set_record(1000, 1000)                 # free run (DC has no edge): all after the start
    scope.trigger_source = "none"
    scope.generator.configure("dc", offset=0.5)

    first = scope.measure()[0].mean()
    scope.channels[0].dc_level = 1.0
    second = scope.measure()[0].mean()
    print("CH1 mean %.3f V, with +1 V input level %.3f V" % (first, second))
    assert abs(first - 0.5) < 0.05 and abs(second - 1.5) < 0.05
