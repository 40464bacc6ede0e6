"""Every ```python block of README.md and docs/GUIDE.md runs as written.

The blocks of one document run in document order, each in a fresh interpreter
(as a reader would paste it), all in one temporary folder per document, so a
block may load what an earlier one saved: the guide's rebuild recipes load the
checkpoint of its training recipe in another process. CUDA is hidden, so the
blocks run on the CPU everywhere.
"""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
DOCUMENTS = ["README.md", "docs/GUIDE.md"]
FENCE = re.compile(r"^```python\n(.*?)^```$", re.DOTALL | re.MULTILINE)


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
