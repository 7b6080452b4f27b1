#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The Python reader of data files (python/ferrun_kdx.py) against the program's own reader:
every recording is read by both, and the codes, photodiode states, times and degrees must be
exactly the values `ferrun-cli export` prints, the header and texts those `ferrun-cli info`
prints, and every refused file refused by both with the same cause. Recordings of every kind
are made by `ferrun-cli measure` and `cycle` on the built-in simulator (the program's writer);
edge cases the board never produces are written here byte by byte.

Run by ctest with FERRUN_BIN_DIR, FERRUN_SOURCE_DIR and python/ on PYTHONPATH.
"""

import hashlib
import io
import os
import struct
import subprocess
import sys
import tempfile
import threading
import tracemalloc
import unittest

import numpy as np

import ferrun_kdx

BIN_DIR = os.environ.get("FERRUN_BIN_DIR", "")
SOURCE_DIR = os.environ.get("FERRUN_SOURCE_DIR", "")
CLI = os.path.join(BIN_DIR, "ferrun-cli")
CORPUS = os.path.join(SOURCE_DIR, "fuzz", "corpus", "datafile")

TIME_TITLE = "Время, мкс".encode("cp1251")
VALUE_TITLE = "Температура".encode("cp1251")

# Recordings made once for the whole module: name -> arguments of ferrun-cli.
FAST = ["--freq", "241731"]
MEASUREMENTS = {
    "full-t1t3.kdx": ["measure", "--channels", "1,3", *FAST, "--comment", "нагрев\r\nline2"],
    "short-t2.kdx": ["measure", "--short", "--channels", "2"],
    "averaged-all-500.kdx": ["measure", "--average", *FAST, "--range", "500"],
    # 60000 bytes of seven channels: 4285 frames and 10 bytes that belong to none.
    "block-all.kdx": ["measure", "--samples", "30000", *FAST],
    "two-blocks-t4t7.kdx": ["measure", "--samples", "60000", "--channels", "4,7",
                            "--freq", "100000"],
    "cycles-one-file.kdx": ["cycle", "--count", "2", "--one-file", "--channels", "5",
                            "--time", "124"],
    "cycle.kdx": ["cycle", "--count", "2", "--channels", "2,6", "--time", "124"],
}
MADE = {}
WORK = None


def setUpModule():
    global WORK
    if not os.access(CLI, os.X_OK):
        raise RuntimeError(f"ferrun-cli not found at {CLI!r} (FERRUN_BIN_DIR)")
    WORK = tempfile.TemporaryDirectory(prefix="ferrun-kdx-")
    # The simulator runs in each process: the recordings are made side by side.
    runs = {
        name: subprocess.Popen(
            [CLI, args[0], "--simulator", "-o", os.path.join(WORK.name, name), *args[1:]],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for name, args in MEASUREMENTS.items()
    }
    for name, run in runs.items():
        _, err = run.communicate(timeout=120)
        if run.returncode != 0:
            raise RuntimeError(f"ferrun-cli {name}: exit {run.returncode}: {err.decode()}")
    for name in sorted(os.listdir(WORK.name)):
        MADE[name] = os.path.join(WORK.name, name)


def tearDownModule():
    WORK.cleanup()


def cli(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=120)


def export(path, *options):
    """The CSV of `ferrun-cli export`: its column names and a float array of its rows."""
    run = cli("export", path, *options)
    if run.returncode != 0:
        raise AssertionError(f"export {path} {options}: {run.stderr.decode()}")
    lines = run.stdout.decode().splitlines()
    # float() reads the shortest form back to the very binary64 written.
    names = lines[0].split(",")
    rows = [[float(v) for v in line.split(",")] for line in lines[1:]]
    return names, np.array(rows, dtype=np.float64).reshape(len(rows), len(names))


def escaped(text):
    """Text as `ferrun-cli info` prints it."""
    out = []
    for c in text:
        u = ord(c)
        if c == "\\":
            out.append("\\\\")
        elif c in "\t\n\r":
            out.append({"\t": "\\t", "\n": "\\n", "\r": "\\r"}[c])
        elif u < 0x20 or 0x7F <= u <= 0x9F:
            out.append(f"\\x{u:02x}")
        else:
            out.append(c)
    return "".join(out)


def data_file(bits=0x01, data=b"", interval=100.0, scale=250 / 4096, offset=0,
              x_title=TIME_TITLE, y_title=VALUE_TITLE, comment=b"", length=None):
    length = len(data) if length is None else length
    return (struct.pack("<HBBBIddi", 1, 0x10, 0x01, bits, length, interval, scale, offset)
            + x_title + b"\0" + y_title + b"\0" + data + comment)


def disk_state(folder):
    """Every file of `folder` with its size, change time and content."""
    state = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        st = os.lstat(path)
        digest = None
        if os.path.isfile(path) and not os.path.islink(path):
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
        state[name] = (st.st_mode, st.st_size, st.st_mtime_ns, st.st_ctime_ns, digest)
    return state


class ProgramChecks(unittest.TestCase):
    def assert_same_as_export(self, path, rec=None):
        """Codes, photodiode, times and degrees of `path` as `ferrun-cli export` gives them."""
        rec = ferrun_kdx.read(path) if rec is None else rec
        frames = rec.codes.shape[0]
        self.assertEqual(rec.codes.shape, (frames, len(rec.channels)))
        self.assertEqual(rec.codes.dtype, np.uint16)
        self.assertEqual(rec.photodiode.shape, (frames,))
        self.assertEqual(rec.time_s.shape, (frames,))
        # Frame 0 is not drawn: row p of the export is frame p + 1.
        rows = max(frames - 1, 0)

        names, adc = export(path, "--mode", "1", "--photodiode")
        self.assertEqual(names, ["x", *rec.channels, "FD"])
        self.assertEqual(adc.shape[0], rows)
        if rows:
            np.testing.assert_array_equal(adc[:, 0], np.arange(1, frames))
            np.testing.assert_array_equal(adc[:, 1:-1], rec.codes[1:])
            # The photodiode line: the largest code of the recording where the state is
            # set, the smallest where it is clear.
            levels = np.where(rec.photodiode[1:], rec.codes.max(), rec.codes.min())
            np.testing.assert_array_equal(adc[:, -1], levels)

        for mode, unit, degrees in (("0", "s", 250), ("2", "s", 500), ("2", "s", None)):
            ranged = ("--range", str(degrees)) if degrees else ()
            _, values = export(path, "--mode", mode, "--unit", unit, *ranged)
            self.assertEqual(values.shape[0], rows)
            if rows:
                if mode == "0":
                    np.testing.assert_array_equal(values[:, 0], rec.time_s[1:])
                np.testing.assert_array_equal(values[:, 1:], rec.temperatures(range=degrees)[1:])
        return rec

    def assert_same_as_info(self, path, rec):
        run = cli("info", path)
        self.assertEqual(run.returncode, 0, run.stderr)
        info = dict(line.split("=", 1) for line in run.stdout.decode().splitlines())
        for key in ("FileType", "ChartChannelBits", "DataLength", "ValueOffset"):
            self.assertEqual(rec.header[key], int(info[key]), key)
        for key in ("ChannelIntervalUs", "ValueScale"):
            np.testing.assert_equal(rec.header[key], float(info[key]), key)
        for key in ("XTitle", "YTitle"):
            self.assertEqual(escaped(rec.header[key]), info[key], key)
        self.assertEqual(escaped(rec.comment), info["Comment"])
        self.assertEqual(len(rec.comment), int(info["CommentBytes"]))

    def assert_refused_like_info(self, path, error=ferrun_kdx.KdxError):
        with self.assertRaises(error) as caught:
            ferrun_kdx.read(path)
        run = cli("info", path)
        self.assertEqual(run.returncode, 3, run.stdout)
        self.assertEqual(f"ferrun-cli info: {caught.exception}\n", run.stderr.decode())
        return caught.exception


class AgreesWithTheProgram(ProgramChecks):
    def test_recordings_of_every_kind(self):
        kinds = {
            "full-t1t3.kdx": (["T1", "T3"], False, 120000),
            "short-t2.kdx": (["T2"], False, 250),
            "averaged-all-500.kdx": ([f"T{n}" for n in range(1, 8)], True, 250),
            "block-all.kdx": ([f"T{n}" for n in range(1, 8)], False, 4285),
            "two-blocks-t4t7.kdx": (["T4", "T7"], False, 30000),
            "cycles-one-file.kdx": (["T5"], True, 3500),
            "cycle0000.kdx": (["T2", "T6"], True, 875),
            "cycle0001.kdx": (["T2", "T6"], True, 875),
        }
        self.assertEqual(sorted(MADE), sorted(kinds))
        for name, (channels, averaging, frames) in kinds.items():
            with self.subTest(name):
                rec = self.assert_same_as_export(MADE[name])
                self.assertEqual((rec.channels, rec.averaging, len(rec.codes)),
                                 (channels, averaging, frames))
                self.assert_same_as_info(MADE[name], rec)
                # With one code throughout, the FD column could not tell the states apart.
                self.assertLess(rec.codes.min(), rec.codes.max())
        rec = ferrun_kdx.read(MADE["full-t1t3.kdx"])
        self.assertEqual(rec.comment, "нагрев\r\nline2")
        self.assertTrue(rec.photodiode.any() and not rec.photodiode.all())

    def test_files_the_board_never_writes(self):
        # Bits 12..14 set, bit 15 in words other than a frame's first, an odd length with a
        # spare byte, titles with the unassigned byte 0x98 and one beyond the 65536 bytes
        # kept, a comment with lone LF, control characters and a backslash, a huge interval.
        words = np.arange(0, 0x10000, 2347, dtype="<u2")
        weird = data_file(bits=0xFF, data=words.tobytes() + b"\x07", interval=1e300,
                          x_title=b"\x98x" * 40000, y_title=b"a\x98\x01b",
                          comment=b"one\ntwo\r\\t\x98\x7f")
        cases = {
            "weird.kdx": weird,
            "no-channels.kdx": data_file(bits=0x80, data=b"\x01\x80" * 5),
            "before-any-recording.kdx": data_file(bits=0, interval=0.0, scale=0.0, x_title=b"",
                                                  y_title="единицы АЦП".encode("cp1251"),
                                                  comment=b"abc"),
            "one-frame.kdx": data_file(bits=0x41, data=b"\x10\x80\x20\x00"),
            "nan-interval.kdx": data_file(bits=0x04, data=b"\x01\x00\x02\x80\x03\x00",
                                          interval=float("nan"), offset=-7, scale=1.5),
        }
        with tempfile.TemporaryDirectory() as folder:
            for name, content in cases.items():
                path = os.path.join(folder, name)
                with open(path, "wb") as f:
                    f.write(content)
                with self.subTest(name):
                    rec = self.assert_same_as_export(path)
                    self.assert_same_as_info(path, rec)
            rec = ferrun_kdx.read(os.path.join(folder, "weird.kdx"))
            self.assertEqual(len(rec.header["XTitle"]), ferrun_kdx.MAX_TITLE_BYTES)
            self.assertEqual(rec.header["YTitle"], "a\ufffd\x01b")
            self.assertEqual(rec.comment, "one\ntwo\r\\t\ufffd\x7f")
            self.assertEqual(rec.codes.shape, (4, 7))
            np.testing.assert_array_equal(rec.codes.ravel(), words[:28] & 0x0FFF)
            empty = ferrun_kdx.read(os.path.join(folder, "no-channels.kdx"))
            self.assertEqual((empty.channels, empty.codes.shape), ([], (0, 0)))

    def test_file_objects_and_pipes(self):
        path = MADE["two-blocks-t4t7.kdx"]
        with open(path, "rb") as f:
            content = f.read()
        expected = ferrun_kdx.read(path)

        def same(rec):
            self.assertEqual(rec.header, expected.header)
            self.assertEqual(rec.comment, expected.comment)
            np.testing.assert_array_equal(rec.codes, expected.codes)
            np.testing.assert_array_equal(rec.photodiode, expected.photodiode)

        with open(path, "rb") as f:
            same(ferrun_kdx.read(f))
        # From the object's position on: a recording inside a larger stream.
        stream = io.BytesIO(b"prefix" + content)
        stream.seek(6)
        same(ferrun_kdx.read(stream))

        def through_pipe(data):
            read_end, write_end = os.pipe()

            def feed():
                with os.fdopen(write_end, "wb") as w:
                    w.write(data)

            writer = threading.Thread(target=feed)
            writer.start()
            try:
                with os.fdopen(read_end, "rb") as r:
                    return ferrun_kdx.read(r)
            finally:
                writer.join()

        same(through_pipe(content))
        # A pipe that ends inside the data: refused, with what arrived.
        with self.assertRaises(ferrun_kdx.TruncatedError) as caught:
            through_pipe(content[:5000])
        self.assertEqual((caught.exception.part, caught.exception.size), ("data", 5000))


class RefusesHostileFiles(ProgramChecks):
    def test_fuzz_corpus(self):
        names = sorted(os.listdir(CORPUS))
        self.assertGreater(len(names), 50)
        before = disk_state(CORPUS)
        accepted = 0
        for name in names:
            path = os.path.join(CORPUS, name)
            with self.subTest(name):
                try:
                    rec = ferrun_kdx.read(path)
                except ferrun_kdx.KdxError:
                    self.assert_refused_like_info(path)
                    continue
                accepted += 1
                self.assert_same_as_info(path, rec)
                self.assert_same_as_export(path, rec)
        self.assertGreater(accepted, 5)
        self.assertEqual(disk_state(CORPUS), before)

    def test_cut_and_lying_files(self):
        good = data_file(bits=0x07, data=bytes(range(256)) * 2, comment=b"comment")
        data_start = len(good) - 512 - 7
        huge = bytearray(good)
        huge[5:9] = b"\xff\xff\xff\xff"
        cases = {
            "empty.kdx": b"",
            "one-byte.kdx": b"\x01",
            "foreign.kdx": b"\x02\x00\x10\x01\x07" + b"x" * 100,
            "header-cut.kdx": good[:16],
            "header-28.kdx": good[:28],
            "header-29.kdx": good[:29],
            "inside-x-title.kdx": good[:35],
            "inside-y-title.kdx": good[:data_start - 1],
            "no-data.kdx": good[:data_start],
            "inside-data.kdx": good[:data_start + 499],
            "one-byte-short.kdx": good[:data_start + 511],
            "length-4gib.kdx": bytes(huge),
            "endless-title.kdx": good[:29] + b"x" * (1 << 20),
        }
        causes = {
            "empty.kdx": "is not an instrument data file (shorter than its 2-byte type)",
            "foreign.kdx": "is not an instrument data file (its type field is 2, not 1)",
            "header-28.kdx": "ends inside its header: 28 bytes, 29 needed",
            "endless-title.kdx": "ends inside its time-axis title: 1048605 bytes, 1048606 needed",
            "inside-data.kdx": f"ends inside its data: {data_start + 499} bytes,"
                               f" {data_start + 512} needed",
            "length-4gib.kdx": f"ends inside its data: {len(good)} bytes,"
                               f" {data_start + 0xFFFFFFFF} needed",
        }
        with tempfile.TemporaryDirectory() as folder:
            for name, content in cases.items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(content)
            before = disk_state(folder)
            for name, content in cases.items():
                path = os.path.join(folder, name)
                with self.subTest(name):
                    kind = ferrun_kdx.NotDataFileError if content[:2] != b"\x01\x00" \
                        else ferrun_kdx.TruncatedError
                    # Nothing is allocated for data the file does not hold, nor for a title
                    # beyond the part kept.
                    tracemalloc.start()
                    try:
                        error = self.assert_refused_like_info(path, kind)
                        peak = tracemalloc.get_traced_memory()[1]
                    finally:
                        tracemalloc.stop()
                    self.assertLess(peak, 1 << 20)
                    self.assertEqual(error.name, path)
                    if name in causes:
                        self.assertEqual(error.reason, causes[name])
            # A file cut inside its comment is whole, with a shorter comment.
            cut = os.path.join(folder, "comment-cut.kdx")
            with open(cut, "wb") as f:
                f.write(good[:-3])
            self.assertEqual(ferrun_kdx.read(cut).comment, "comm")
            after = disk_state(folder)
            del after["comment-cut.kdx"]
            self.assertEqual(after, before)

            # The same lies from a stream: memory grows only with the bytes that come.
            class Unseekable(io.RawIOBase):
                def __init__(self, data):
                    self.inner = io.BytesIO(data)

                def readable(self):
                    return True

                def readinto(self, b):
                    return self.inner.readinto(b)

            tracemalloc.start()
            try:
                with self.assertRaises(ferrun_kdx.TruncatedError) as caught:
                    ferrun_kdx.read(io.BufferedReader(Unseekable(bytes(huge))))
                peak = tracemalloc.get_traced_memory()[1]
            finally:
                tracemalloc.stop()
            self.assertLess(peak, 4 << 20)
            self.assertEqual(caught.exception.size, len(huge))
            self.assertEqual(str(caught.exception).split(" ", 1)[0], "<stream>")

    def test_only_regular_files_are_read(self):
        with tempfile.TemporaryDirectory() as folder:
            fifo = os.path.join(folder, "pipe.kdx")
            os.mkfifo(fifo)
            sub = os.path.join(folder, "folder.kdx")
            os.mkdir(sub)
            before = disk_state(folder)
            # A FIFO without a writer is refused at once, not waited on.
            error = self.assert_refused_like_info(fifo, ferrun_kdx.NotRegularFileError)
            self.assertEqual(error.reason, "is not a regular file (a FIFO)")
            error = self.assert_refused_like_info(sub, ferrun_kdx.NotRegularFileError)
            self.assertEqual(error.reason, "is a folder, not a data file")
            error = self.assert_refused_like_info("/dev/null", ferrun_kdx.NotRegularFileError)
            self.assertEqual(error.reason, "is not a regular file (a character device)")
            with self.assertRaises(FileNotFoundError):
                ferrun_kdx.read(os.path.join(folder, "missing.kdx"))
            self.assertEqual(disk_state(folder), before)


class BoundedMemory(unittest.TestCase):
    def test_a_64_mib_file_takes_only_its_arrays(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "big.kdx")
            size = 64 << 20
            head = data_file(bits=0x01, length=0, comment=b"")
            length = size - len(head) - 7
            with open(path, "wb") as f:
                f.write(data_file(bits=0x01, length=length))
                pattern = np.arange(1 << 20, dtype="<u2") & 0x8FFF
                for _ in range(length // pattern.nbytes):
                    f.write(pattern.tobytes())
                f.write(pattern.tobytes()[: length % pattern.nbytes])
                f.write(b"comment")
            self.assertEqual(os.path.getsize(path), size)
            tracemalloc.start()
            try:
                rec = ferrun_kdx.read(path)
                peak = tracemalloc.get_traced_memory()[1]
            finally:
                tracemalloc.stop()
            arrays = rec.codes.nbytes + rec.photodiode.nbytes
            self.assertEqual(len(rec.codes), length // 2)
            self.assertLess(peak, arrays + (1 << 20))
            self.assertEqual(rec.comment, "comment")
            np.testing.assert_array_equal(rec.codes[: 1 << 20, 0], pattern & 0x0FFF)
            np.testing.assert_array_equal(rec.photodiode[: 1 << 20], pattern >= 0x8000)


if __name__ == "__main__":
    unittest.main(verbosity=2)
