"""The package installs as Python users expect: with pip from the source
tree (offline, no build isolation, Debian's python3) and with cmake
--install where Debian's python3 looks; both find the library."""

import os
import re
import shutil
import site
import subprocess
import sys
from pathlib import Path


BINDING = Path(__file__).resolve().parents[1]
REPO = BINDING.parents[1]

# Opens the virtual card and says where the package came from.
PROBE = ("import rk350\n"
         "with rk350.Instrument() as scope:\n"
         "    print(rk350.__file__, scope.channel_count, scope.lib._rk350_path)\n")


def build_dir():
    path = os.environ.get("RK350_BUILD_DIR")
    assert path and Path(path, "CMakeCache.txt").is_file(), "RK350_BUILD_DIR must name this build (ctest sets it)"
    return Path(path)


def clean_environment(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RK350_") and k != "PYTHONPATH"}
    env.update(extra)
    return env


def test_the_package_version_is_the_projects():
    project = re.search(r"project\(rk350 VERSION (\S+)", (REPO / "CMakeLists.txt").read_text()).group(1)
    assert re.search(r'^version = "([^"]+)"', (BINDING / "pyproject.toml").read_text(), re.M).group(1) == project


def test_pip_installs_it_offline_without_build_isolation(tmp_path):
    source = tmp_path / "src"
    shutil.copytree(BINDING, source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    env = clean_environment(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    done = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", str(source)], env=env,
                          capture_output=True, text=True, timeout=240)
    assert done.returncode == 0, done.stdout + done.stderr
    env["RK350_LIBRARY_DIR"] = str(build_dir())
    out = subprocess.run([python, "-c", PROBE], env=env, cwd=tmp_path, check=True, capture_output=True, text=True,
                         timeout=60).stdout.split()
    assert out[0].startswith(str(venv)) and out[1] == "2"


def test_cmake_install_puts_it_where_debians_python_looks(tmp_path):
    prefix = tmp_path / "prefix"
    done = subprocess.run(["cmake", "--install", str(build_dir()), "--prefix", str(prefix)], capture_output=True,
                          text=True, timeout=240)
    assert done.returncode == 0, done.stdout + done.stderr
    # Debian's python3 searches <prefix>/lib/python3.X/dist-packages for /usr/local.
    local = site.getsitepackages()[0]
    assert local.startswith("/usr/local/") and local.endswith("dist-packages"), site.getsitepackages()
    installed = prefix / os.path.relpath(local, "/usr/local")
    assert (installed / "rk350" / "__init__.py").is_file()
    # It finds the installed library by itself, not the build tree's.
    out = subprocess.run([sys.executable, "-c", PROBE], env=clean_environment(PYTHONPATH=str(installed)),
                         cwd=tmp_path, check=True, capture_output=True, text=True, timeout=60).stdout.split()
    assert out[0].startswith(str(installed)) and out[1] == "2"
    assert out[2].startswith(str(prefix / "lib"))
