#!/usr/bin/env python3
"""End-to-end tests: the built marlet runs in a fresh scratch folder per test,
and its standard error, standard output, exit status and output bytes are
compared exactly.

MARLET and MAKE_PASC name the binaries under test and the sample generator.
"""
import os
import pty
import select
import shutil
import subprocess
import tempfile
import time
import unittest

MARLET = os.path.abspath(os.environ["MARLET"])
MAKE_PASC = os.path.abspath(os.environ["MAKE_PASC"])

RECORD = 420
BLOCK = 100 * RECORD
# The size of the buffer that marlet gives each file stream: where a failure
# strikes mid-file, it decides how much reached the output.
STREAM_BUFFER = 256 * 1024

BANNER = b"marlet 2.00\n\n"
SYNTAX = (b"Syntax: marlet inputfile [inputfile...]\n\n"
          b"Target files have their name changed to *.mp1 and are stored in the same\n"
          b"folder as the source file\n")
READ_ERROR = b"Error reading input, partial file processed"
WRITE_ERROR = b"Error writing output, partial file processed"


def frames(pasc):
    """What a converted file must hold: every whole record after the signature,
    cut to 416 bytes where its padding bit is clear."""
    stream = bytearray()
    for at in range(2, len(pasc) - RECORD + 1, RECORD):
        stream += pasc[at:at + (RECORD if pasc[at + 2] & 0x02 else 416)]
    return bytes(stream)


def counter(input_bytes):
    kibibytes = str(input_bytes >> 10).encode()
    return kibibytes + b"K\b" + b"\b" * len(kibibytes)


def console(records, output_bytes, blocks=None):
    """Standard output for a file of `records` whole records: a counter before
    each block, the last block reading none when the count is a multiple of 100,
    then the totals line."""
    if blocks is None:
        blocks = records // 100 + 1
    shown = b"".join(counter(2 + BLOCK * block) for block in range(blocks))
    return shown + b"%d input bytes, %d output bytes.\n" % (2 + RECORD * records, output_bytes)


class ScratchFolder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="marlet-test-")

    def tearDown(self):
        shutil.rmtree(self.folder)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as file:
            file.write(data)
        return data

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def make_pasc(self, name, records, *options):
        subprocess.run([MAKE_PASC, "--records", str(records), *options, self.path(name)],
                       check=True)
        return self.read(name)

    def marlet(self, *arguments, wrapper=(), **popen):
        if wrapper:
            # A sanitized build's leak check cannot run under a tracer.
            options = os.environ.get("ASAN_OPTIONS", "")
            popen["env"] = {**os.environ, "ASAN_OPTIONS": options + ":detect_leaks=0"}
        completed = subprocess.run([*wrapper, MARLET, *arguments], cwd=self.folder,
                                   stdin=subprocess.DEVNULL, capture_output=True, timeout=120,
                                   **popen)
        return completed.returncode, completed.stderr, completed.stdout

    def assertFiles(self, names):
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(names))


class Usage(ScratchFolder):
    def test_no_argument_shows_the_syntax(self):
        self.assertEqual(self.marlet(), (1, BANNER + SYNTAX, b""))
        self.assertFiles([])


