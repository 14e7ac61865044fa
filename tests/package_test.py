#!/usr/bin/env python3
"""The Debian package: built from this build folder with cpack, unpacked with
dpkg-deb, its binary must convert a sample exactly as the build's own does.

CPACK, BUILD_DIR, VERSION, MARLET and MAKE_PASC come from the build.
"""
import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

CPACK = os.environ["CPACK"]
BUILD_DIR = os.environ["BUILD_DIR"]
VERSION = os.environ["VERSION"]
MARLET = os.path.abspath(os.environ["MARLET"])
MAKE_PASC = os.path.abspath(os.environ["MAKE_PASC"])


def output_of(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="marlet-package-")
        subprocess.run([CPACK, "-G", "DEB", "--config",
                        os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-B", cls.folder],
                       check=True, capture_output=True)
        architecture = output_of("dpkg", "--print-architecture").strip()
        cls.deb = os.path.join(cls.folder, f"marlet_{VERSION}_{architecture}.deb")
        cls.root = os.path.join(cls.folder, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_describes_itself(self):
        field = lambda name: output_of("dpkg-deb", "-f", self.deb, name).strip()
        self.assertEqual(field("Package"), "marlet")
        self.assertEqual(field("Version"), VERSION)
        self.assertEqual(field("Section"), "sound")
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^<>@]+@[^<>@]+>$")
        self.assertRegex(field("Depends"), r"\blibc6 \(>= ")
        summary, *long_description = field("Description").splitlines()
        self.assertTrue(summary)
        self.assertGreaterEqual(len(long_description), 2)

    def test_holds_the_tool_its_manual_and_readme(self):
        files = sorted(os.path.relpath(os.path.join(top, name), self.root)
                       for top, _, names in os.walk(self.root) for name in names)
        self.assertEqual(files, ["usr/bin/marlet", "usr/share/doc/marlet/README.md",
                                 "usr/share/man/man1/marlet.1.gz"])
        sections = output_of("readelf", "-S", os.path.join(self.root, "usr/bin/marlet"))
        self.assertNotIn(".symtab", sections, "the binary is not stripped")

    def test_manual_is_compressed_clean_and_of_this_version(self):
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/marlet.1.gz")) as page:
            source = page.read()
        lint = subprocess.run(["groff", "-man", "-ww", "-z"], input=source, capture_output=True)
        self.assertEqual((lint.returncode, lint.stdout, lint.stderr), (0, b"", b""))
        self.assertIn(f'"marlet {VERSION}"'.encode(), source.splitlines()[0])

    def test_converts_as_the_build_does(self):
        results = []
        for marlet in (MARLET, os.path.join(self.root, "usr/bin/marlet")):
            folder = tempfile.mkdtemp(dir=self.folder)
            subprocess.run([MAKE_PASC, "--records", "250", "--tail", "100",
                            os.path.join(folder, "tape.pas")], check=True)
            run = subprocess.run([marlet, "tape.pas", "missing.pas"], cwd=folder,
                                 capture_output=True)
            with open(os.path.join(folder, "tape.mp1"), "rb") as converted:
                results.append((run.returncode, run.stderr, run.stdout, converted.read()))
        self.assertEqual(results[0], results[1])
        self.assertTrue(results[1][1].startswith(f"marlet {VERSION}\n\n".encode()))


if __name__ == "__main__":
    unittest.main()
