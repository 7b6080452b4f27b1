# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads Ferrun's instrument data files (*.kdx) into NumPy arrays.

    import ferrun_kdx
    rec = ferrun_kdx.read("run.kdx")
    print(rec.channels, rec.codes.shape, rec.time_s[-1], rec.temperatures(range=250)[:, 0])

`read` takes a path or a binary file object (an open file, io.BytesIO, a pipe such as
sys.stdin.buffer). It checks the whole file as `ferrun-cli` does before it hands anything over
and raises `KdxError` (or one of its subclasses) naming the file and the cause for a file that
is not a complete data file. The layout of the file is described in docs/kdx-format.md.

Needs only the standard library and NumPy.
"""

import functools
import io
import math
import os
import stat
import struct

import numpy as np

__all__ = [
    "read",
    "Recording",
    "KdxError",
    "NotDataFileError",
    "NotRegularFileError",
    "TruncatedError",
    "CHANNEL_NAMES",
    "MAX_TITLE_BYTES",
]

# The first field of every file this program writes.
FILE_TYPE = 1
# The fixed header (17 bytes) with ValueScale and ValueOffset (12 bytes): the titles follow.
HEADER_SIZE = 29
# Titles longer than this are cut to it when read; the rest of a title is skipped, as the
# program's own reader does.
MAX_TITLE_BYTES = 65536
# Bit 7 of ChartChannelBits: each word is the mean of 16 samples taken in the controller, so
# frames lie 16 sampling steps apart.
AVERAGING_BIT = 0x80
AVERAGED_SAMPLES = 16
# Thermocouple n (1..7) is bit n - 1 of ChartChannelBits.
CHANNEL_NAMES = ("T1", "T2", "T3", "T4", "T5", "T6", "T7")
# Degrees per ADC unit are range / 4096 (12-bit codes).
ADC_STEPS = 4096
# Texts are Windows-1251; its one unassigned byte (0x98) becomes U+FFFD, as in the program.
ENCODING = "cp1251"

# Bytes read at once while looking for the end of a title, and at most taken from a stream
# at once (a buffered stream's read(n) allocates n bytes before it reads).
_CHUNK = 1 << 16
_STREAM_PIECE = 1 << 20


class KdxError(ValueError):
    """A file that is not a complete instrument data file.

    str() reads "NAME cause", as `ferrun-cli info` prints it; `name` and `reason` hold the two.
    """

    def __init__(self, name, reason):
        super().__init__(f"{name} {reason}")
        self.name = name
        self.reason = reason


class NotDataFileError(KdxError):
    """The type field is not 1 (or the file does not hold its two bytes): not this program's.

    `type_field` is the value found, None for a file shorter than two bytes.
    """

    def __init__(self, name, type_field):
        if type_field is None:
            reason = "is not an instrument data file (shorter than its 2-byte type)"
        else:
            reason = (
                "is not an instrument data file"
                f" (its type field is {type_field}, not {FILE_TYPE})"
            )
        super().__init__(name, reason)
        self.type_field = type_field


class NotRegularFileError(KdxError):
    """A folder, FIFO, device or socket: refused before a byte is read, since a FIFO or a device
    may never end or never deliver a byte."""


class TruncatedError(KdxError):
    """The file ends inside its header, a title or its data, or could not be read to its end.

    `part` is "header", "time-axis title", "value-axis title" or "data"; `size` the bytes the
    file holds (from where reading began); `needed` the bytes that part needs.
    """

    def __init__(self, name, part, size, needed):
        if needed > size:
            reason = f"ends inside its {part}: {size} bytes, {needed} needed"
        else:
            reason = f"could not be read to its end (in its {part})"
        super().__init__(name, reason)
        self.part = part
        self.size = size
        self.needed = needed


class Recording:
    """One data file, decoded.

    header      dict of the header's fields: FileType, ChartChannelBits, DataLength,
                ChannelIntervalUs, ValueScale, ValueOffset, XTitle, YTitle
    comment     the comment as stored (lines separated by CR LF), decoded from Windows-1251
    channels    the recorded thermocouples in ascending order, e.g. ["T1", "T3"]
    averaging   True when each word is the mean of 16 samples taken in the controller
    codes       uint16 array, one row per frame and one column per channel: the 12-bit codes
    photodiode  bool array, one per frame: bit 15 of the frame's first word
    time_s      float64 array, one per frame: frame i lies at i x ChannelIntervalUs
                (x 16 with averaging) microseconds, in seconds
    """

    def __init__(self, header, comment, codes, photodiode):
        self.header = header
        self.comment = comment
        bits = header["ChartChannelBits"]
        self.channels = [name for n, name in enumerate(CHANNEL_NAMES) if bits & (1 << n)]
        self.averaging = bool(bits & AVERAGING_BIT)
        self.codes = codes
        self.photodiode = photodiode

    @functools.cached_property
    def time_s(self):
        # Computed as the program computes the x of a frame in seconds, i x interval / divisor
        # with the divisor 1e6 (1e6 / 16 with averaging), so the values are those it exports.
        divisor = 1e6 / AVERAGED_SAMPLES if self.averaging else 1e6
        times = np.arange(len(self.codes), dtype=np.float64)
        times *= self.header["ChannelIntervalUs"]
        times /= divisor
        return times

    def temperatures(self, range=250):
        """Degrees of every code for the temperature range chosen (250 or 500 degrees): code x
        range / 4096, as `ferrun-cli export --range` gives them. With range=None the file's own
        ValueScale is used, as the program does without --range (250 / 4096 when the file holds
        no finite positive scale). `range` is named after the program's option."""
        if range is None:
            scale = self.header["ValueScale"]
            if not (math.isfinite(scale) and scale > 0):
                scale = 250 / ADC_STEPS
        elif isinstance(range, bool) or range not in (250, 500):
            raise ValueError(f"range must be 250 or 500 degrees, not {range!r}")
        else:
            scale = range / ADC_STEPS
        degrees = self.codes.astype(np.float64)
        degrees *= scale
        return degrees

    def __repr__(self):
        return (
            f"<ferrun_kdx.Recording {','.join(self.channels) or 'no channels'}"
            f"{' averaged' if self.averaging else ''}: {len(self.codes)} frames,"
            f" {self.header['DataLength']} data bytes>"
        )


