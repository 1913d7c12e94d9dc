"""The Python module against the table of streams that make_api_streams wrote
(TALVECO_STREAMS): every stream decodes to the C++ library's samples, from a
path, bytes and file objects, whole and in blocks, and its damage is raised
or warned of as the library counts it; every encoding is talveco-encode's to
the byte; failures, damage and misuse raise what they should."""

import io
import os
import struct
import subprocess
import sys
import warnings

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


def read_leniently(call):
    """What call() returns, and the one DamagedWarning it gave (else None)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    assert len(caught) <= 1 and all(w.category is talveco.DamagedWarning for w in caught)
    return result, (caught[0].message if caught else None)


@pytest.mark.parametrize("row", table("decode"), ids=lambda row: row[0])
def test_decodes_the_library_samples(row):
    name, damaged_blocks, past_end = row[0], int(row[1]), int(row[2])
    header = talveco.info(stream_path(name, ".acm"))
    expected = expected_frames(name, max(header.channels, 1))
    for source in ways_in(name):
        (data, samplerate), warned = read_leniently(lambda: talveco.read(source, strict=False))
        assert samplerate == header.samplerate
        assert data.dtype == numpy.int16 and data.shape == expected.shape
        numpy.testing.assert_array_equal(data, expected)
        if damaged_blocks or past_end:
            assert (warned.damaged_blocks, warned.samples_past_end) == (damaged_blocks, past_end)
        else:
            assert warned is None
    as_float, _ = read_leniently(
        lambda: talveco.read(stream_path(name, ".acm"), dtype="float32", strict=False)
    )[0]
    assert as_float.dtype == numpy.float32
    numpy.testing.assert_array_equal(as_float * 32768, expected)
    with open(stream_path(name, ".acm"), "rb") as f:
        data = f.read()
    pieces, warned = read_leniently(
        lambda: list(talveco.blocks(io.BytesIO(data), 999, strict=False))
    )
    assert all(len(piece) == 999 for piece in pieces[:-1])
    joined = numpy.concatenate(pieces) if pieces else expected[:0]
    numpy.testing.assert_array_equal(joined, expected)
    assert (warned is None) == (damaged_blocks == past_end == 0)
    # Strict, the default: a whole stream reads as before (also from a file
    # object, whose size is not known, into an array that grows), a damaged
    # one fails.
    for source in (data, io.BytesIO(data)):
        if damaged_blocks or past_end:
            with pytest.raises(talveco.DamagedError) as raised:
                talveco.read(source)
            assert raised.value.kind == ("DamagedBlocks" if damaged_blocks else "Truncated")
        else:
            numpy.testing.assert_array_equal(talveco.read(source)[0], expected)


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


def input_frames(name, channels, sample_format):
    if sample_format == "float32":
        return numpy.fromfile(stream_path(name, ".f32"), "<f4").reshape(-1, channels)
    return expected_frames(name, channels)


@pytest.mark.parametrize("row", table("fit"), ids=lambda row: row[0])
def test_fits_as_the_program_does(row, tmp_path):
    """Data at its own rate and channels, resampled and folded to the stream's:
    the bytes talveco-encode --resample --channels made of the same samples."""
    name, channels, rate, sample_format = row[0], int(row[1]), int(row[2]), row[3]
    to_channels, to_rate = int(row[4]), int(row[5])
    data = input_frames(name, channels, sample_format)
    with open(stream_path(name, ".acm"), "rb") as f:
        expected = f.read()

    path = tmp_path / "out.acm"
    report = talveco.write(str(path), data, rate, resample=to_rate, channels=to_channels)
    assert path.read_bytes() == expected
    buffer = io.BytesIO()
    assert talveco.write(buffer, data, rate, resample=to_rate, channels=to_channels) == report
    assert buffer.getvalue() == expected
    # The stream's samples, at its rate, rounded as sox rounds the length.
    frames = (2 * len(data) * to_rate + rate) // (2 * rate)
    assert report.samples == frames * to_channels
    decoded, samplerate = talveco.read(expected)
    assert (decoded.shape, samplerate) == ((frames, to_channels), to_rate)


def snr_db(signal, reference):
    noise = signal - reference
    return 10 * numpy.log10(numpy.mean(reference**2) / numpy.mean(noise**2))


def sweep(frames, rate, channels):
    t = numpy.arange(frames) / rate
    tone = 0.5 * numpy.sin(2 * numpy.pi * (200 + 2000 * t) * t)
    return numpy.stack([tone * (0.5 + 0.5 * c / channels) for c in range(channels)], axis=1)


def test_resample_and_channels_keep_the_sound(tmp_path):
    """A 48 kHz stereo sweep to 22,050 Hz mono decodes to the sweep at that rate;
    each argument alone changes only its own side."""
    stereo = sweep(48000, 48000, 2)
    decoded, rate = talveco.read(
        encoded(stereo, 48000, resample=22050, channels=1), dtype="float32"
    )
    assert (decoded.shape, rate) == ((22050, 1), 22050)
    reference = sweep(22050, 22050, 2).mean(axis=1)
    middle = slice(1000, 21000)  # away from the filter's edges
    assert snr_db(decoded[middle, 0], reference[middle]) > 20
    assert talveco.read(encoded(stereo, 48000, resample=16000))[0].shape == (16000, 2)
    folded, rate = talveco.read(encoded(stereo, 48000, channels=1))
    assert (folded.shape, rate) == ((48000, 1), 48000)
    # The data's own rate and channels: the stream of no fitting at all.
    assert encoded(stereo, 48000, resample=48000, channels=2) == encoded(stereo, 48000)
    mono = stereo[:, 0]
    both = talveco.read(encoded(mono, 48000, channels=2), dtype="float32")[0]
    assert both.shape == (48000, 2)
    assert min(snr_db(both[:, side], mono) for side in (0, 1)) > 20


def test_channels_fold_more_than_two(tmp_path):
    surround = sweep(8000, 16000, 6)
    front = surround.copy()
    front[:, 2:] = 0  # only the front channels differ in the centre, LFE and surrounds
    assert encoded(surround, 16000, channels=1) != encoded(front, 16000, channels=1)
    lfe_only = numpy.zeros_like(surround)
    lfe_only[:, 3] = surround[:, 3]
    assert not talveco.read(encoded(lfe_only, 16000, channels=2))[0].any()
    with pytest.raises(ValueError, match="channels=1 or 2 folds them"):
        talveco.write(io.BytesIO(), surround, 16000)
    # A NaN silences its own sample before the fold, and is counted, as the program counts it.
    holed = surround.copy()
    holed[[10, 20, 30], [0, 3, 5]] = numpy.nan
    report = talveco.write(io.BytesIO(), holed, 16000, channels=2, resample=8000)
    assert (report.not_numbers, report.samples) == (3, 8000)
    assert encoded(holed, 16000, channels=2, resample=8000) == encoded(
        numpy.nan_to_num(holed), 16000, channels=2, resample=8000
    )


def test_without_set_input_only_fitting_is_refused(tmp_path, monkeypatch):
    # A library older than the fitting: it would take the data as the stream's.
    monkeypatch.setattr(talveco.lib, "talveco_encoder_set_input", None)
    for fitting in ({"resample": 8000}, {"channels": 1}):
        with pytest.raises(NotImplementedError, match="libtalveco 1.3.0"):
            talveco.write(str(tmp_path / "out.acm"), ZEROS, 16000, **fitting)
    assert os.listdir(tmp_path) == []
    assert talveco.read(encoded(ZEROS, 16000))[1] == 16000


def test_set_input_failing_a_file_encoder_leaves_no_file_behind(tmp_path):
    """A partial frame of the input's channels ends a file encoder at once."""
    lib = talveco._library.lib
    handle = talveco.ctypes.c_void_p()
    path = tmp_path / "out.acm"
    opened = lib.talveco_encoder_open_file(
        os.fsencode(path), 1, 22050, None, talveco.ctypes.byref(handle)
    )
    assert opened == 0
    try:
        assert os.listdir(tmp_path) != []  # the temporary file
        assert lib.talveco_encoder_set_input(handle, 2, 44100) == 0
        samples = numpy.zeros(3, numpy.int16)
        assert lib.talveco_encoder_write(handle, samples.ctypes.data, 3) == 11  # partial frame
        assert os.listdir(tmp_path) == []
    finally:
        lib.talveco_encoder_close(handle)


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



