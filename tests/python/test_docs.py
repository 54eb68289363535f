"""The manual pages against the tools: every option of --help in the page's
OPTIONS and no other, the pages clean under mandoc's lint, and rendered by
man."""
import os
import re
import shutil
import subprocess
import unittest
from pathlib import Path

PAGES = Path(os.environ["VORNISH_MAN"])
TOOLS = {name: os.environ.get(name.upper()) for name in ("brrdecode", "brrencode", "brrscan", "brrinsert")}


CONSOLE_LINES = {
    "brrdecode.1": ("Number of BRR blocks to decode : N.", "Done !", "Looping is unstable,"),
    "brrencode.1": ("Number of BRR blocks written : N.", "SNR : X dB.", "Done !"),
}


def help_options(tool):
    text = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True).stdout
    found = set()
    for line in text.splitlines():
        m = re.match(r"^ {2}(?:(-\w), )? *(--[\w-]+)", line)
        if m and line[2:8].strip().startswith("-"):
            found.update(o for o in m.groups() if o)
    return found


def page_options(page):
    text = page.read_text()
    section = text[text.index(".Sh OPTIONS"):text.index(".Sh", text.index(".Sh OPTIONS") + 1)]
    found = set()
    for line in section.splitlines():
        if line.startswith(".It Fl"):
            for flag in re.findall(r"Fl (\\?-?[\w-]+)", line):
                found.add("--" + flag[2:] if flag.startswith("\\-") else "-" + flag)
    return found


class ManualPages(unittest.TestCase):
    def test_options_are_those_of_help(self):
        for name, tool in TOOLS.items():
            if tool is None:
                continue
            with self.subTest(name):
                self.assertEqual(page_options(PAGES / f"{name}.1"), help_options(tool))

    @unittest.skipUnless(shutil.which("mandoc"), "apt-get install mandoc")
    def test_lint_is_clean_and_man_renders(self):
        for page in sorted(PAGES.glob("*.[13]")):
            with self.subTest(page.name):
                lint = subprocess.run(["mandoc", "-T", "lint", "-W", "warning", page], capture_output=True, text=True)
                self.assertEqual((lint.returncode, lint.stdout + lint.stderr), (0, ""))
                if shutil.which("man"):
                    shown = subprocess.run(["man", "-l", page], capture_output=True, text=True,
                                           env={**os.environ, "MANPAGER": "cat", "MANWIDTH": "80"})
                    self.assertEqual(shown.returncode, 0, shown.stderr)
                    self.assertIn("SYNOPSIS", shown.stdout)
                    for line in CONSOLE_LINES.get(page.name, ()):  # rendered as the tool prints it
                        self.assertRegex(shown.stdout, "[\u2018`']" + re.escape(line) + "[\u2019']")


class Examples(unittest.TestCase):
    def test_bundled_files_the_pages_name_exist(self):
        named = [(page.name, word) for page in PAGES.glob("*.1") for line in page.read_text().splitlines()
                 if line.startswith(".Dl ") for word in line.split() if word.startswith("examples/")]
        self.assertIn("brrdecode.1", {page for page, _ in named})
        for page, word in named:
            self.assertTrue((PAGES.parent.parent / word).is_file(), f"{page}: {word}")


class Readme(unittest.TestCase):
    def test_installing_names_every_tool(self):
        text = (PAGES.parent.parent / "README.md").read_text()
        installing = text[text.index("### Installing"):text.index("**Debian packages.**")]
        for name in TOOLS:
            self.assertIn(f"`bin/{name}`", installing)


if __name__ == "__main__":
    unittest.main()