class Conversion(ScratchFolder):
    def test_converts_every_whole_record(self):
        cases = [
            # records, generator options
            (0, []),  # the signature alone makes an empty stream
            (3, ["--padding", "uup"]),
            (100, []),  # ends with a read that brings nothing
            (250, ["--tail", "419"]),  # the cut record at the end is dropped
            (130, ["--padding", "p"]),
            (130, ["--padding", "u", "--filler", "0xFF"]),
        ]
        for records, options in cases:
            with self.subTest(records=records, options=options):
                pasc = self.make_pasc("tape.pas", records, *options)
                expected = frames(pasc)
                self.assertEqual(self.marlet("tape.pas"),
                                 (0, BANNER + b"tape.pas -> tape.mp1: \n",
                                  console(records, len(expected))))
                self.assertEqual(self.read("tape.mp1"), expected)
                self.assertEqual(self.read("tape.pas"), pasc)

    def test_unpadded_frames_lose_their_filler(self):
        pasc = self.make_pasc("t.pas", 3, "--padding", "uup", "--filler", "0xEE")
        self.marlet("t.pas")
        records = [pasc[2 + RECORD * r:2 + RECORD * (r + 1)] for r in range(3)]
        self.assertEqual(self.read("t.mp1"), records[0][:416] + records[1][:416] + records[2])

    def test_output_lands_beside_its_input(self):
        os.makedirs(self.path("old.dir"))
        pasc = self.make_pasc("old.dir/track", 5)
        status, stderr, _ = self.marlet("old.dir/track")
        self.assertEqual((status, stderr), (0, BANNER + b"old.dir/track -> old.dir/track.mp1: \n"))
        self.assertEqual(self.read("old.dir/track.mp1"), frames(pasc))

    def test_three_files_with_the_middle_one_bad(self):
        first = self.make_pasc("one.pas", 10)
        self.write("two.pas", b"\xff\xfb" + first[2:])
        third = self.make_pasc("three.pas", 20)
        status, stderr, stdout = self.marlet("one.pas", "two.pas", "three.pas")
        self.assertEqual(status, 2)
        self.assertEqual(stderr, BANNER + b"one.pas -> one.mp1: \n"
                         b"File two.pas does not seem to be a PASC file (Starts with \\xFF \\xFB\n"
                         b" instead of 2C 00)\n"
                         b"three.pas -> three.mp1: \n")
        self.assertEqual(stdout, console(10, len(frames(first))) +
                         console(20, len(frames(third))))
        self.assertEqual(self.read("one.mp1"), frames(first))
        self.assertEqual(self.read("three.mp1"), frames(third))
        self.assertFiles(["one.pas", "one.mp1", "two.pas", "three.pas", "three.mp1"])

    def test_an_existing_output_is_replaced(self):
        self.write("track.mp1", b"x" * 100000)
        pasc = self.make_pasc("track.pas", 2)
        self.assertEqual(self.marlet("track.pas")[0], 0)
        self.assertEqual(self.read("track.mp1"), frames(pasc))

    def test_the_later_of_two_inputs_with_one_output_name_wins(self):
        self.make_pasc("track.pas", 4)
        dat = self.make_pasc("track.dat", 7, "--padding", "p")
        status, stderr, _ = self.marlet("track.pas", "track.dat")
        self.assertEqual((status, stderr), (0, BANNER + b"track.pas -> track.mp1: \n"
                                            b"track.dat -> track.mp1: \n"))
        self.assertEqual(self.read("track.mp1"), frames(dat))


class BadInput(ScratchFolder):
    """Each gets one message and status 2; the input is never changed."""

    def assertRejected(self, arguments, message, files):
        before = {name: self.read(name) for name in files if os.path.isfile(self.path(name))}
        self.assertEqual(self.marlet(*arguments), (2, BANNER + message, b""))
        self.assertFiles(files)
        for name, data in before.items():
            self.assertEqual(self.read(name), data, name)

    def test_inputs_that_cannot_be_read(self):
        os.mkdir(self.path("folder"))
        self.assertRejected(["missing.pas"], b"missing.pas: error opening file for input.\n",
                            ["folder"])
        self.assertRejected([""], b": error opening file for input.\n", ["folder"])
        self.assertRejected(["folder"], b"folder: error opening file for input.\n", ["folder"])

    def test_files_without_the_signature(self):
        cases = [
            (b"\xff\xfb\x90\x00", b"\\xFF \\xFB"),
            (b"\x2c\x01" + bytes(420), b"\\x2C \\x01"),
            (b"\x2c", b"\\x2C \\x--"),
            (b"", b"\\x-- \\x--"),
        ]
        for data, shown in cases:
            with self.subTest(shown=shown):
                self.write("bad.pas", data)
                self.assertRejected(["bad.pas"], b"File bad.pas does not seem to be a PASC file "
                                    b"(Starts with " + shown + b"\n instead of 2C 00)\n",
                                    ["bad.pas"])

    def test_outputs_that_cannot_be_created(self):
        self.make_pasc("track.pas", 3)
        os.mkdir(self.path("track.mp1"))
        self.assertRejected(["track.pas"], b"track.mp1: error opening file for output\n",
                            ["track.pas", "track.mp1"])
        long_name = "n" * 253  # its output name is past the file-name limit of 255
        self.make_pasc(long_name, 3)
        self.assertRejected([long_name], long_name.encode() +
                            b".mp1: error opening file for output\n",
                            ["track.pas", "track.mp1", long_name])

    def test_an_output_that_is_the_input(self):
        pasc = self.make_pasc("tape.mp1", 3)
        self.make_pasc("hard.pas", 3)
        os.link(self.path("hard.pas"), self.path("hard.mp1"))
        self.make_pasc("soft.pas", 3)
        os.symlink("soft.pas", self.path("soft.mp1"))
        files = ["tape.mp1", "hard.pas", "hard.mp1", "soft.pas", "soft.mp1"]
        for name in ("tape.mp1", "hard.pas", "soft.pas"):
            output = name.replace(".pas", ".mp1")
            with self.subTest(name=name):
                self.assertRejected([name], output.encode() +
                                    b": output file is the same as the input file\n", files)
        self.assertEqual(self.read("tape.mp1"), pasc)


