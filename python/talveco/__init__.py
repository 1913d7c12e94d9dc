"""ACM audio streams as numpy arrays, through talveco's C library.

    import talveco
    data, samplerate = talveco.read("speech.acm")      # (frames, channels) int16
    report = talveco.write("copy.acm", data, samplerate, quality=7)

A file is a path, bytes (read only), or a binary file object. Failures raise
talveco.Error with the message the talveco programs print and the kind of
failure; the GIL is released while the library decodes or encodes.

A stream with damaged blocks, or cut short, fails reading with
talveco.DamagedError, as the programs fail such files; strict=False keeps
what decodes and warns (talveco.DamagedWarning) instead.
"""

import ctypes
import errno
import numbers
import os
import warnings
from dataclasses import dataclass

import numpy

from talveco._library import (
    AUTOMATIC,
    READ_FN,
    WRITE_FN,
    EncoderReport,
    EncoderSettings,
    StreamInfo,
    lib,
)

__all__ = [
    "Error",
    "DamagedError",
    "DamagedWarning",
    "Info",
    "Report",
    "read",
    "info",
    "blocks",
    "write",
    "__version__",
]
__version__ = lib.talveco_version().decode()

# Samples converted to float64 at a time when writing floating-point data.
_FLOAT_PIECE = 1 << 20
# Frames decoded at a time. A header may announce far more than its file
# holds (2^30 samples in 14 bytes): reading in pieces and checking the damage
# after each stops such a file early instead of allocating what it announces.
_READ_PIECE = 1 << 16
# The output array is allocated at once up to the samples the input could
# plausibly hold, at this many a byte (0.125 bits a sample: coded sound takes
# more, only long silence less): a header announcing more than that may be a
# lie, so the array grows as the samples arrive. Allocating the size a
# stream turns out to have at once, rather than growing into it, keeps
# reading a large file as fast as the library decodes.
_SAMPLES_PER_BYTE = 64


class Error(Exception):
    """A failure of the library: str() is the programs' message, `kind` the
    failure's name ("NotAcmFile", "FileNotFound", "IoError", ...,
    "OutsideLimits", "InvalidCall", ...), `errno` the system error number or 0."""

    def __init__(self, code, message, error_number=0):
        super().__init__(message)
        self.code = code
        self.kind = (lib.talveco_error_name(code) or b"Unknown").decode()
        self.errno = error_number


def _plural(count, noun):
    return f"{count} {noun}" + ("" if count == 1 else "s")


@dataclass(frozen=True)
class _Damage:
    """The damage a decoder met so far, as the library counts it."""

    damaged_blocks: int = 0
    samples_past_end: int = 0

    def __bool__(self):
        return self.damaged_blocks > 0 or self.samples_past_end > 0

    @property
    def kind(self):
        return "DamagedBlocks" if self.damaged_blocks else "Truncated"

    def describe(self):
        """What is wrong, in the words talveco-decode reports it with."""
        said = []
        if self.damaged_blocks:
            said.append(_plural(self.damaged_blocks, "damaged block") + " could not be decoded")
        if self.samples_past_end:
            said.append(
                "truncated: "
                + _plural(self.samples_past_end, "sample")
                + " decoded from past the end of the file"
            )
        return "; ".join(said)


class DamagedError(Error):
    """A stream that is damaged or cut short, found while reading it. `kind` is
    "DamagedBlocks" (blocks that could not be decoded, perhaps also cut
    short) or "Truncated" (cut short: samples came from past the end of the
    input); `damaged_blocks` and `samples_past_end` are the library's counts
    when reading stopped, at the first piece that met the damage."""

    def __init__(self, damage):
        Exception.__init__(self, damage.describe() + " (strict=False keeps what decodes)")
        self.code = None
        self.kind = damage.kind
        self.errno = 0
        self.damaged_blocks = damage.damaged_blocks
        self.samples_past_end = damage.samples_past_end


class DamagedWarning(UserWarning):
    """What a strict=False read of a damaged stream kept; the same attributes
    as DamagedError, with the counts of the whole stream."""

    def __init__(self, damage):
        super().__init__(damage.describe() + "; kept as decoded (strict=False)")
        self.kind = damage.kind
        self.damaged_blocks = damage.damaged_blocks
        self.samples_past_end = damage.samples_past_end


