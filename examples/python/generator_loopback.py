"""Generator + loopback: a triangle of 30 % symmetry with an offset, measured
on CH1; its levels, frequency and rise/fall shares are checked."""
import numpy as np

import _path  # noqa: F401
import rk350

with rk350.Instrument() as scope:
    scope.channels[0].range = 4.0
    scope.sample_rate = 1e6
    scope.set_record(10000, 8000)
    scope.channels[0].trigger_level = 0.5
    hz = scope.generator.configure("triangle", frequency=2000, amplitude=1.5, offset=0.5, symmetry=30)
    print("generator at %.3f Hz" % hz)

    # From the trigger on: when the trigger comes before the samples ahead of
    # it were taken, the record's first positions hold none (0 V).
    ch1 = scope.block(force_after=1.0, timeout=20.0)[0][scope.pre_samples:]
    rate = scope.sample_rate
    mid = (ch1.max() + ch1.min()) / 2
    rising = np.flatnonzero((ch1[:-1] < mid) & (ch1[1:] >= mid))
    measured = rate * (len(rising) - 1) / (rising[-1] - rising[0])
    # The first 30 % of a period rise; compare samples 10 apart so the
    # converter's steps do not hide the slope.
    falling_share = np.mean(ch1[10:] < ch1[:-10])
    print("CH1 %.3f .. %.3f V, %.1f Hz, falling %.0f %% of the time" % (ch1.min(), ch1.max(), measured,
                                                                        100 * falling_share))
    assert abs(ch1.max() - 2.0) < 0.1 and abs(ch1.min() + 1.0) < 0.1
    assert abs(measured - 2000) < 20
    assert abs(falling_share - 0.70) < 0.05
