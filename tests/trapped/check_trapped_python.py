#!/usr/bin/env python3
"""The Python binding's hardware flavour on the shipping librk350.so, its port
instructions served by the preloaded harness's card, against the virtual
flavour: the generator's sine looped back to CH1, both cards in manual time
moved on by each status read, the same records sample by sample.

Usage: check_trapped_python.py HARNESS HARDWARE_LIBRARY VIRTUAL_LIBRARY
(run with HARNESS in LD_PRELOAD)
"""
import ctypes
import os
import sys

import numpy as np

from rk350 import Instrument

TIME_STEP = 50e-6  # card time per status read


def block(scope):
    with scope:
        scope.generator.configure("sine", frequency=1300, amplitude=1.2)
        return scope.block(timeout=20, raw=True)


def main():
    harness_path, hardware_path, virtual_path = sys.argv[1:4]
    if "trapped_ports" not in os.environ.get("LD_PRELOAD", ""):
        sys.exit("the trapped-port harness is not preloaded: the binding would reach the real bus")
    harness = ctypes.CDLL(harness_path)  # the preloaded copy
    harness.RK350Trapped_SetManualTime.argtypes = [ctypes.c_double, ctypes.c_double]
    harness.RK350Trapped_InCount.restype = ctypes.c_uint64
    harness.RK350Trapped_OutCount.restype = ctypes.c_uint64

    harness.RK350Trapped_SetManualTime(0.0, TIME_STEP)
    ins, outs = harness.RK350Trapped_InCount(), harness.RK350Trapped_OutCount()
    trapped = block(Instrument(flavour="hardware", address=0x300, library=hardware_path))
    ins, outs = harness.RK350Trapped_InCount() - ins, harness.RK350Trapped_OutCount() - outs

    simulated = Instrument(address=0x300, library=virtual_path)
    simulated.card.base_address = 0x300
    simulated.card.freeze_time(0.0)
    simulated.card.auto_step(TIME_STEP)
    expected = block(simulated)

    trapped, expected = np.asarray(trapped), np.asarray(expected)
    assert trapped.shape == expected.shape and trapped.shape[1] > 0, (trapped.shape, expected.shape)
    assert ins >= 2 * trapped.shape[1] and outs > 0, (ins, outs)
    differ = np.flatnonzero((trapped != expected).any(axis=0))
    assert differ.size == 0, "records differ at %d samples, first at %s" % (differ.size, differ[:5])
    swing = int(trapped[0].max()) - int(trapped[0].min())
    assert swing > 0x4000, swing
    print("Python, hardware flavour through trapped ports: %d in, %d out; record (%d, %d) equals the virtual "
          "flavour's" % (ins, outs, trapped.shape[0], trapped.shape[1]))


if __name__ == "__main__":
    main()