def _damage_counter(strict):
    """The library's damage counts, or None from a library too old to have
    them: then nothing can tell a damaged stream from a whole one, so strict
    reading is refused rather than quietly given up."""
    counter = getattr(lib, "talveco_decoder_damage", None)
    if counter is None and strict:
        raise NotImplementedError(
            "reading damaged streams as errors (strict=True, the default) needs "
            "libtalveco 1.3.0 or later; strict=False reads without checking"
        )
    return counter


def _last_error(code):
    message = lib.talveco_error_message().decode(errors="replace")
    return Error(code, message, lib.talveco_error_errno())


def _check(code):
    if code != 0:
        raise _last_error(code)


@dataclass(frozen=True)
class Info:
    channels: int
    samplerate: int
    frames: int
    levels: int
    rows: int

    @property
    def duration(self):
        """Seconds."""
        return self.frames / self.samplerate if self.samplerate else 0.0


@dataclass(frozen=True)
class Report:
    snr_db: float
    bits_per_sample: float
    levels: int
    rows: int
    samples: int
    stream_bytes: int
    clipped: int
    not_numbers: int


class _Callback:
    """A Python file object behind a C read or write function. An exception
    raised by the file object becomes an I/O error for the library and is
    raised again once the library call returns."""

    def __init__(self, file):
        self.file = file
        self.raised = None

    def fail(self, exception):
        self.raised = exception
        code = getattr(exception, "errno", None)
        return code if isinstance(code, int) and code > 0 else errno.EIO

    def reader(self):
        def read(_user, buffer, size):
            try:
                view = (ctypes.c_char * size).from_address(buffer)
                if hasattr(self.file, "readinto"):
                    return self.file.readinto(memoryview(view).cast("B")) or 0
                chunk = self.file.read(size)
                ctypes.memmove(buffer, chunk, len(chunk))
                return len(chunk)
            except BaseException as exception:  # noqa: B036 - re-raised after the call
                return -self.fail(exception)

        return READ_FN(read)

    def writer(self):
        def write(_user, data, size):
            try:
                self.file.write(ctypes.string_at(data, size))
                return 0
            except BaseException as exception:  # noqa: B036 - re-raised after the call
                return -self.fail(exception)

        return WRITE_FN(write)

    def check(self, code):
        if self.raised is not None:
            raised, self.raised = self.raised, None
            raise raised
        _check(code)


class _Decoder:
    def __init__(self, file, strict=True):
        self.strict = strict
        self.counter = _damage_counter(strict)
        self.damage = _Damage()
        self.handle = ctypes.c_void_p()
        self.callback = None
        self.input_bytes = 0  # where known; 0 for a file object
        if isinstance(file, (str, os.PathLike)):
            _check(lib.talveco_decoder_open_file(os.fsencode(file), ctypes.byref(self.handle)))
            self.input_bytes = os.stat(file).st_size
        elif isinstance(file, (bytes, bytearray, memoryview)):
            data = bytes(file) if not isinstance(file, bytes) else file
            _check(lib.talveco_decoder_open_memory(data, len(data), ctypes.byref(self.handle)))
            self.input_bytes = len(data)
        elif hasattr(file, "read"):
            self.callback = _Callback(file)
            self.read_fn = self.callback.reader()
            self.callback.check(
                lib.talveco_decoder_open_callbacks(self.read_fn, None, ctypes.byref(self.handle))
            )
        else:
            raise TypeError("file must be a path, bytes or a binary file object")
        stream = StreamInfo()
        lib.talveco_decoder_info(self.handle, ctypes.byref(stream))
        # A header of 0 channels is read as mono: its samples are still there.
        channels = max(stream.channels, 1)
        self.info = Info(
            channels, stream.sample_rate, stream.samples // channels, stream.levels, stream.rows
        )

    def read_into(self, samples):
        got = lib.talveco_decoder_read(self.handle, samples.ctypes.data, samples.size)
        if self.callback is not None:
            self.callback.check(0 if got >= 0 else int(-got))
        elif got < 0:
            raise _last_error(int(-got))
        return got

    def check_damage(self):
        """Takes the damage counts; a strict reader raises at the first."""
        if self.counter is None:
            return
        damaged, past_end = ctypes.c_uint64(), ctypes.c_uint64()
        _check(self.counter(self.handle, ctypes.byref(damaged), ctypes.byref(past_end)))
        self.damage = _Damage(damaged.value, past_end.value)
        if self.damage and self.strict:
            raise DamagedError(self.damage)

    def read_frames(self, frames, dtype):
        """Up to `frames` whole frames as a (frames, channels) array; fewer
        only at the end of the stream. The array starts at first_capacity and
        doubles while the stream delivers more; it is read into in pieces of
        at most _READ_PIECE frames, with the damage checked after each."""
        channels = self.info.channels
        samples = numpy.empty(self.first_capacity(frames) * channels, numpy.int16)
        total = 0  # samples read
        while total < frames * channels:
            if total == samples.size:
                samples = _grown(samples, min(frames * channels, 2 * samples.size))
            want = min(samples.size - total, _READ_PIECE * channels)
            got = self.read_into(samples[total : total + want])
            total += got
            self.check_damage()
            if got < want:
                break
        total -= total % channels  # a stream that ends early may end inside a frame
        return _converted(samples[:total].reshape(-1, channels), dtype)

    def first_capacity(self, frames):
        """The frames to allocate before reading `frames`."""
        if not self.strict:
            return frames  # all of them are wanted, whatever the input holds
        plausible = self.input_bytes * _SAMPLES_PER_BYTE // self.info.channels
        return min(frames, max(_READ_PIECE, plausible))

    def warn_of_damage(self):
        """A lenient reader's one warning, once the stream is read."""
        if self.damage:
            warnings.warn(DamagedWarning(self.damage), stacklevel=3)

    def close(self):
        if self.handle:
            lib.talveco_decoder_close(self.handle)
            self.handle = ctypes.c_void_p()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


