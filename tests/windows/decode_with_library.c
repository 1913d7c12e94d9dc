/* Decodes one stream through talveco.dll, as a Windows program built against
 * the zip's header and import library would: decode_with_library IN OUT
 * writes the samples as 16-bit little-endian raw data and prints the stream's
 * channels and rate. */
#include <stdio.h>

#include <talveco/talveco_c.h>

static int fail(const char* what) {
    fprintf(stderr, "decode_with_library: %s: %s\n", what, talveco_error_message());
    return 1;
}

static int copy_samples(talveco_decoder* decoder, FILE* out) {
    int16_t samples[4096];
    long long count;
    while ((count = talveco_decoder_read(decoder, samples, 4096)) > 0) {
        if (fwrite(samples, sizeof samples[0], (size_t)count, out) != (size_t)count) {
            return -1;
        }
    }
    return count < 0 ? -1 : 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: decode_with_library IN.acm OUT.raw\n");
        return 2;
    }
    talveco_decoder* decoder = NULL;
    if (talveco_decoder_open_file(argv[1], &decoder) != 0) {
        return fail(argv[1]);
    }
    talveco_stream_info info;
    talveco_decoder_info(decoder, &info);
    FILE* out = fopen(argv[2], "wb");
    int status = out == NULL || copy_samples(decoder, out) != 0;
    if (out != NULL && fclose(out) != 0) {
        status = 1;
    }
    if (status != 0) {
        fail(argv[2]);
    }
    talveco_decoder_close(decoder);
    printf("%u channels, %u Hz\n", info.channels, info.sample_rate);
    return status;
}