def read(source):
    """Reads a data file from a path or a binary file object (from its current position).

    Raises KdxError (NotDataFileError, NotRegularFileError, TruncatedError) for a file that is
    not a complete data file, OSError when a path cannot be opened, TypeError for a text
    stream. Nothing is allocated for the data before the file is known to hold it (for a
    stream, memory grows only with the bytes that actually arrive).
    """
    if isinstance(source, (str, bytes, os.PathLike)):
        return _read_path(source)
    if isinstance(source, io.TextIOBase):
        raise TypeError("ferrun_kdx.read needs a binary file object, not a text stream")
    if not hasattr(source, "read"):
        raise TypeError(
            "ferrun_kdx.read needs a path or a binary file object,"
            f" not {type(source).__name__}"
        )
    name = getattr(source, "name", None)
    name = os.fsdecode(name) if isinstance(name, (str, bytes)) else "<stream>"
    # With its length known, the data is read straight into the array returned; otherwise
    # (a pipe) it is gathered as it arrives.
    size = None
    if _seekable(source) and hasattr(source, "readinto"):
        start = source.tell()
        size = source.seek(0, io.SEEK_END) - start
        source.seek(start)
    return _decode(_Reader(source, size), name)


def _decode(reader, name):
    fixed = reader.take(HEADER_SIZE)
    type_field = int.from_bytes(fixed[:2], "little") if len(fixed) >= 2 else None
    if type_field != FILE_TYPE:
        raise NotDataFileError(name, type_field)
    if len(fixed) < HEADER_SIZE:
        raise TruncatedError(name, "header", _size(reader), HEADER_SIZE)
    _, _, _, bits, length, interval, scale, offset = struct.unpack("<HBBBIddi", fixed)
    # A title without its zero byte needs at least one byte more than the file has.
    x_title = reader.title()
    if x_title is None:
        raise TruncatedError(name, "time-axis title", _size(reader), _size(reader) + 1)
    y_title = reader.title()
    if y_title is None:
        raise TruncatedError(name, "value-axis title", _size(reader), _size(reader) + 1)
    data_offset = reader.position
    needed = data_offset + length
    if reader.size is not None and needed > reader.size:
        raise TruncatedError(name, "data", reader.size, needed)

    # Whole frames of one word per recorded channel; the bytes after the last whole frame
    # belong to the data but to no frame.
    count = bin(bits & 0x7F).count("1")
    frames = length // 2 // count if count else 0
    used = 2 * count * frames
    if reader.size is not None:
        words = np.empty(count * frames, dtype="<u2")
        got = reader.readinto(memoryview(words.view(np.uint8)))
    else:
        data = reader.read_growing(used)
        got = len(data)
    if got < used or reader.skip(length - used) < length - used:
        # The file shrank while it was read, or the stream ended early.
        raise TruncatedError(name, "data", reader.position, needed)
    if reader.size is None:
        words = np.frombuffer(data, dtype="<u2", count=count * frames)

    words = words.reshape(frames, count)
    photodiode = words[:, 0] >= 0x8000 if count else np.zeros(0, dtype=bool)
    # Bits 12..14 are always 0 when written; the code is bits 0..11 whatever they hold.
    np.bitwise_and(words, 0x0FFF, out=words)
    header = {
        "FileType": type_field,
        "ChartChannelBits": bits,
        "DataLength": length,
        "ChannelIntervalUs": interval,
        "ValueScale": scale,
        "ValueOffset": offset,
        "XTitle": x_title.decode(ENCODING, "replace"),
        "YTitle": y_title.decode(ENCODING, "replace"),
    }
    comment = reader.rest().decode(ENCODING, "replace")
    return Recording(header, comment, words, photodiode)


