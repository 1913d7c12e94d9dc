#include "acm/BitReader.h"

#include <algorithm>

#include "platform/Pages.h"

namespace talveco {

BitReader::BitReader(ByteSource& input, std::size_t readSize) : input_(input) {
    resizeWithPagesMapped(readBuffer_, std::max<std::size_t>(readSize, 1));
}

BitWindow BitReader::ensureBitsFrom(BitWindow window, unsigned n) {
    window_ = window;
    ensureBits(n);
    return window_;
}

void BitReader::refillReadBuffer() {
    std::size_t got = std::min(input_.readSome(readBuffer_), readBuffer_.size());
    if (got == 0) {
        // The end of the input: hand out a buffer of zero bytes as if it had
        // been read, and ask the input again once they are used up.
        std::fill(readBuffer_.begin(), readBuffer_.end(), std::uint8_t{0});
        if (!inputEnded_) endOfInputBit_ = bytesFetched_ * 8;
        inputEnded_ = true;
        got = readBuffer_.size();
    }
    window_.readPos = 0;
    window_.readLeft = got;
    bytesFetched_ += got;
}

}  // namespace talveco
