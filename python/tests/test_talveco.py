"""The Python module against the table of streams that make_api_streams wrote
(TALVECO_STREAMS): every stream decodes to the C++ library's samples, from a
path, bytes and file objects, whole and in blocks; every encoding is
talveco-encode's to the byte; failures and misuse raise what they should."""

import io
import os

import numpy
import pytest

import talveco

STREAMS = os.environ.get("TALVECO_STREAMS", "")


def table(kind):
    path = os.path.join(STREAMS, "streams.tsv")
    if not os.path.exists(path):
        return []  # collected as no tests, which the CTest run counts as a failure
    with open(path, encoding="utf-8") as lines:
        rows = [line.rstrip("\n").split("\t") for line in lines]
    return [row[1:] for row in rows if row[0] == kind]


def stream_path(name, extension):
    return os.path.join(STREAMS, name + extension)


def expected_frames(name, channels):
    samples = numpy.fromfile(stream_path(name, ".pcm"), "<i2")
    whole = len(samples) // channels * channels
    return samples[:whole].reshape(-1, channels)


def ways_in(name):
    """The same stream as a path, bytes, a file object in memory and an open file."""
    path = stream_path(name, ".acm")
    with open(path, "rb") as f:
        data = f.read()
    yield path
    yield data
    yield io.BytesIO(data)
    with open(path, "rb") as f:
        yield f


@pytest.mark.parametrize("name", [row[0] for row in table("decode")])
def test_decodes_the_library_samples(name):
    header = talveco.info(stream_path(name, ".acm"))
    expected = expected_frames(name, max(header.channels, 1))
    for source in ways_in(name):
        data, samplerate = talveco.read(source)
        assert samplerate == header.samplerate
        assert data.dtype == numpy.int16 and data.shape == expected.shape
        numpy.testing.assert_array_equal(data, expected)
    as_float, _ = talveco.read(stream_path(name, ".acm"), dtype="float32")
    assert as_float.dtype == numpy.float32
    numpy.testing.assert_array_equal(as_float * 32768, expected)
    pieces = list(talveco.blocks(io.BytesIO(open(stream_path(name, ".acm"), "rb").read()), 999))
    assert all(len(piece) == 999 for piece in pieces[:-1])
    joined = numpy.concatenate(pieces) if pieces else expected[:0]
    numpy.testing.assert_array_equal(joined, expected)


def test_info_describes_the_header():
    info = talveco.info(stream_path("mono-0x1", ".acm"))
    assert (info.channels, info.samplerate, info.frames, info.levels, info.rows) == (
        1, 8000, 999, 0, 1)
    assert info.duration == pytest.approx(999 / 8000)


def settings_of(row):
    names = ("quality", "bitrate", "levels", "rows")
    kinds = (float, float, int, int)
    return {n: k(v) for n, k, v in zip(names, kinds, row) if v != "-"}


@pytest.mark.parametrize("row", table("encode"), ids=lambda row: row[0])
def test_encodes_as_the_program_does(row, tmp_path):
    name, channels, rate, sample_format = row[0], int(row[1]), int(row[2]), row[3]
    settings = settings_of(row[4:])
    if sample_format == "float32":
        data = numpy.fromfile(stream_path(name, ".f32"), "<f4").reshape(-1, channels)
    else:
        data = expected_frames(name, channels)
    if channels == 1:
        data = data[:, 0]  # mono as a 1-D array
    with open(stream_path(name, ".acm"), "rb") as f:
        expected = f.read()

    report = talveco.write(str(tmp_path / "out.acm"), data, rate, **settings)
    assert (tmp_path / "out.acm").read_bytes() == expected
    buffer = io.BytesIO()
    assert talveco.write(buffer, data, rate, **settings) == report
    assert buffer.getvalue() == expected
    assert report.stream_bytes == len(expected)
    assert (report.clipped > 0) == (sample_format == "float32")
    decoded, _ = talveco.read(expected)
    assert decoded.shape == (len(data), channels)


