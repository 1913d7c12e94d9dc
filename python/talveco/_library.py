"""libtalveco (libtalveco.so.1, or talveco.dll on Windows), loaded with ctypes,
and the C signatures of its functions.

ctypes releases the GIL for the length of every call into the library, so
decoding and encoding run while other Python threads go on.
"""

import ctypes
import ntpath
import os
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))


def _library_name(platform):
    return "talveco.dll" if platform == "win32" else "libtalveco.so.1"


def _candidates(platform=sys.platform, environ=os.environ, here=_HERE):
    # TALVECO_LIBRARY names another build (the tests use the build tree's);
    # then the copy the package was installed with; then the system's.
    named = environ.get("TALVECO_LIBRARY")
    if named:
        return [named]
    name = _library_name(platform)
    if platform != "win32":
        return [os.path.join(here, name), name]
    # Python on Windows no longer looks for DLLs on PATH, where the zip's
    # bin folder is put, so each folder of PATH is tried by full name.
    folders = [folder for folder in environ.get("PATH", "").split(";") if folder]
    return [ntpath.join(here, name)] + [ntpath.join(folder, name) for folder in folders]


def _load():
    failures = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            failures.append(str(error))
    name = _library_name(sys.platform)
    raise ImportError(f"talveco: cannot load {name}: " + "; ".join(failures))


class StreamInfo(ctypes.Structure):
    _fields_ = [
        ("channels", ctypes.c_uint),
        ("sample_rate", ctypes.c_uint),
        ("samples", ctypes.c_uint32),
        ("levels", ctypes.c_uint),
        ("rows", ctypes.c_uint),
    ]


class EncoderSettings(ctypes.Structure):
    _fields_ = [
        ("quality", ctypes.c_double),
        ("bitrate_kbps", ctypes.c_double),
        ("levels", ctypes.c_uint),
        ("rows", ctypes.c_uint),
    ]


class EncoderReport(ctypes.Structure):
    _fields_ = [
        ("samples", ctypes.c_uint64),
        ("stream_bytes", ctypes.c_uint64),
        ("bits_per_sample", ctypes.c_double),
        ("snr_db", ctypes.c_double),
        ("levels", ctypes.c_uint),
        ("rows", ctypes.c_uint),
        ("clipped", ctypes.c_uint64),
        ("not_numbers", ctypes.c_uint64),
    ]


AUTOMATIC = 0xFFFFFFFF
READ_FN = ctypes.CFUNCTYPE(ctypes.c_longlong, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)

lib = _load()

_P = ctypes.POINTER
_int, _size, _void_p, _char_p = ctypes.c_int, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p
_handle = _P(_void_p)
_SIGNATURES = {
    "talveco_version": (_char_p, []),
    "talveco_error_name": (_char_p, [_int]),
    "talveco_error_message": (_char_p, []),
    "talveco_error_errno": (_int, []),
    "talveco_decoder_open_file": (_int, [_char_p, _handle]),
    "talveco_decoder_open_memory": (_int, [_void_p, _size, _handle]),
    "talveco_decoder_open_callbacks": (_int, [READ_FN, _void_p, _handle]),
    "talveco_decoder_info": (None, [_void_p, _P(StreamInfo)]),
    "talveco_decoder_read": (ctypes.c_longlong, [_void_p, _void_p, _size]),
    "talveco_decoder_close": (None, [_void_p]),
    "talveco_encoder_settings_init": (None, [_P(EncoderSettings)]),
    "talveco_encoder_open_file": (
        _int,
        [_char_p, ctypes.c_uint, ctypes.c_uint, _P(EncoderSettings), _handle],
    ),
    "talveco_encoder_open_callbacks": (
        _int,
        [ctypes.c_uint, ctypes.c_uint, _P(EncoderSettings), WRITE_FN, _void_p, _handle],
    ),
    "talveco_encoder_write": (_int, [_void_p, _void_p, _size]),
    "talveco_encoder_write_double": (_int, [_void_p, _void_p, _size]),
    "talveco_encoder_finish": (_int, [_void_p, _P(ctypes.c_double), _P(ctypes.c_double)]),
    "talveco_encoder_report_get": (_int, [_void_p, _P(EncoderReport)]),
    "talveco_encoder_close": (None, [_void_p]),
}
# Functions a library of an earlier 1.x may lack: bound when present, so that
# the module still loads over it and only their use fails.
_LATER_SIGNATURES = {
    "talveco_encoder_set_like": (_int, [_void_p, _void_p, _size]),  # 1.2.0
    "talveco_decoder_damage": (_int, [_void_p, _P(ctypes.c_uint64), _P(ctypes.c_uint64)]),  # 1.3.0
    "talveco_encoder_set_input": (_int, [_void_p, ctypes.c_uint, ctypes.c_uint]),  # 1.3.0
}
for _name, (_result, _arguments) in _SIGNATURES.items():
    _function = getattr(lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments
for _name, (_result, _arguments) in _LATER_SIGNATURES.items():
    _function = getattr(lib, _name, None)
    if _function is not None:
        _function.restype = _result
        _function.argtypes = _arguments
