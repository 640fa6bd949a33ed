"""Every Python snippet of the README (and of docs/), run as a new user runs it: from the
repository's root, in a fresh interpreter namespace, each block after the ones before it in the
same file."""

import os
import re

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DOCS = [os.path.join(ROOT, "README.md")] + sorted(
    os.path.join(ROOT, "docs", f) for f in os.listdir(os.path.join(ROOT, "docs"))
    if f.endswith(".md"))


def python_blocks(path):
    with open(path) as f:
        return re.findall(r"^```python\n(.*?)^```", f.read(), re.S | re.M)


FILES = [(os.path.relpath(p, ROOT), python_blocks(p)) for p in DOCS]
FILES = [(name, blocks) for name, blocks in FILES if blocks]


def test_the_readme_has_python_snippets():
    assert any(name == "README.md" for name, _ in FILES)


@pytest.mark.parametrize("name,blocks", FILES, ids=[f[0] for f in FILES])
def test_python_snippets_run(name, blocks, monkeypatch):
    monkeypatch.chdir(ROOT)
    namespace = {"__name__": "__snippet__"}
    for i, block in enumerate(blocks):
        exec(compile(block, f"{name}, python block {i + 1}", "exec"), namespace)
