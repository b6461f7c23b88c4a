# The typed stub movantrix.pyi (beside the module) names what the module has, and no more.
import ast
import inspect
import pathlib

import movantrix

STUB_ONLY = {"Value", "Address", "StrPath", "Progress"}  # type aliases of the stub


def stub_names():
    path = pathlib.Path(movantrix.__file__).with_name("movantrix.pyi")
    tree = ast.parse(path.read_text())
    names = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)} | {
                n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
        elif isinstance(node, ast.FunctionDef):
            names[node.name] = None
        elif isinstance(node, (ast.Assign, ast.AnnAssign)):
            target = node.targets[0] if isinstance(node, ast.Assign) else node.target
            names[target.id] = None
    return names


def test_the_stub_and_the_module_name_the_same_things():
    stub = stub_names()
    public = {n for n in dir(movantrix) if not n.startswith("_")} | {"__version__"}
    assert set(stub) - STUB_ONLY == public
    for name, members in stub.items():
        cls = getattr(movantrix, name, None)
        if not members or issubclass(cls, Exception):
            continue  # an exception's attributes are set on its instances
        public_members = {n for n in vars(cls) if not n.startswith("_")}
        assert public_members == {m for m in members if not m.startswith("_")}, name
        assert all(hasattr(cls, m) for m in members), name


def test_every_public_call_has_a_docstring():
    for name in dir(movantrix):
        item = getattr(movantrix, name)
        if name.startswith("_") or not (inspect.isclass(item) or callable(item)):
            continue
        assert item.__doc__, name
        if inspect.isclass(item) and not issubclass(item, Exception):
            for member, value in vars(item).items():
                if not member.startswith("_"):
                    assert getattr(value, "__doc__", None), f"{name}.{member}"
