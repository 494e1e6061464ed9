"""Lets the examples run from a source checkout without installing the binding."""
import sys
from pathlib import Path

binding = Path(__file__).resolve().parents[2] / "bindings" / "python"
if binding.is_dir() and str(binding) not in sys.path:
    sys.path.insert(0, str(binding))
