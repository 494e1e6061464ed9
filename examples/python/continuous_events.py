"""Continuous mode: the library's timer-driven engine, kept running by pumping
messages; Instrument.continuous yields each record the engine finishes (the
library's measurement-ready flag). A change of the signal shows up in the
following records."""
import _path  # noqa: F401
import rk350

with rk350.Instrument() as scope:
    scope.channels[0].range = 4.0
    scope.sample_rate = 1e6
    scope.set_record(2000, 1000)
    scope.trigger_timeout = 0.2
    scope.generator.configure("sine", frequency=2000, amplitude=1.0)

    swings = []
    for n, volts in enumerate(scope.continuous(count=6, timeout=10)):
        swings.append(volts[0].max() - volts[0].min())
        print("record %d: CH1 swing %.3f V" % (n + 1, swings[-1]))
        if n == 1:
            scope.generator.amplitude = 3.0
    assert abs(swings[0] - 2.0) < 0.15, swings
    assert abs(swings[-1] - 6.0) < 0.3, swings
