import importlib.util
from pathlib import Path

import _tarvex as tv

ROOT = Path(__file__).resolve().parents[2]


def load_generator():
    spec = importlib.util.spec_from_file_location("gen_stubs", ROOT / "scripts" / "gen_stubs.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_committed_stub_matches_the_built_module():
    committed = (ROOT / "bindings" / "_tarvex.pyi").read_text()
    assert load_generator().render() == committed, "run scripts/gen_stubs.py after changing the bindings"


def test_stub_and_marker_are_installed_next_to_the_module():
    here = Path(tv.__file__).parent
    assert (here / "_tarvex.pyi").read_text() == (ROOT / "bindings" / "_tarvex.pyi").read_text()
    assert (here / "py.typed").exists()


def test_stub_declares_every_public_name():
    stub = (ROOT / "bindings" / "_tarvex.pyi").read_text()
    public = [n for n in dir(tv) if not n.startswith("_")]
    assert public and all(f"class {n}" in stub for n in public)
