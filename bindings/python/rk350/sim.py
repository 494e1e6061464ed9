"""Control of the virtual card (exported by the virtual-card flavour only)."""

import ctypes


class VirtualCard:
    """The card behind the virtual flavour's ports.

    The calls named here are declared in rk350_sim.h; ``call(name, ...)``
    reaches any other RK350Sim_ export by its name without the prefix.
    """

    def __init__(self, lib):
        if not hasattr(lib, "RK350Sim_Reset"):
            raise AttributeError("this library has no virtual card (hardware flavour?)")
        self.lib = lib
        lib.RK350Sim_Reset.restype = None
        lib.RK350Sim_Reset.argtypes = []
        lib.RK350Sim_SetBaseAddress.restype = None
        lib.RK350Sim_SetBaseAddress.argtypes = [ctypes.c_uint16]
        lib.RK350Sim_GetBaseAddress.restype = ctypes.c_uint16
        lib.RK350Sim_GetBaseAddress.argtypes = []
        lib.RK350Sim_GetRegister.restype = ctypes.c_uint8
        lib.RK350Sim_GetRegister.argtypes = [ctypes.c_uint8]

    def has(self, name):
        return hasattr(self.lib, "RK350Sim_" + name)

    def call(self, name, *args):
        return getattr(self.lib, "RK350Sim_" + name)(*args)

    def reset(self):
        """Power-on state (the EEPROM content stays)."""
        self.lib.RK350Sim_Reset()

    @property
    def base_address(self):
        return self.lib.RK350Sim_GetBaseAddress()

    @base_address.setter
    def base_address(self, base):
        self.lib.RK350Sim_SetBaseAddress(base)

    def register(self, index):
        """The value last written to a card register (0..37)."""
        return self.lib.RK350Sim_GetRegister(index)
