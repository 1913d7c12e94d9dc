#pragma once

#include <cstdint>

namespace talveco {

// Two paths name the same file exactly when these agree, whatever links lie
// between them: the device and inode numbers on POSIX systems, the volume
// serial number and file index on Windows (whose st_ino is always 0).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace talveco
