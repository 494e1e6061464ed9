"""Every Python block of docs/python.md runs as it stands there."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[3]
BINDING = REPO / "bindings" / "python"


def blocks(page):
    return re.findall(r"^```python\n(.*?)^```", (REPO / page).read_text(), re.M | re.S)


DOC_BLOCKS = blocks("docs/python.md")


def test_the_page_has_its_examples():
    assert len(DOC_BLOCKS) >= 5


@pytest.mark.parametrize("index", range(len(DOC_BLOCKS)))
def test_each_python_block_of_the_docs_runs(index, tmp_path):
    env = dict(os.environ, PYTHONPATH=str(BINDING))
    done = subprocess.run([sys.executable, "-c", DOC_BLOCKS[index]], env=env, cwd=tmp_path, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, DOC_BLOCKS[index] + "\n" + done.stdout + done.stderr
    # A comment on a print line is what it prints.
    for line in DOC_BLOCKS[index].splitlines():
        promised = re.match(r"\s*print\(.*\)\s+#\s+(.+)$", line)
        if promised:
            assert promised.group(1) in done.stdout, (promised.group(1), done.stdout)