def _grown(samples, size):
    # Doubling keeps the samples copied to fewer than the final count.
    grown = numpy.empty(size, samples.dtype)
    grown[: samples.size] = samples
    return grown


def _converted(data, dtype):
    dtype = numpy.dtype(dtype)
    if dtype == numpy.int16:
        return data
    if dtype == numpy.float32:
        return data.astype(numpy.float32) * numpy.float32(1 / 32768)
    raise ValueError("dtype must be 'int16' or 'float32'")


def _check_dtype(dtype):
    if numpy.dtype(dtype) not in (numpy.int16, numpy.float32):
        raise ValueError("dtype must be 'int16' or 'float32'")


def info(file):
    """The stream's header: channels, samplerate, frames, levels, rows, duration."""
    with _Decoder(file, strict=False) as decoder:
        return decoder.info


def read(file, dtype="int16", strict=True):
    """The whole stream as (data, samplerate), data shaped (frames, channels):
    int16 as decoded, or float32 in [-1, 1). A damaged or cut short stream
    raises DamagedError as soon as a read meets the damage; with
    strict=False it is decoded to the end (damaged blocks skipped, what lies
    past the end of a cut file near silence) and one DamagedWarning says
    what was wrong."""
    _check_dtype(dtype)
    with _Decoder(file, strict) as decoder:
        data = decoder.read_frames(decoder.info.frames, dtype)
        decoder.warn_of_damage()
        return data, decoder.info.samplerate


def blocks(file, blocksize, dtype="int16", strict=True):
    """Yields the stream in arrays of `blocksize` frames (the last may be
    shorter), for files too large to hold at once. Damage is raised, or
    with strict=False warned of at the end, as by read()."""
    _check_dtype(dtype)
    blocksize = _whole_number("blocksize", blocksize)
    if blocksize < 1:
        raise ValueError("blocksize must be at least 1")
    with _Decoder(file, strict) as decoder:
        while True:
            block = decoder.read_frames(blocksize, dtype)
            if len(block) > 0:
                yield block
            if len(block) < blocksize:
                decoder.warn_of_damage()
                return


def _whole_number(name, value):
    # bool is an int to Python, but True is no rate nor count anyone means.
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} wants a whole number, not {value!r}")
    return int(value)


def _number(name, value):
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} wants a number, not {value!r}")
    return float(value)


