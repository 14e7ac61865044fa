#!/usr/bin/env python3
"""The manual page is clean roff, and it and the README say what the tool does:
every message the tool prints and every exit status it ends with, taken from
real runs, must stand in both, so that they cannot drift apart.

MARLET, MAKE_PASC, MANUAL (the configured page) and README name the files.
"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

MARLET = os.path.abspath(os.environ["MARLET"])
MAKE_PASC = os.path.abspath(os.environ["MAKE_PASC"])
MANUAL = os.environ["MANUAL"]
README = os.environ["README"]


def normalized(text):
    return " ".join(text.split())


def manual_text():
    rendered = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", MANUAL], check=True,
                              capture_output=True, text=True).stdout
    return rendered


def readme_text():
    with open(README) as readme:
        return readme.read().replace("`", "").replace("<br>", " ")


class Manual(unittest.TestCase):
    def test_is_clean_under_groff_warnings(self):
        completed = subprocess.run(["groff", "-man", "-ww", "-z", MANUAL], capture_output=True)
        self.assertEqual((completed.returncode, completed.stdout, completed.stderr), (0, b"", b""))


class Messages(unittest.TestCase):
    """Runs the tool into each of its messages; the fixed parts of each (all but
    the file names and byte values) must appear in the page and the README."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="marlet-doc-")
        cls.messages = []  # (what the tool wrote, the parts that vary)
        cls.statuses = set()

        def run(*arguments, wrapper=()):
            # A sanitized build's leak check cannot run under a tracer.
            environment = {**os.environ, "ASAN_OPTIONS": "detect_leaks=0"} if wrapper else None
            completed = subprocess.run([*wrapper, MARLET, *arguments], cwd=cls.folder,
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                       env=environment)
            cls.statuses.add(completed.returncode)
            return completed.stderr + completed.stdout

        def make_pasc(name, records=2):
            subprocess.run([MAKE_PASC, "--records", str(records), os.path.join(cls.folder, name)],
                           check=True)

        def note(output, *names, counts=False):
            varying = [re.escape(name) for name in names] + ([r"\d+"] if counts else [])
            cls.messages.append((output, varying))

        note(run())
        make_pasc("good.pas")
        note(run("good.pas"), "good.pas", "good.mp1", counts=True)
        note(run("absent.pas"), "absent.pas")
        with open(os.path.join(cls.folder, "noise.pas"), "wb") as noise:
            noise.write(b"\xab\xcd")
        note(run("noise.pas"), "noise.pas", "AB", "CD")
        make_pasc("self.mp1")
        note(run("self.mp1"), "self.mp1")
        make_pasc("blocked.pas")
        os.mkdir(os.path.join(cls.folder, "blocked.mp1"))
        note(run("blocked.pas"), "blocked.pas", "blocked.mp1")
        make_pasc("full.pas")
        os.symlink("/dev/full", os.path.join(cls.folder, "full.mp1"))
        note(run("full.pas"), "full.pas", "full.mp1", counts=True)
        if shutil.which("strace"):
            make_pasc("failing.pas", 2000)
            note(run("failing.pas", wrapper=["strace", "-o", "/dev/null", "-e",
                                             "inject=read:error=EIO:when=3+", "-P",
                                             os.path.join(cls.folder, "failing.pas")]),
                 "failing.pas", "failing.mp1", counts=True)
        # Out of memory cannot be caused on demand: take its text from the binary.
        with open(MARLET, "rb") as binary:
            found = re.search(rb"Error allocating memory for output filename for %s", binary.read())
        note(found.group().decode() if found else "", "%s")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def assertNamesEveryMessage(self, document, text):
        text = normalized(text)
        for output, varying in self.messages:
            self.assertTrue(output)
            # ": " ends a file name, and the next message may follow it on the line.
            for part in re.split("|".join([r"\n", r"\x08", ": "] + varying), output):
                part = normalized(part)
                if len(part) > 3:  # K, ->, : and the like say nothing on their own
                    with self.subTest(document=document, part=part):
                        self.assertTrue(part in text, f"{part!r} is missing")

    def test_the_manual_names_every_message(self):
        self.assertNamesEveryMessage("manual", manual_text())

    def test_the_readme_names_every_message(self):
        self.assertNamesEveryMessage("README", readme_text())

    def test_both_name_exactly_the_exit_statuses(self):
        self.assertEqual(self.statuses, {0, 1, 2})
        section = manual_text().split("EXIT STATUS")[1].split("EXAMPLES")[0]
        self.assertEqual(set(map(int, re.findall(r"^ {7}(\d+) ", section, re.M))), self.statuses)
        section = readme_text().split("## Exit status")[1].split("\n## ")[0]
        self.assertEqual(set(map(int, re.findall(r"^\| (\d+) \|", section, re.M))), self.statuses)


if __name__ == "__main__":
    unittest.main()
