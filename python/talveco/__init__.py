"""ACM audio streams as numpy arrays, through talveco's C library.

    import talveco
    data, samplerate = talveco.read("speech.acm")      # (frames, channels) int16
    report = talveco.write("copy.acm", data, samplerate, quality=7)

A file is a path, bytes (read only), or a binary file object. Failures raise
talveco.Error with the message the talveco programs print and the kind of
failure; the GIL is released while the library decodes or encodes.
"""

import ctypes
import errno
import os
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

__all__ = ["Error", "Info", "Report", "read", "info", "blocks", "write", "__version__"]
__version__ = lib.talveco_version().decode()

# Samples converted to float64 at a time when writing floating-point data.
_FLOAT_PIECE = 1 << 20


class Error(Exception):
    """A failure of the library: str() is the programs' message, `kind` the
    failure's name ("NotAcmFile", "FileNotFound", "IoError", ...,
    "OutsideLimits", "InvalidCall", ...), `errno` the system error number or 0."""

    def __init__(self, code, message, error_number=0):
        super().__init__(message)
        self.code = code
        self.kind = (lib.talveco_error_name(code) or b"Unknown").decode()
        self.errno = error_number


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
                return self.fail(exception)

        return WRITE_FN(write)

    def check(self, code):
        if self.raised is not None:
            raised, self.raised = self.raised, None
            raise raised
        _check(code)


class _Decoder:
    def __init__(self, file):
        self.handle = ctypes.c_void_p()
        self.callback = None
        if isinstance(file, (str, os.PathLike)):
            _check(lib.talveco_decoder_open_file(os.fsencode(file), ctypes.byref(self.handle)))
        elif isinstance(file, (bytes, bytearray, memoryview)):
            data = bytes(file) if not isinstance(file, bytes) else file
            _check(lib.talveco_decoder_open_memory(data, len(data), ctypes.byref(self.handle)))
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

    def read_frames(self, frames, dtype):
        """Up to `frames` whole frames as a (frames, channels) array; fewer
        only at the end of the stream."""
        channels = self.info.channels
        samples = numpy.empty(frames * channels, numpy.int16)
        got = self.read_into(samples) // channels * channels
        data = samples[:got].reshape(-1, channels)
        return _converted(data, dtype)

    def close(self):
        if self.handle:
            lib.talveco_decoder_close(self.handle)
            self.handle = ctypes.c_void_p()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


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
    with _Decoder(file) as decoder:
        return decoder.info


def read(file, dtype="int16"):
    """The whole stream as (data, samplerate), data shaped (frames, channels):
    int16 as decoded, or float32 in [-1, 1)."""
    _check_dtype(dtype)
    with _Decoder(file) as decoder:
        return decoder.read_frames(decoder.info.frames, dtype), decoder.info.samplerate


def blocks(file, blocksize, dtype="int16"):
    """Yields the stream in arrays of `blocksize` frames (the last may be
    shorter), for files too large to hold at once."""
    _check_dtype(dtype)
    if blocksize < 1:
        raise ValueError("blocksize must be at least 1")
    with _Decoder(file) as decoder:
        while True:
            block = decoder.read_frames(blocksize, dtype)
            if len(block) == 0:
                return
            yield block
            if len(block) < blocksize:
                return


def _settings(quality, bitrate, levels, rows):
    settings = EncoderSettings()
    lib.talveco_encoder_settings_init(ctypes.byref(settings))
    if quality is not None:
        settings.quality = quality
    if bitrate is not None:
        settings.bitrate_kbps = bitrate
    for name, value in (("levels", levels), ("rows", rows)):
        if value is not None:
            if not 0 <= value < AUTOMATIC:
                raise ValueError(f"{name} out of range: {value}")
            setattr(settings, name, value)
    return settings


def _frames_of(data):
    data = numpy.asarray(data)
    if data.ndim == 1:
        data = data.reshape(-1, 1)
    if data.ndim != 2 or data.shape[1] < 1:
        raise ValueError("data must be 1-D (mono) or shaped (frames, channels)")
    if data.dtype == numpy.int16:
        return numpy.ascontiguousarray(data)
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


def write(file, data, samplerate, quality=None, bitrate=None, levels=None, rows=None, like=None):
    """Encodes `data` (int16, or floating point with full scale at 1.0: beyond
    it clipped, NaN taken as 0, both counted) to an ACM stream at `file` (a path, written
    through a temporary file; or a binary file object). quality 0 to 10
    (default 5) or bitrate in kbit/s; levels and rows chosen when None.
    like, an earlier ACM stream (a path, bytes or a binary file object) that
    `data` is an edit of, as talveco-encode --like: its levels and rows are
    taken, and the blocks the edit left alone are coded as they were there, so
    that they decode exactly as before. Returns a Report."""
    data = _frames_of(data)
    settings = _settings(quality, bitrate, levels, rows)
    handle = ctypes.c_void_p()
    callback = None
    channels = data.shape[1]
    if isinstance(file, (str, os.PathLike)):
        _check(
            lib.talveco_encoder_open_file(
                os.fsencode(file), channels, samplerate, ctypes.byref(settings), ctypes.byref(handle)
            )
        )
    elif hasattr(file, "write"):
        callback = _Callback(file)
        write_fn = callback.writer()
        _check(
            lib.talveco_encoder_open_callbacks(
                channels, samplerate, ctypes.byref(settings), write_fn, None, ctypes.byref(handle)
            )
        )
    else:
        raise TypeError("file must be a path or a binary file object")
    try:
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
