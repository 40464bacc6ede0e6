"""Every ```python block of README.md, docs/GUIDE.md and the package
description runs as written.

The blocks of one document run in document order, each in a fresh interpreter
(as a reader would paste it), all in one temporary folder per document, so a
block may load what an earlier one saved: the guide's rebuild recipes load the
checkpoint of its training recipe in another process. CUDA is hidden, so the
blocks run on the CPU everywhere. Where a CJK font is installed, no block may
log Matplotlib's font complaints (`findfont: ...`, missing glyphs): the guide's
figure recipes promise legible figures and a quiet log.
"""

import os
import re
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

from toolbox import ROOT

DESCRIPTION = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["readme"]
DOCUMENTS = ["README.md", "docs/GUIDE.md", DESCRIPTION]
FENCE = re.compile(r"^```python\n(.*?)^```$", re.DOTALL | re.MULTILINE)
# The font files the guide's figure recipe looks for.
CJK_FONTS = ["/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
             "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"]
FONT_NOISE = re.compile(r"findfont:|Glyph \d+ .*missing from font")


def code_blocks(document):
    return FENCE.findall((ROOT / document).read_text(encoding="utf-8"))


CASES = [(doc, i) for doc in DOCUMENTS for i in range(len(code_blocks(doc)))]


@pytest.fixture(scope="module")
def folders(tmp_path_factory):
    return {doc: tmp_path_factory.mktemp(Path(doc).stem) for doc in DOCUMENTS}


def test_each_document_has_code():
    for doc in DOCUMENTS:
        assert code_blocks(doc), f"no python block found in {doc}"


@pytest.mark.parametrize(("document", "index"), CASES, ids=[f"{d}#{i}" for d, i in CASES])
def test_code_block_runs(document, index, folders):
    code = code_blocks(document)[index]
    # No backend is chosen for them: a block that draws must select one itself.
    env = {k: v for k, v in os.environ.items() if k != "MPLBACKEND"}
    env["CUDA_VISIBLE_DEVICES"] = ""
    done = subprocess.run([sys.executable, "-c", code], cwd=folders[document], env=env,
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, (
        f"{document} block {index} failed:\n{code}\n--- stdout\n{done.stdout[-3000:]}"
        f"\n--- stderr\n{done.stderr[-3000:]}")
    if any(os.path.exists(font) for font in CJK_FONTS):
        noise = [line for line in done.stderr.splitlines() if FONT_NOISE.search(line)]
        assert not noise, (f"{document} block {index} logged {len(noise)} font complaints, "
                           f"first: {noise[0]}")


def test_package_description_reads_off_the_repository():
    """The wheel's description is shown on a package page: no links relative to
    the checkout, no make targets (there is no Makefile beside a wheel)."""
    text = (ROOT / DESCRIPTION).read_text(encoding="utf-8")
    assert DESCRIPTION != "README.md"
    links = re.findall(r"\]\(([^)\s]+)", text) + re.findall(r"^\[[^\]]+\]:\s*(\S+)", text, re.MULTILINE)
    relative = [link for link in links if not re.match(r"https?://", link)]
    assert not relative, f"links a package page cannot follow: {relative}"
    code = FENCE.findall(text) + re.findall(r"`([^`\n]+)`", text) + re.findall(r"^    (.+)$", text, re.MULTILINE)
    made = [line for line in code if re.search(r"\bmake\s+\w", line)]
    assert not made, f"make commands in the package description: {made}"
