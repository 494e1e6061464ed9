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


@pytest.fixture
def browser():
    """Headless Chromium driven over its DevTools socket (imported here, so
    that tests without a page need no browser modules)."""
    from browser import Browser

    b = Browser()
    yield b
    b.close()
