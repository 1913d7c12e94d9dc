"""Where the module looks for the C library, per platform (faked: only the
choice of names is tested here, not a load on Windows)."""

import pytest

from talveco import _library

HERE = "C:\\Python\\site-packages\\talveco"


@pytest.mark.parametrize(
    "platform, environ, expected",
    [
        ("linux", {}, ["/pkg/talveco/libtalveco.so.1", "libtalveco.so.1"]),
        ("linux", {"PATH": "/usr/bin:/bin"}, ["/pkg/talveco/libtalveco.so.1", "libtalveco.so.1"]),
        ("linux", {"TALVECO_LIBRARY": "/b/libtalveco.so.1"}, ["/b/libtalveco.so.1"]),
        ("win32", {"TALVECO_LIBRARY": "D:\\b\\talveco.dll"}, ["D:\\b\\talveco.dll"]),
        ("win32", {}, ["/pkg/talveco\\talveco.dll"]),
        (
            "win32",
            {"PATH": "C:\\talveco\\bin;;D:\\tools"},
            [
                "/pkg/talveco\\talveco.dll",
                "C:\\talveco\\bin\\talveco.dll",
                "D:\\tools\\talveco.dll",
            ],
        ),
    ],
)
def test_candidates(platform, environ, expected):
    assert _library._candidates(platform, environ, "/pkg/talveco") == expected


def test_windows_paths_join_with_backslashes():
    found = _library._candidates("win32", {"PATH": "C:\\bin"}, HERE)
    assert found == [HERE + "\\talveco.dll", "C:\\bin\\talveco.dll"]