def _size(reader):
    """The stream's length, or, when it is not known, what it held (it has ended)."""
    return reader.size if reader.size is not None else reader.position + len(reader.ahead)


def _seekable(stream):
    try:
        return bool(stream.seekable())
    except (AttributeError, OSError, ValueError):
        return False


def _read_path(path):
    name = os.fsdecode(path)
    # Opened without waiting for a FIFO's writer; only a regular file is then read.
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        st = os.fstat(fd)
        if stat.S_ISDIR(st.st_mode):
            raise NotRegularFileError(name, "is a folder, not a data file")
        if not stat.S_ISREG(st.st_mode):
            raise NotRegularFileError(name, f"is not a regular file ({_kind(st.st_mode)})")
        # Unbuffered: the data goes from the file straight into the array.
        stream = io.FileIO(fd, "rb", closefd=True)
    except BaseException:
        os.close(fd)
        raise
    with stream:
        return _decode(_Reader(stream, st.st_size), name)


def _kind(mode):
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISCHR(mode):
        return "a character device"
    if stat.S_ISBLK(mode):
        return "a block device"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "not a file"


class _Reader:
    """Reads a stream from its position on, with the bytes read ahead (while looking for the
    end of a title) kept for what follows. `size` is the bytes from the start to the end of the
    stream, None when it cannot be known (a pipe)."""

    def __init__(self, stream, size):
        self.stream = stream
        self.size = size
        self.ahead = b""
        # Bytes handed on (or skipped) from the start.
        self.position = 0

    def _fill(self):
        chunk = self.stream.read(_CHUNK)
        if not chunk:
            return False
        self.ahead = self.ahead + chunk if self.ahead else chunk
        return True

    def take(self, count):
        """At most `count` bytes; fewer only at the end of the stream."""
        while len(self.ahead) < count and self._fill():
            pass
        taken, self.ahead = self.ahead[:count], self.ahead[count:]
        self.position += len(taken)
        return taken

    def title(self):
        """A zero-terminated title: its first MAX_TITLE_BYTES bytes, or None when the stream
        ends before its zero byte."""
        kept = bytearray()
        while True:
            zero = self.ahead.find(0)
            used = zero if zero >= 0 else len(self.ahead)
            if len(kept) < MAX_TITLE_BYTES:
                kept += self.ahead[: min(used, MAX_TITLE_BYTES - len(kept))]
            if zero >= 0:
                self.ahead = self.ahead[zero + 1 :]
                self.position += used + 1
                return bytes(kept)
            self.position += used
            self.ahead = b""
            if not self._fill():
                return None

    def readinto(self, view):
        """Fills `view` (bytes); fewer only at the end of the stream."""
        done = min(len(self.ahead), len(view))
        view[:done] = self.ahead[:done]
        self.ahead = self.ahead[done:]
        while done < len(view):
            count = self.stream.readinto(view[done:])
            if not count:
                break
            done += count
        self.position += done
        return done

    def read_growing(self, count):
        """`count` bytes into a bytearray that grows only with the bytes that arrive, for a
        stream whose length is not known; shorter at its end."""
        data = bytearray(self.ahead[:count])
        self.ahead = self.ahead[len(data) :]
        while len(data) < count:
            piece = self.stream.read(min(_STREAM_PIECE, count - len(data)))
            if not piece:
                break
            data += piece
        self.position += len(data)
        return data

    def skip(self, count):
        """Passes over `count` bytes; the bytes passed over (fewer only at the end)."""
        done = min(len(self.ahead), count)
        self.ahead = self.ahead[done:]
        if done < count and self.size is not None:
            # The length was checked to hold them.
            self.stream.seek(count - done, io.SEEK_CUR)
            done = count
        while done < count:
            piece = self.stream.read(min(_STREAM_PIECE, count - done))
            if not piece:
                break
            done += len(piece)
        self.position += done
        return done

    def rest(self):
        """The bytes to the end of the stream."""
        rest = self.ahead + (self.stream.read() or b"")
        self.ahead = b""
        self.position += len(rest)
        return rest