def test_edit_coded_like_the_original_keeps_its_untouched_blocks(tmp_path):
    # A stream of the table decoded, a stretch of it halved and coded again like
    # it, to a file: the blocks the edit left alone, but the one right after it,
    # decode exactly as before.
    original = stream_path("speech-default", ".acm")
    decoded, rate = talveco.read(original)
    header = talveco.info(original)
    edited = decoded[:, 0].copy()
    first, last = len(edited) // 3, len(edited) // 3 + 1500
    edited[first:last] //= 2
    report = talveco.write(str(tmp_path / "edit.acm"), edited, rate, levels=0, like=original)
    assert (report.levels, report.rows) == (header.levels, header.rows)
    assert os.listdir(tmp_path) == ["edit.acm"]
    again, _ = talveco.read(str(tmp_path / "edit.acm"))
    block = header.rows << header.levels
    untouched = numpy.ones(len(edited), bool)
    # The blocks of the edit and the one after it, which starts from other carries.
    untouched[first // block * block : (last + block - 1) // block * block + block] = False
    numpy.testing.assert_array_equal(again[untouched, 0], edited[untouched])
    with pytest.raises(talveco.Error) as raised:
        talveco.write(io.BytesIO(), edited, rate, like=b"RIFF....WAVEfmt ")
    assert raised.value.kind == "NotAcmFile"


@pytest.mark.parametrize(
    "source, kind, message",
    [
        ("missing.acm", "FileNotFound", "File not found"),
        ("stereo-7x16.pcm", "NotAcmFile", "File does not appear to be a valid ACM file"),
        ("stereo-7x16.acm/x", "InvalidFilename", "Invalid filename"),
        (b"\x97\x28\x03", "NotAcmFile", "File does not appear to be a valid ACM file"),
    ],
)
def test_failures_carry_kind_and_message(source, kind, message):
    if isinstance(source, str):
        source = stream_path(*os.path.splitext(source))
    with pytest.raises(talveco.Error) as raised:
        talveco.read(source)
    assert raised.value.kind == kind and str(raised.value) == message


class FailingFile(io.RawIOBase):
    """Delivers `good` bytes, then raises."""

    def __init__(self, data, good, exception):
        self.data, self.good, self.exception, self.at = data, good, exception, 0

    def readable(self):
        return True

    def readinto(self, buffer):
        if self.at >= self.good:
            raise self.exception
        n = min(len(buffer), self.good - self.at)
        buffer[:n] = self.data[self.at : self.at + n]
        self.at += n
        return n

    def write(self, data):
        raise self.exception


def test_file_object_exceptions_come_back_unchanged():
    with open(stream_path("stereo-7x16", ".acm"), "rb") as f:
        data = f.read()
    for good in (0, 3000):
        failing = FailingFile(data, good, OSError(28, "No space left"))
        with pytest.raises(OSError) as raised:
            talveco.read(failing)
        assert raised.value.errno == 28
    closed = open(stream_path("stereo-7x16", ".acm"), "rb")
    closed.close()
    with pytest.raises(ValueError):
        talveco.read(closed)
    with pytest.raises(RuntimeError):
        talveco.write(FailingFile(b"", 0, RuntimeError("full")), numpy.zeros(100, "i2"), 8000)


@pytest.mark.parametrize(
    "call, exception, kind",
    [
        (lambda: talveco.write(io.BytesIO(), numpy.zeros((2, 2, 2), "i2"), 8000), ValueError, None),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros((10, 0), "i2"), 8000), ValueError, None),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros(10, "i4"), 8000), TypeError, None),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros(10, "i2"), 0), talveco.Error,
         "OutsideLimits"),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros(10, "i2"), 8000, levels=16),
         talveco.Error, "OutsideLimits"),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros(10, "i2"), 8000, rows=0),
         talveco.Error, "OutsideLimits"),
        (lambda: talveco.write(io.BytesIO(), numpy.zeros(10, "i2"), 8000, bitrate=-3),
         talveco.Error, "OutsideLimits"),
        (lambda: talveco.write(12, numpy.zeros(10, "i2"), 8000), TypeError, None),
        (lambda: talveco.read(12), TypeError, None),
        (lambda: talveco.read(stream_path("mono-0x1", ".acm"), dtype="int32"), ValueError, None),
        (lambda: next(talveco.blocks(stream_path("mono-0x1", ".acm"), 0)), ValueError, None),
    ],
)
def test_misuse_is_refused(call, exception, kind):
    with pytest.raises(exception) as raised:
        call()
    if kind is not None:
        assert raised.value.kind == kind

