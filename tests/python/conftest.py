# Shared fixtures: the module from the build (PYTHONPATH, set by ctest), the project's sample
# files, and buses on the simulated bus with virtual time.
import json
import os
import pathlib

import pytest

import movantrix

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLES = pathlib.Path(os.environ.get("MVX_SAMPLES", ROOT / "samples"))
EXAMPLES = pathlib.Path(os.environ.get("MVX_EXAMPLES", ROOT / "examples" / "python"))


@pytest.fixture
def bus():
    """The built-in simulated bus on virtual time, closed afterwards."""
    with movantrix.open("sim", virtual_time=True) as opened:
        yield opened


@pytest.fixture
def sim_file(tmp_path):
    """Writes a bus description and gives its port text ("sim:PATH")."""

    def make(devices, **extra):
        path = tmp_path / "bus.json"
        path.write_text(json.dumps({"adapter": "Test Bus", "devices": devices, **extra}))
        return f"sim:{path}"

    return make
