#include <cctype>
#include <string_view>

#include "platform/windows/Win32.h"

namespace talveco::win32 {

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), result.data(),
                          length);
    return result;
}

std::string utf8(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int length = ::WideCharToMultiByte(
        CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), result.data(),
                          length, nullptr, nullptr);
    return result;
}

std::string_view lastPart(std::string_view path) noexcept {
    const auto separator = path.find_last_of("/\\:");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

bool isReservedDeviceName(std::string_view name) noexcept {
    // Windows ignores an extension and trailing spaces after a device name.
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    std::string upper;
    for (const char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace talveco::win32
