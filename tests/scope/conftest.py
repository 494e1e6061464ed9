import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from scope_client import Scope  # noqa: E402


@pytest.fixture
def scope():
    """rk350-scope on the virtual card, on a free loopback port."""
    server = Scope()
    yield server
    assert server.close() == 0, "rk350-scope did not stop cleanly"