class FailuresMidFile(ScratchFolder):
    def test_full_disk(self):
        # A single frame stays in the stream's buffer until the output is
        # closed: only the close can tell that it never reached the disk.
        self.make_pasc("one.pas", 1, "--padding", "u")
        os.symlink("/dev/full", self.path("one.mp1"))
        self.assertEqual(self.marlet("one.pas"),
                         (2, BANNER + b"one.pas -> one.mp1: " + WRITE_ERROR + b"\n",
                          console(1, 416)))

        # A larger file fails when the buffer first fills, in the seventh block;
        # nothing is read after it.
        self.make_pasc("big.pas", 2000, "--padding", "u")
        os.symlink("/dev/full", self.path("big.mp1"))
        self.assertEqual(self.marlet("big.pas"),
                         (2, BANNER + b"big.pas -> big.mp1: " + WRITE_ERROR + b"\n",
                          console(700, STREAM_BUFFER, blocks=7)))

    def test_a_disk_that_fills_keeps_what_was_written(self):
        # A real file system of 64 KiB, mounted for this test; the output name
        # leads there through a symbolic link.
        disk = self.path("disk")
        os.mkdir(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a small file system: " + mounted.stderr.decode().strip())
        try:
            pasc = self.make_pasc("big.pas", 2000, "--padding", "u")
            os.symlink("disk/big.mp1", self.path("big.mp1"))
            self.assertEqual(self.marlet("big.pas"),
                             (2, BANNER + b"big.pas -> big.mp1: " + WRITE_ERROR + b"\n",
                              console(700, STREAM_BUFFER, blocks=7)))
            self.assertEqual(self.read("disk/big.mp1"), frames(pasc)[:64 * 1024])
            self.assertEqual(self.read("big.pas"), pasc)
        finally:
            subprocess.run(["umount", disk], check=True)

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_read_error(self):
        pasc = self.make_pasc("tape.pas", 2000)
        # The first two reads fill the stream's buffer; the third fails.
        strace = ["strace", "-f", "-o", "/dev/null", "-P", self.path("tape.pas"),
                  "-e", "inject=read:error=EIO:when=3+"]
        status, stderr, stdout = self.marlet("tape.pas", wrapper=strace)
        records = (2 * STREAM_BUFFER - 2) // RECORD
        expected = frames(pasc[:2 + RECORD * records])
        self.assertEqual((status, stderr, stdout),
                         (2, BANNER + b"tape.pas -> tape.mp1: " + READ_ERROR + b"\n",
                          console(records, len(expected))))
        self.assertEqual(self.read("tape.mp1"), expected)
        self.assertEqual(self.read("tape.pas"), pasc)

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_read_and_write_errors_share_one_line(self):
        self.make_pasc("tape.pas", 2000, "--padding", "u")
        os.symlink("/dev/full", self.path("tape.mp1"))
        strace = ["strace", "-f", "-o", "/dev/null", "-P", self.path("tape.pas"),
                  "-e", "inject=read:error=EIO:when=2+"]
        status, stderr, stdout = self.marlet("tape.pas", wrapper=strace)
        records = (STREAM_BUFFER - 2) // RECORD
        self.assertEqual((status, stderr, stdout),
                         (2, BANNER + b"tape.pas -> tape.mp1: " + READ_ERROR + WRITE_ERROR + b"\n",
                          console(records, 416 * records)))


class Console(ScratchFolder):
    def test_both_streams_into_one_file_keep_the_console_order(self):
        one = self.make_pasc("one.pas", 150)
        two = self.make_pasc("two.pas", 20)
        with open(self.path("log"), "wb") as log:
            completed = subprocess.run([MARLET, "one.pas", "missing", "two.pas"], cwd=self.folder,
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.assertEqual(completed.returncode, 2)
        self.assertEqual(self.read("log"), BANNER +
                         b"one.pas -> one.mp1: " + console(150, len(frames(one))) + b"\n" +
                         b"missing: error opening file for input.\n" +
                         b"two.pas -> two.mp1: " + console(20, len(frames(two))) + b"\n")

    def test_the_counter_shows_while_the_input_is_read(self):
        os.mkfifo(self.path("live.pas"))
        pasc = self.make_pasc("tape", 200)
        master, slave = pty.openpty()
        process = subprocess.Popen([MARLET, "live.pas"], cwd=self.folder,
                                   stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
        os.close(slave)
        screen = bytearray()

        def read_until(expected, deadline=30):
            end = time.monotonic() + deadline
            while not screen.endswith(expected):
                ready, _, _ = select.select([master], [], [], max(0, end - time.monotonic()))
                self.assertTrue(ready, f"no {expected!r} on the terminal; it shows {bytes(screen)!r}")
                try:
                    screen.extend(os.read(master, 4096))
                except OSError:  # the last holder of the terminal has gone
                    self.fail(f"no {expected!r}; the terminal showed {bytes(screen)!r}")

        try:
            with open(self.path("live.pas"), "wb", buffering=0) as fifo:
                fifo.write(pasc[:2 + BLOCK])
                read_until(b"live.pas -> live.mp1: 0K\b\b")
                fifo.write(pasc[2 + BLOCK:])
                read_until(b"41K\b\b\b")
            totals = b"84002 input bytes, %d output bytes.\r\n\r\n" % len(frames(pasc))
            read_until(totals)
            self.assertEqual(process.wait(timeout=30), 0)
        finally:
            process.kill()
            process.wait()
            os.close(master)
        # The terminal turns each line feed into a carriage return and line feed.
        self.assertEqual(bytes(screen), b"marlet 2.00\r\n\r\nlive.pas -> live.mp1: "
                         b"0K\b\b41K\b\b\b82K\b\b\b" + totals)
        self.assertEqual(self.read("live.mp1"), frames(pasc))

    def test_closed_standard_descriptors_do_not_leak_into_the_output(self):
        # Left closed, descriptors 0 and 1 would be handed to the input and the
        # output, and the counter would be written into the converted file.
        pasc = self.make_pasc("tape.pas", 3)
        completed = subprocess.run([MARLET, "tape.pas"], cwd=self.folder, stderr=subprocess.PIPE,
                                   preexec_fn=lambda: (os.close(0), os.close(1)))
        self.assertEqual((completed.returncode, completed.stderr),
                         (0, BANNER + b"tape.pas -> tape.mp1: \n"))
        self.assertEqual(self.read("tape.mp1"), frames(pasc))


class PastFourGiB(ScratchFolder):
    def test_counts_stay_exact_past_32_bits(self):
        # A sparse file of zeroed records: each is unpadded, so it keeps 416 bytes.
        records = 10_240_000
        with open(self.path("long.pas"), "wb") as pasc:
            pasc.write(b"\x2c\x00")
            pasc.truncate(2 + RECORD * records)
        os.symlink("/dev/null", self.path("long.mp1"))
        self.assertEqual(self.marlet("long.pas"),
                         (0, BANNER + b"long.pas -> long.mp1: \n", console(records, 416 * records)))
        self.assertGreater(2 + RECORD * records, 1 << 32)


if __name__ == "__main__":
    unittest.main()