class _Arguments:
    """The encoder's arguments on their way to the library, which checks each
    against its one table of limits (talveco/limits.h) and refuses what lies
    outside with the words talveco-encode prints. Some values cannot reach it
    as given: ctypes wraps a negative or too large number into the 32 bits of
    an unsigned int (-1 becomes 4294967295, which levels and rows read as
    automatic), and a bitrate of 0 reads as constant quality. Such a value
    goes as a stand-in the library refuses for that same argument, and its
    refusal then quotes the value given."""

    # One stand-in for each argument, so that a refusal shows whose it was.
    STAND_INS = {
        "samplerate": 0xFFFFFFFE,
        "levels": 0xFFFFFFFD,
        "rows": 0xFFFFFFFC,
        "resample": 0xFFFFFFFB,
    }
    BITRATE_STAND_IN = -1.0

    def __init__(self):
        self.given = {}  # a stand-in as the library's message prints it -> the value given

    def unsigned(self, name, value):
        value = _whole_number(name, value)
        if 0 <= value < AUTOMATIC:
            return value
        stand_in = self.STAND_INS[name]
        self.given[str(stand_in)] = value
        return stand_in

    def bitrate(self, value):
        if _number("bitrate", value) != 0:
            return float(value)
        self.given["-1"] = value
        return self.BITRATE_STAND_IN

    def settings(self, quality, bitrate, levels, rows):
        settings = EncoderSettings()
        lib.talveco_encoder_settings_init(ctypes.byref(settings))
        if quality is not None:
            settings.quality = _number("quality", quality)
        if bitrate is not None:
            settings.bitrate_kbps = self.bitrate(bitrate)
        if levels is not None:
            settings.levels = self.unsigned("levels", levels)
        if rows is not None:
            settings.rows = self.unsigned("rows", rows)
        return settings

    def check(self, code):
        """_check for the open, with the value given where a stand-in went."""
        if code == 0:
            return
        error = _last_error(code)
        message = str(error)
        for shown, value in self.given.items():
            if message.endswith(", not " + shown):
                message = message[: -len(shown)] + str(value)
                error = Error(code, message, error.errno)
        raise error


# More channels than any surround layout has (7.1), in no more than two
# frames: a (channels, frames) array, which a fold would silently average.
_MOST_LAYOUT_CHANNELS = 8


def _transposed_hint(data):
    return (
        f"data shaped {data.shape} looks like (channels, frames), and write() takes"
        " (frames, channels): pass data.T"
    )


def _refuse_unencodable_channels(data, folded):
    channels = data.shape[1]
    if folded:
        if data.shape[0] <= 2 and channels > _MOST_LAYOUT_CHANNELS:
            raise ValueError(_transposed_hint(data))
        return
    if channels <= 2:
        return
    refused = (
        f"{channels} channels: only mono and stereo files can be encoded;"
        " channels=1 or 2 folds them"
    )
    if data.shape[0] <= 2:
        refused += "; " + _transposed_hint(data)
    raise ValueError(refused)


def _frames_of(data, folded):
    """data as (frames, channels); more than two channels only when `folded`."""
    data = numpy.asarray(data)
    if data.ndim == 1:
        data = data.reshape(-1, 1)
    if data.ndim != 2 or data.shape[1] < 1:
        raise ValueError("data must be 1-D (mono) or shaped (frames, channels)")
    _refuse_unencodable_channels(data, folded)
    # Any byte order and any strides: the library takes native int16 in rows
    # of whole frames, and floating point goes through a native copy anyway.
    if data.dtype.kind == "i" and data.dtype.itemsize == 2:
        return numpy.ascontiguousarray(data, numpy.int16)
    if data.dtype.kind == "f":
        return data
    raise TypeError("data must be int16 or floating point, not " + str(data.dtype))


