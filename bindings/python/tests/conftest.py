import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import rk350  # noqa: E402

REPO = Path(__file__).resolve().parents[3]


@pytest.fixture
def lib():
    """A fresh copy of the virtual-card library: its own module state and card."""
    return rk350.load_library("virtual", private_copy=True)


@pytest.fixture
def scope(lib):
    """An initialised instrument on a fresh virtual card."""
    with rk350.Instrument(lib=lib) as instrument:
        yield instrument


def header_exports(name):
    """Export names declared in a public header, one per line."""
    import re
    text = (REPO / "include" / "rk350" / name).read_text()
    return re.findall(r"^RK350_API\([^)]*\)\s+(\w+)\(", text, re.M)


@pytest.fixture
def no_library_env(monkeypatch):
    monkeypatch.delenv("RK350_LIBRARY", raising=False)
    yield monkeypatch


def pytest_report_header(config):
    try:
        return "rk350 library: %s" % rk350.find_library("virtual")
    except Exception as error:  # shown, not fatal
        return "rk350 library: %s" % error


os.environ.setdefault("PYTHONDONTWRITEBYTECODE", "1")