# ---- damage in streams of the project's own encoder ----


@pytest.fixture(scope="module")
def speech():
    """A stream of talveco.write, the frames it decodes to, and its bytes."""
    t = numpy.arange(22050 * 3)
    signal = (7000 * numpy.sin(t * 0.05) + 2500 * numpy.sin(t * 0.31)).astype(numpy.int16)
    out = io.BytesIO()
    talveco.write(out, numpy.stack([signal, signal // 3], axis=1), 22050)
    stream = out.getvalue()
    return stream, talveco.read(stream)[0]


def cut(stream):
    return stream[: len(stream) // 3]


def overwritten(stream):
    # All bits set where the first block's first column code stands: a code
    # that selects no method.
    return stream[:14] + b"\xff" * 8 + stream[22:]


@pytest.mark.parametrize(
    "damage, kind", [(cut, "Truncated"), (overwritten, "DamagedBlocks")], ids=["cut", "overwritten"]
)
def test_damage_fails_strict_reading_and_is_kept_with_a_warning(speech, damage, kind):
    stream, whole = speech
    damaged = damage(stream)
    readers = [
        lambda **strict: talveco.read(damaged, **strict)[0],
        lambda **strict: talveco.read(io.BytesIO(damaged), dtype="float32", **strict)[0],
        lambda **strict: numpy.concatenate(
            [whole[:0]] + list(talveco.blocks(damaged, 5000, **strict))
        ),
    ]
    for read in readers:
        with pytest.raises(talveco.DamagedError) as raised:
            read()
        assert isinstance(raised.value, talveco.Error) and raised.value.kind == kind
        assert "strict=False" in str(raised.value)
        assert (raised.value.damaged_blocks > 0) == (kind == "DamagedBlocks")
        assert (raised.value.samples_past_end > 0) == (kind == "Truncated")

        kept, warned = read_leniently(lambda: read(strict=False))
        assert isinstance(warned, talveco.DamagedWarning) and warned.kind == kind
        assert "kept as decoded" in str(warned)
        if kind == "Truncated":
            # All the frames announced; those before the cut as the whole stream has them.
            assert kept.shape == whole.shape
            intact = len(whole) - -(-warned.samples_past_end // whole.shape[1])
            assert intact > 0
            scale = 32768 if kept.dtype == numpy.float32 else 1
            numpy.testing.assert_array_equal(kept[:intact] * scale, whole[:intact])
            assert str(warned.samples_past_end) in str(warned)
        else:
            assert len(kept) < len(whole) and warned.damaged_blocks > 0


def test_a_header_announcing_what_its_file_lacks_fails_at_the_first_piece(speech):
    # 14 bytes announcing 2^30 - 1 samples: nothing past the first piece is decoded.
    header = bytearray(speech[0][:14])
    header[4:8] = struct.pack("<I", (1 << 30) - 1)
    announced = talveco.info(bytes(header)).frames
    for source in (bytes(header), io.BytesIO(header)):
        with pytest.raises(talveco.DamagedError) as raised:
            talveco.read(source)
        assert raised.value.kind == "Truncated"
        assert 0 < raised.value.samples_past_end <= 2 * (1 << 16) < announced


LIMITED_READ = """
import resource, sys, talveco
header = open(sys.argv[1], "rb").read()
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) for line in status if line.startswith("VmSize:")) * 1024
# Room for the pieces, not for the 2 GiB the header announces.
resource.setrlimit(resource.RLIMIT_AS, (size + (512 << 20), resource.RLIM_INFINITY))
try:
    talveco.read(header)
except talveco.DamagedError as damage:
    print(damage.kind)
"""


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer maps terabytes"
)
def test_a_header_announcing_what_its_file_lacks_is_not_allocated(speech, tmp_path):
    header = bytearray(speech[0][:14])
    header[4:8] = struct.pack("<I", (1 << 30) - 1)
    header[8:10] = struct.pack("<H", 1)  # mono: 2 GiB of samples announced
    (tmp_path / "header.acm").write_bytes(header)
    done = subprocess.run(
        [sys.executable, "-c", LIMITED_READ, str(tmp_path / "header.acm")],
        capture_output=True,
        text=True,
        check=False,
    )
    assert (done.returncode, done.stdout) == (0, "Truncated\n"), done.stderr


def test_without_damage_counts_only_strict_reading_is_refused(speech, monkeypatch):
    # A library older than the damage counts: nothing can tell damage apart.
    monkeypatch.setattr(talveco.lib, "talveco_decoder_damage", None)
    stream, whole = speech
    with pytest.raises(NotImplementedError, match="strict=False"):
        talveco.read(stream)
    with pytest.raises(NotImplementedError):
        next(talveco.blocks(stream, 100))
    (data, _), warned = read_leniently(lambda: talveco.read(cut(stream), strict=False))
    assert warned is None and data.shape == whole.shape
    assert talveco.info(stream).frames == len(whole)


def test_a_failing_file_object_raises_its_own_exception_in_every_reader(speech):
    stream = speech[0]
    for read in (
        lambda f: talveco.read(f),
        lambda f: talveco.read(f, strict=False),
        lambda f: list(talveco.blocks(f, 100)),
    ):
        with pytest.raises(ConnectionResetError):
            read(FailingFile(stream, len(stream) // 2, ConnectionResetError("gone")))


# ---- what write() refuses and converts ----

ZEROS = numpy.zeros(1000, "i2")


@pytest.mark.parametrize(
    "arguments, exception, said",
    [
        # Channels first, and more channels than the programs encode.
        ((numpy.zeros((2, 22050), "i2"), 22050), ValueError, ("22050 channels: only", "data.T")),
        ((numpy.zeros((500, 3), "i2"), 8000), ValueError, "3 channels: only mono and stereo"),
        ((numpy.zeros((2, 500), "i2"), 8000, {"channels": 1}), ValueError, "pass data.T"),
        # Fitting: the stream's channels are mono or stereo, its rate the format's; the
        # data's rate the library's bound for it; folds the program refuses.
        ((ZEROS, 8000, {"channels": 3}), ValueError, "channels must be 1 (mono) or 2"),
        ((ZEROS, 8000, {"channels": 0}), ValueError, "not 0"),
        ((ZEROS, 8000, {"channels": True}), TypeError, "channels wants a whole number, not True"),
        ((ZEROS, 8000, {"channels": 1.0}), TypeError, "channels wants a whole number"),
        ((ZEROS, 8000, {"resample": "22050"}), TypeError, "resample wants a whole number"),
        ((ZEROS, 8000, {"resample": 70000}), talveco.Error, "65535 Hz (resample first), not 70000"),
        ((ZEROS, 8000, {"resample": -1}), talveco.Error, "65535 Hz (resample first), not -1"),
        ((ZEROS, 800000, {"resample": 8000}), talveco.Error, "768000 Hz, not 800000"),
        ((ZEROS, -5, {"resample": 8000}), talveco.Error, "input rate must be from 1 to 768000"),
        ((ZEROS, 2**32, {"resample": 8000}), talveco.Error, "768000 Hz, not 4294967296"),
        (
            (numpy.zeros((500, 3), "i2"), 8000, {"channels": 2}),
            talveco.Error,
            "3 channels: there is no standard fold of them to stereo",
        ),
        # Numbers ctypes would wrap, and what the library would read as "automatic" or
        # "constant quality": refused with the library's bounds and the value given.
        ((ZEROS, 2**32 + 8000), talveco.Error, "to 65535 Hz (resample first), not 4294975296"),
        ((ZEROS, -1), talveco.Error, "rate must be from 1 to 65535 Hz (resample first), not -1"),
        ((ZEROS, 70000), talveco.Error, "not 70000"),
        ((ZEROS, 8000, {"levels": 0xFFFFFFFF}), talveco.Error, "from 0 to 15, not 4294967295"),
        ((ZEROS, 8000, {"levels": -1}), talveco.Error, "levels must be from 0 to 15, not -1"),
        ((ZEROS, 8000, {"rows": 2**40}), talveco.Error, "from 1 to 4095, not 1099511627776"),
        ((ZEROS, 8000, {"rows": -5, "levels": -2}), talveco.Error, "0 to 15, not -2"),
        ((ZEROS, 8000, {"bitrate": 0}), talveco.Error, ("bitrate must be from 1 to", ", not 0")),
        ((ZEROS, 8000, {"bitrate": float("nan")}), talveco.Error, "not nan"),
        ((ZEROS, 8000, {"quality": float("nan")}), talveco.Error, "from 0 to 10, not nan"),
        ((ZEROS, 8000, {"quality": 10.5}), talveco.Error, "not 10.5"),
        # Types: bool is no number here, nor is text; a rate is whole.
        ((ZEROS, True), TypeError, "samplerate wants a whole number, not True"),
        ((ZEROS, 22050.0), TypeError, "samplerate wants a whole number, not 22050.0"),
        ((ZEROS, 8000, {"quality": True}), TypeError, "quality wants a number, not True"),
        ((ZEROS, 8000, {"bitrate": "64"}), TypeError, "bitrate wants a number, not '64'"),
        ((ZEROS, 8000, {"levels": 3.0}), TypeError, "levels wants a whole number, not 3.0"),
        ((ZEROS, 8000, {"rows": numpy.bool_(True)}), TypeError, "rows wants a whole number"),
    ],
)
def test_write_refuses_what_cannot_be_meant(arguments, exception, said, tmp_path):
    data, rate = arguments[:2]
    settings = arguments[2] if len(arguments) > 2 else {}
    for target in (io.BytesIO(), str(tmp_path / "out.acm")):
        with pytest.raises(exception) as raised:
            talveco.write(target, data, rate, **settings)
        for fragment in (said,) if isinstance(said, str) else said:
            assert fragment in str(raised.value)
        if exception is talveco.Error:
            assert raised.value.kind == "OutsideLimits"
    assert os.listdir(tmp_path) == []


def encoded(data, rate=22050, **settings):
    out = io.BytesIO()
    talveco.write(out, data, rate, **settings)
    return out.getvalue()


def test_write_converts_byte_order_and_strides():
    t = numpy.arange(20001)
    stereo = numpy.stack([3000 * numpy.sin(t * 0.07), 2000 * numpy.cos(t * 0.11)], axis=1)
    native = stereo.astype(numpy.int16)
    for data in (native, native[:, 0]):
        assert encoded(data.astype(">i2")) == encoded(data)
        assert encoded(data[::2]) == encoded(data[::2].copy())
        assert encoded(data[::-3].astype(">i2")) == encoded(data[::-3].copy())
    as_float = (stereo / 32768).astype(numpy.float32)
    assert encoded(as_float.astype(">f4")) == encoded(as_float)
    assert encoded(as_float[::2]) == encoded(as_float[::2].copy())
    # Whole numbers of numpy's own types are whole numbers.
    assert encoded(native, numpy.int64(22050), levels=numpy.uint8(4)) == encoded(native, levels=4)
    decoded, _ = talveco.read(encoded(native[::2], levels=4, rows=16))
    assert decoded.shape == native[::2].shape


def test_a_refused_like_stream_leaves_no_file(tmp_path):
    with pytest.raises(talveco.Error) as raised:
        talveco.write(str(tmp_path / "edit.acm"), ZEROS, 8000, like=b"RIFF....WAVEfmt ")
    assert raised.value.kind == "NotAcmFile"
    with pytest.raises(FileNotFoundError):
        talveco.write(str(tmp_path / "edit.acm"), ZEROS, 8000, like=str(tmp_path / "missing.acm"))
    assert os.listdir(tmp_path) == []