def _write_samples(handle, data):
    if data.dtype == numpy.int16:
        return lib.talveco_encoder_write(handle, data.ctypes.data, data.size)
    rows = max(1, _FLOAT_PIECE // data.shape[1])
    for first in range(0, len(data), rows):
        piece = numpy.ascontiguousarray(data[first : first + rows], numpy.float64)
        code = lib.talveco_encoder_write_double(handle, piece.ctypes.data, piece.size)
        if code != 0:
            return code
    return 0


def _like_bytes(like):
    """The bytes of the earlier stream `like`: a path, bytes or a binary file object."""
    if isinstance(like, (str, os.PathLike)):
        with open(like, "rb") as f:
            return f.read()
    if hasattr(like, "read"):
        return like.read()
    return bytes(like)


def _set_like(handle, like):
    set_like = getattr(lib, "talveco_encoder_set_like", None)
    if set_like is None:
        raise NotImplementedError("like= needs libtalveco 1.2.0 or later")
    stream = _like_bytes(like)
    return set_like(handle, stream, len(stream))


def _stream_channels(channels, data):
    """The channels of the stream: `channels` (1 or 2), else the data's."""
    if channels is None:
        return data.shape[1]
    if _whole_number("channels", channels) not in (1, 2):
        raise ValueError(f"channels must be 1 (mono) or 2 (stereo), not {channels!r}")
    return int(channels)


def _set_input(handle, channels, rate):
    set_input = getattr(lib, "talveco_encoder_set_input", None)
    if set_input is None:
        raise NotImplementedError("resample= and channels= need libtalveco 1.3.0 or later")
    return set_input(handle, channels, rate)


def write(
    file,
    data,
    samplerate,
    quality=None,
    bitrate=None,
    levels=None,
    rows=None,
    like=None,
    resample=None,
    channels=None,
):
    """Encodes `data` (int16, or floating point with full scale at 1.0: beyond
    it clipped, NaN taken as 0, both counted) to an ACM stream at `file` (a path, written
    through a temporary file; or a binary file object). quality 0 to 10
    (default 5) or bitrate in kbit/s; levels and rows chosen when None.
    like, an earlier ACM stream (a path, bytes or a binary file object) that
    `data` is an edit of, as talveco-encode --like: its levels and rows are
    taken, and the blocks the edit left alone are coded as they were there, so
    that they decode exactly as before. Returns a Report.

    samplerate is the rate of `data`. resample=HZ gives the stream that rate
    (1 to 65535; data at 1 to 768000 Hz) and channels=1 or 2 that many
    channels, as talveco-encode --resample and --channels: channels folded
    (mono their average, 5.1's LFE left out; stereo of 4 channels or 5.1 with
    centre and surrounds at -3 dB), then resampled with libsoxr at its high
    quality, so that the stream is the program's of the same samples. The
    Report then counts the stream's samples. Both need libtalveco 1.3.0
    (else NotImplementedError).

    data is 1-D (mono) or shaped (frames, channels), mono or stereo as
    talveco-encode encodes (more channels only with channels=), in any byte
    order and with any strides. Numbers are checked, not wrapped or read as a
    default: a value outside the format's limits raises Error (kind
    "OutsideLimits") with the library's bounds and the value given;
    samplerate, resample, channels, levels and rows must be whole numbers,
    quality and bitrate numbers, and bool is neither."""
    fitted = resample is not None or channels is not None
    data = _frames_of(data, folded=channels is not None)
    arguments = _Arguments()
    rate = arguments.unsigned("samplerate", samplerate)
    stream_rate = rate if resample is None else arguments.unsigned("resample", resample)
    stream_channels = _stream_channels(channels, data)
    settings = arguments.settings(quality, bitrate, levels, rows)
    handle = ctypes.c_void_p()
    callback = None
    if isinstance(file, (str, os.PathLike)):
        arguments.check(
            lib.talveco_encoder_open_file(
                os.fsencode(file),
                stream_channels,
                stream_rate,
                ctypes.byref(settings),
                ctypes.byref(handle),
            )
        )
    elif hasattr(file, "write"):
        callback = _Callback(file)
        write_fn = callback.writer()
        arguments.check(
            lib.talveco_encoder_open_callbacks(
                stream_channels,
                stream_rate,
                ctypes.byref(settings),
                write_fn,
                None,
                ctypes.byref(handle),
            )
        )
    else:
        raise TypeError("file must be a path or a binary file object")
    try:
        if fitted:
            arguments.check(_set_input(handle, data.shape[1], rate))
        if like is not None:
            _check(_set_like(handle, like))
        _check(_write_samples(handle, data))
        code = lib.talveco_encoder_finish(handle, None, None)
        (callback.check if callback is not None else _check)(code)
        report = EncoderReport()
        _check(lib.talveco_encoder_report_get(handle, ctypes.byref(report)))
    finally:
        lib.talveco_encoder_close(handle)
    return Report(
        report.snr_db,
        report.bits_per_sample,
        report.levels,
        report.rows,
        report.samples,
        report.stream_bytes,
        report.clipped,
        report.not_numbers,
    )
