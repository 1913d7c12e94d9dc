// The part of the scratch file that is the same on POSIX systems and on
// Windows (WebAssembly keeps all of it in memory, in wasm/ScratchFile.cpp).
#include "platform/ScratchFile.h"

#include <cstdint>
#include <span>

#include "platform/OutputFile.h"

namespace talveco {

// The first kHeldInMemory bytes wait in memory; the file is made only when
// more come.
void ScratchFile::append(std::span<const std::byte> bytes) {
    if (fd_ < 0 && size_ + bytes.size() <= kHeldInMemory) {
        held_.insert(held_.end(), bytes.begin(), bytes.end());
        size_ += bytes.size();
        return;
    }
    if (fd_ < 0) moveToFile();
    writeAllAt(fd_, size_, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    size_ += bytes.size();
}

}  // namespace talveco
