"""The bash completion driven as bash drives it (COMP_WORDS, COMP_CWORD):
each tool's options from its --help, the values of its choices, files by
extension, folders for -d."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import test_docs

SCRIPT = Path(os.environ["VORNISH_COMPLETION"])
LIBRARY = Path("/usr/share/bash-completion/bash_completion")
TOOLS = {name: os.environ.get(name.upper()) for name in ("brrdecode", "brrencode", "brrscan", "brrinsert")}


def offered(folder, *words):
    """What completing the last of words offers, sorted."""
    tool = TOOLS[words[0]]
    line = " ".join(f"'{w}'" for w in words)
    script = f"""
source {LIBRARY}; source {SCRIPT}; PATH={Path(tool).parent}:$PATH; cd {folder}
COMP_WORDS=({line}); COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1)); COMP_LINE="${{COMP_WORDS[*]}}"; COMP_POINT=${{#COMP_LINE}}
_vornish_brr {words[0]} "${{COMP_WORDS[COMP_CWORD]}}" "${{COMP_WORDS[COMP_CWORD-1]}}"
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    done = subprocess.run(["bash", "-c", script], capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    return sorted(w for w in done.stdout.splitlines() if w)


@unittest.skipUnless(LIBRARY.exists(), "apt-get install bash-completion")
class BashCompletion(unittest.TestCase):
    def test_what_each_tool_is_offered(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in ("a.brr", "B.BRR", "c.wav", "d.flac", "e.aiff", "f.txt"):
                (Path(folder) / name).write_bytes(b"")
            (Path(folder) / "sub").mkdir()
            cases = [  # words, what is offered
                (["brrdecode", "--rul"], ["--rules"]),
                (["brrencode", "--rules", ""], ["hardware", "library"]),
                (["brrencode", "--effort", ""], ["best", "default", "fast"]),
                (["brrencode", "--loop-fit", ""], ["auto", "repeat", "resample"]),
                (["brrencode", "--loop", ""], ["auto"]),
                (["brrdecode", "--root-note", "C#4"], ["C#4"]),
                (["brrdecode", ""], ["B.BRR", "a.brr", "sub"]),
                (["brrencode", ""], ["c.wav", "d.flac", "e.aiff", "sub"]),
                (["brrscan", ""], ["B.BRR", "a.brr", "c.wav", "d.flac", "e.aiff", "f.txt", "sub"]),
                (["brrdecode", "-d", ""], ["sub"]),
                (["brrscan", "--extract", ""], ["sub"]),
                (["brrinsert", "--in-p"], ["--in-place"]),
            ]
            for words, expected in cases:
                if TOOLS[words[0]] is None:
                    continue
                with self.subTest(words=words):
                    self.assertEqual(offered(folder, *words), expected)
            for name, tool in TOOLS.items():
                if tool is not None:
                    with self.subTest(name):
                        longs = {o for o in test_docs.help_options(tool) if o.startswith("--")}
                        self.assertEqual(set(offered(folder, name, "--")), longs)


if __name__ == "__main__":
    unittest.main()
