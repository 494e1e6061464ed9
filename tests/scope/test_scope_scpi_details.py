"""SCPI details: parameters where none are allowed, limits in the header's
unit, each error's meaning said once, figures to their significant digits."""
import re

import pytest

from scpi_client import RawScpi


@pytest.fixture
def scpi(scope):
    connection = RawScpi(scope.scpi_port)
    yield connection
    connection.close()


@pytest.mark.parametrize("command", ["*IDN? extra", "*ESR? 1", ":SYST:ERR? 2", ":ACQ:STAT? RUN", "*OPC 3",
                                     ":WAV:POIN? 1", ":TRIG:STAT? 1"])
def test_parameters_where_none_are_allowed(scpi, command):
    scpi.send("*ESE 0;*CLS")
    scpi.send(command)
    assert scpi.errors() == [(-108, "Parameter not allowed")]


@pytest.mark.parametrize("command, expected", [
    (":TRIG:TIM 1e9", "trigger.timeout 1e+09 S must be within 0 .. 4294967.294 S"),
    (":TRIG:TIM 0.0005", "trigger.timeout 5e-04 S is not a whole number of ms"),
    (":ACQ:POIN 12.5", "samples 12.5 is not a whole number of samples"),
    (":ACQ:SRAT -5", "rate -5 HZ must be above 0 HZ"),
])
def test_limits_in_the_headers_unit(scpi, command, expected):
    scpi.send(command)
    [(code, text)] = scpi.errors()
    assert code == -222 and text == "Data out of range;" + expected


def test_each_meaning_once(scpi):
    scpi.send(":CHAN1:OFFS 100")
    [(code, text)] = scpi.errors()
    assert code == -222 and text.count("an argument lies outside its allowed set or range") == 1, text


def test_figures_carry_no_binary_rounding_noise(scope, scpi):
    assert scope.post({"generator": {"type": "square"}, "rate": 2.5e6})[0] == 200
    assert scpi.query("*OPC?") == "1"
    scpi.query(":SING;*OPC?")
    for header in (":MEAS:RIS", ":MEAS:FALL", ":MEAS:FREQ", ":MEAS:PER", ":MEAS:VAV", ":MEAS:VRMS", ":MEAS:DUTY"):
        answer = scpi.query(header + "?")
        mantissa = re.match(r"-?([0-9.]+)", answer).group(1).replace(".", "").strip("0")
        assert len(mantissa) <= 9, (header, answer)
