"""Block measurement: the generator's 1 kHz sine (looped back to CH1 on the
virtual card), captured with the trigger at 0 V rising, checked and summarised."""
import numpy as np

import _path  # noqa: F401
import rk350

with rk350.Instrument() as scope:          # the virtual card at 0x288
    scope.channels[0].range = 2.0           # volts full scale
    scope.sample_rate = 1e6
    scope.set_record(4000, 3000)
    scope.trigger_source = "ch1"
    scope.trigger_mode = 0
    scope.channels[0].trigger_level = 0.0
    scope.generator.configure("sine", frequency=1000, amplitude=1.0)

    volts = scope.block(force_after=1.0, timeout=20.0)
    ch1, t = volts[0], scope.times()
    pre = scope.pre_samples

    print("CH1: min %.3f V, max %.3f V, rms %.3f V" % (ch1.min(), ch1.max(), np.sqrt(np.mean(ch1 ** 2))))
    assert abs((ch1.max() - ch1.min()) - 2.0) < 0.1, "swing"
    assert abs(ch1[pre]) < 0.1 and ch1[pre + 20] > ch1[pre - 20], "trigger point"
    assert t[pre] == 0.0
    print("trigger at index %d, t = 0 s: %.3f V" % (pre, ch1[pre]))
