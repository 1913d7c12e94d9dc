#include "tests/decode_app/FlacReading.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

namespace talveco::testing {
namespace {

struct Reading {
    std::span<const std::uint8_t> rest;
    DecodedFlac decoded;
};

FLAC__StreamDecoderReadStatus readBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                        size_t* bytes, void* context) {
    auto& reading = *static_cast<Reading*>(context);
    const std::size_t count = std::min(*bytes, reading.rest.size());
    std::memcpy(buffer, reading.rest.data(), count);
    reading.rest = reading.rest.subspan(count);
    *bytes = count;
    return count == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                      : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus takeFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const channels[], void* context) {
    auto& decoded = static_cast<Reading*>(context)->decoded;
    for (unsigned i = 0; i < frame->header.blocksize; ++i) {
        for (unsigned channel = 0; channel < frame->header.channels; ++channel)
            decoded.samples.push_back(static_cast<std::int16_t>(channels[channel][i]));
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void takeStreamInfo(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                    void* context) {
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    auto& decoded = static_cast<Reading*>(context)->decoded;
    decoded.channels = metadata->data.stream_info.channels;
    decoded.rate = metadata->data.stream_info.sample_rate;
}

void noteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* context) {
    static_cast<Reading*>(context)->decoded.errors.push_back(
        FLAC__StreamDecoderErrorStatusString[status]);
}

}  // namespace

DecodedFlac decodeFlac(std::span<const std::uint8_t> bytes) {
    Reading reading{bytes, {}};
    FLAC__StreamDecoder* decoder = ::FLAC__stream_decoder_new();
    if (::FLAC__stream_decoder_init_stream(decoder, readBytes, nullptr, nullptr, nullptr, nullptr,
                                           takeFrame, takeStreamInfo, noteError,
                                           &reading) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        reading.decoded.errors.push_back("decoder not started");
    } else if (!::FLAC__stream_decoder_process_until_end_of_stream(decoder)) {
        reading.decoded.errors.push_back(
            FLAC__StreamDecoderStateString[::FLAC__stream_decoder_get_state(decoder)]);
    }
    ::FLAC__stream_decoder_delete(decoder);
    return reading.decoded;
}

}  // namespace talveco::testing
