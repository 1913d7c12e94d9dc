#pragma once

#include <sys/types.h>

namespace talveco {

// Device and inode: two paths name the same file exactly when these agree,
// whatever links lie between them.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace talveco
