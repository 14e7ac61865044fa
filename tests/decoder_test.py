#!/usr/bin/env python3
"""What real players make of marlet's output.

marlet copies frames without decoding them, so the proof that its output is
right is that independent decoders play it: every frame, no resync, the tone
the sample generator put in.

  decoder_test.py ffmpeg|mpg123|agreement

Each group exits with status 77 (a skip to ctest) when a decoder it needs is
not installed. MARLET and MAKE_PASC name the binaries.
"""
import array
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import warnings

MARLET = os.path.abspath(os.environ["MARLET"])
MAKE_PASC = os.path.abspath(os.environ["MAKE_PASC"])

SAMPLES_PER_FRAME = 384
CHANNELS = 2
RATE = 44100
TONE = RATE / 128  # subband 0 carries a four-sample cycle at the subband rate

# name: (records, generator options)
FIXTURES = {
    "seconds": (500, []),
    "ten-minutes": (68900, []),
    "all-padded": (300, ["--padding", "p"]),
    "none-padded": (300, ["--padding", "u"]),
    "tail-419": (300, ["--tail", "419"]),
    "filler-00": (300, ["--filler", "0x00"]),
    "filler-FF": (300, ["--filler", "0xFF"]),
}

GROUPS = {"ffmpeg": ["ffmpeg", "ffprobe"], "mpg123": ["mpg123"],
          "agreement": ["ffmpeg", "mpg123"]}


def convert_fixtures(folder):
    """Makes every fixture and converts it; returns name -> (records, .mp1 path)."""
    converted = {}
    for name, (records, options) in FIXTURES.items():
        source = os.path.join(folder, name + ".pas")
        subprocess.run([MAKE_PASC, "--records", str(records), *options, source], check=True)
        subprocess.run([MARLET, source], check=True, capture_output=True)
        converted[name] = (records, os.path.join(folder, name + ".mp1"))
    return converted


def run(argv):
    completed = subprocess.run(argv, capture_output=True, check=False)
    return completed.returncode, completed.stdout, completed.stderr.decode(errors="replace")


def ffmpeg_pcm(path):
    status, pcm, messages = run(["ffmpeg", "-nostdin", "-v", "warning", "-i", path,
                                 "-f", "s16le", "-acodec", "pcm_s16le", "-"])
    # Any raw stream has its duration estimated: harmless.
    messages = [line for line in messages.splitlines()
                if "Estimating duration from bitrate" not in line]
    return status, pcm, messages


def mpg123_pcm(path):
    status, pcm, messages = run(["mpg123", "-q", "-s", path])
    return status, pcm, messages.splitlines()


def peak_frequency(pcm):
    """The loudest frequency, in 5 Hz steps, of 4096 left-channel samples from
    the middle of the audio."""
    samples = array.array("h", pcm)
    middle = len(samples) // 2 // CHANNELS * CHANNELS
    window = samples[middle:middle + 2 * 4096:CHANNELS]

    def power(frequency):
        coefficient = 2 * math.cos(2 * math.pi * frequency / RATE)
        previous = before = 0.0
        for sample in window:
            previous, before = sample + coefficient * previous - before, previous
        return previous * previous + before * before - coefficient * previous * before

    return max(range(50, 5000, 5), key=power)


def largest_difference(first, second):
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            import audioop  # C speed, where this Python still has it
        return audioop.max(audioop.add(first, audioop.mul(second, 2, -1), 2), 2)
    except ImportError:
        return max(abs(a - b) for a, b in zip(array.array("h", first), array.array("h", second)))


class Decoders(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="marlet-decoders-")
        cls.fixtures = convert_fixtures(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def assertDecodesEverySample(self, decode):
        for name, (records, path) in self.fixtures.items():
            with self.subTest(fixture=name):
                status, pcm, messages = decode(path)
                self.assertEqual((status, messages), (0, []))
                self.assertEqual(len(pcm), records * SAMPLES_PER_FRAME * CHANNELS * 2)


class Ffmpeg(Decoders):
    def test_counts_every_frame(self):
        for name, (records, path) in self.fixtures.items():
            with self.subTest(fixture=name):
                status, out, messages = run(["ffprobe", "-v", "error", "-count_frames",
                                             "-show_entries", "stream=codec_name,nb_read_frames",
                                             "-of", "default=nw=1", path])
                self.assertEqual((status, messages), (0, ""))
                self.assertEqual(out.decode().split(),
                                 ["codec_name=mp1", "nb_read_frames=%d" % records])

    def test_decodes_every_sample_without_complaint(self):
        self.assertDecodesEverySample(ffmpeg_pcm)


class Mpg123(Decoders):
    def test_counts_every_frame_without_resync(self):
        for name, (records, path) in self.fixtures.items():
            with self.subTest(fixture=name):
                status, _, messages = run(["mpg123", "-t", "-v", path])
                self.assertEqual(status, 0)
                # Without -q it would say "Illegal Audio-MPEG-Header" and "resync".
                self.assertNotRegex(messages, r"(?i)illegal|resync|skipp|warning|error")
                decoded, left = re.findall(r"> (\d+)\+(\d+) ", messages)[-1]
                self.assertEqual((int(decoded), int(left)), (records, 0))

    def test_decodes_every_sample_without_complaint(self):
        self.assertDecodesEverySample(mpg123_pcm)


class Agreement(Decoders):
    def test_both_decoders_hear_the_same_tone(self):
        for name, (_, path) in self.fixtures.items():
            with self.subTest(fixture=name):
                _, from_ffmpeg, _ = ffmpeg_pcm(path)
                _, from_mpg123, _ = mpg123_pcm(path)
                self.assertEqual(len(from_ffmpeg), len(from_mpg123))
                # They round differently, by one step at the most.
                self.assertLessEqual(largest_difference(from_ffmpeg, from_mpg123), 1)
                self.assertAlmostEqual(peak_frequency(from_ffmpeg), TONE, delta=10)


def main():
    group = sys.argv[1] if len(sys.argv) == 2 else None
    if group not in GROUPS:
        sys.exit("usage: decoder_test.py " + "|".join(GROUPS))
    missing = [tool for tool in GROUPS[group] if shutil.which(tool) is None]
    if missing:
        print("skipped: not installed: " + ", ".join(missing))
        sys.exit(77)
    case = {"ffmpeg": Ffmpeg, "mpg123": Mpg123, "agreement": Agreement}[group]
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
