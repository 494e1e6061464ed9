"""The binding against the public headers: every code of every enum and
every prototype's result and argument types are the header's, both ways, so
a change on either side fails here."""

import pytest

import rk350
from rk350 import _prototypes, constants

import header



def header_codes(prefix, defines):
    return {name[len(prefix):]: value for name, value in defines.items()
            if name.startswith(prefix) and name != "RK350_SIM_EEPROM_SIZE"}


@pytest.mark.parametrize("enum_class, prefix", constants.HEADER_PREFIXES.items(),
                         ids=[cls.__name__ for cls in constants.HEADER_PREFIXES])
def test_every_enum_value_is_the_headers(enum_class, prefix):
    declared = header_codes(prefix, header.defines())
    assert declared, "include/rk350 declares no %s codes" % prefix
    assert {member.name: int(member) for member in enum_class} == declared


def test_every_code_of_the_headers_has_its_name_here():
    # A code outside the enums' families is one of these single constants;
    # a new family in a header fails here until it has its enum.
    singles = {"RK350SIM_INPUT_EXTERNAL": rk350.sim.EXTERNAL_INPUT, "RK350_SIM_EEPROM_SIZE": rk350.sim.EEPROM_SIZE}
    defines = header.defines()
    others = {name: value for name, value in defines.items()
              if not name.startswith(tuple(constants.HEADER_PREFIXES.values())) or name == "RK350_SIM_EEPROM_SIZE"}
    assert others == singles


def all_declared():
    declared = {}
    for name in ("rk350.h", "rk350_ext.h"):
        declared.update(header.exports(name))
    return declared


def all_prototypes():
    table = dict(_prototypes.PROTOTYPES)
    table.update({"RK350Sim_" + name: proto for name, proto in _prototypes.SIM_PROTOTYPES.items()})
    return table


def test_the_export_names_are_the_headers_both_ways():
    declared = all_declared()
    declared.update({name: proto for name, proto in header.exports("rk350_sim.h").items()})
    assert len(declared) > 140
    assert sorted(set(declared) - set(all_prototypes())) == []
    assert sorted(set(all_prototypes()) - set(declared)) == []


@pytest.mark.parametrize("export", sorted(all_prototypes()))
def test_every_prototype_is_the_headers(export):
    declared = dict(all_declared(), **header.exports("rk350_sim.h"))
    if export not in declared:
        pytest.fail("%s is not declared in include/rk350" % export)
    result, arguments = declared[export]
    table_result, table_arguments = all_prototypes()[export]
    assert (table_result, list(table_arguments)) == (result, arguments)


def test_the_virtual_cards_source_struct_is_the_headers():
    assert [(name, kind) for name, kind in _prototypes.Source._fields_] == header.source_struct_fields()


def test_the_loaded_library_carries_the_prototypes(lib):
    # Typed from the table, so ctypes converts and checks what a caller passes.
    assert lib.SetMeasureMode.function.argtypes == _prototypes.PROTOTYPES["SetMeasureMode"][1]
    assert lib.RK350Sim_SetInputSource.function.argtypes == _prototypes.SIM_PROTOTYPES["SetInputSource"][1]


def test_the_exceptions_are_the_result_codes():
    for code in rk350.Result:
        if code == rk350.Result.OK:
            continue
        error = rk350.errors.error_for(code, "Call")
        assert error.code == code and error.result_name.upper().replace("RESULT", "").lstrip("_") != ""
        assert type(error).__name__.lower().startswith(code.name.replace("_", "").lower()[:6])
