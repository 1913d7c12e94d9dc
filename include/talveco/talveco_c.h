/* talveco's C interface: ACM audio streams to 16-bit PCM samples and back,
 * from any language that can call C (libtalveco.so.1).
 *
 *     talveco_decoder *d;
 *     if (talveco_decoder_open_file("speech.acm", &d) != 0) {
 *         fprintf(stderr, "Error: %s\n", talveco_error_message());
 *         return 1;
 *     }
 *     talveco_stream_info info;
 *     talveco_decoder_info(d, &info);
 *     int16_t chunk[4096];
 *     long long got;
 *     while ((got = talveco_decoder_read(d, chunk, 4096)) > 0) {
 *         ... chunk[0] to chunk[got - 1]: interleaved samples ...
 *     }
 *     talveco_decoder_close(d);
 *
 * Conventions of every function:
 * - Functions returning int return 0 on success or a TALVECO_E_* code; those
 *   returning a count return it (>= 0) or the negated code. On a failure,
 *   talveco_error_message() and talveco_error_errno() describe it until the
 *   next failing call on the same thread. Nothing else is ever reported: no
 *   C++ exception leaves the library and nothing is printed.
 * - Handles are opaque and owned by the caller from a successful open until
 *   the matching close, which frees everything and accepts NULL. A handle
 *   may be used from any thread, but from one thread at a time; different
 *   handles are independent. Using a handle after its close is undefined,
 *   as with free().
 * - A NULL handle or a NULL pointer where one is needed is refused with
 *   TALVECO_E_INVALID_ARGUMENT (void functions then do nothing).
 * - A caller's function (read or write) reports a failure as a negated
 *   system error number (-EIO, -ENOSPC), which gives the failure's code as
 *   the system's would (-ENOSPC: TALVECO_E_DISK_FULL), and
 *   talveco_error_errno() the number itself.
 * - Sample buffers hold interleaved 16-bit samples, all channels of the
 *   first frame, then of the second, and so on; counts are in samples, not
 *   bytes.
 */
#ifndef TALVECO_TALVECO_C_H
#define TALVECO_TALVECO_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The failures, named after the kinds the talveco programs report. The
 * values are fixed: they never change meaning, and new ones are added at the
 * end of their group. */
enum {
    TALVECO_OK = 0,
    TALVECO_E_NOT_ACM_FILE = 1,     /* "File does not appear to be a valid ACM file" */
    TALVECO_E_FILE_NOT_FOUND = 2,   /* "File not found" */
    TALVECO_E_INVALID_FILENAME = 3, /* "Invalid filename" */
    TALVECO_E_TOO_MANY_OPEN_FILES = 4,
    TALVECO_E_ACCESS_DENIED = 5,
    TALVECO_E_DISK_FULL = 6,
    TALVECO_E_OUT_OF_MEMORY = 7,
    TALVECO_E_IO_ERROR = 8,         /* any other system error: see talveco_error_errno() */
    TALVECO_E_TOO_MANY_SAMPLES = 9, /* more samples than an ACM header can announce */
    TALVECO_E_OUTSIDE_LIMITS = 10,  /* channels, rate or a setting the format cannot hold */
    TALVECO_E_PARTIAL_FRAME = 11,   /* samples that do not make whole frames */
    TALVECO_E_INVALID_CALL = 12,    /* a call the handle's state does not allow */
    TALVECO_E_FAILED_EARLIER = 13,  /* a call on an encoder that an earlier failure ended */
    /* The interface's own: */
    TALVECO_E_INVALID_ARGUMENT = 64, /* NULL where a pointer is needed */
    TALVECO_E_INTERNAL = 65          /* a failure the library has no other code for */
};

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* talveco_version(void);

/* The name of a code, as the C++ library names its failure kinds
 * ("NotAcmFile", "IoError", ...; "InvalidArgument" and "Internal" for this
 * interface's own; "Ok" for 0), NULL for a number that is no code. */
const char* talveco_error_name(int code);

/* This thread's last failure: the text the talveco programs print after
 * "Error: ", or for the codes of this interface a sentence naming the call.
 * An empty string before any failure. Valid until this thread's next call. */
const char* talveco_error_message(void);
/* The system error number of this thread's last failure, 0 if it had none. */
int talveco_error_errno(void);

/* ---- Decoding ---- */

typedef struct talveco_decoder talveco_decoder;

typedef struct {
    unsigned channels, sample_rate; /* as the stream's header states them */
    uint32_t samples;               /* samples of all channels together */
    unsigned levels, rows;          /* the block geometry */
} talveco_stream_info;

/* Opens a file, read-only, and reads its header; the file stays open until
 * the close. The decoder may read ahead on a second thread of its own. */
int talveco_decoder_open_file(const char* path, talveco_decoder** out);
/* Decodes bytes in memory; they are copied, so the caller's buffer may go. */
int talveco_decoder_open_memory(const void* data, size_t size, talveco_decoder** out);

/* Where a decoder opened with talveco_decoder_open_callbacks gets its bytes:
 * store up to `size` bytes at `buffer` and return how many, 0 at the end of
 * the data, or a negated system error number (-EIO) on a failure, which
 * every later read of the decoder reports again. It is called only during
 * the open and read calls of its decoder, on their thread. */
typedef long long (*talveco_read_fn)(void* user, void* buffer, size_t size);
int talveco_decoder_open_callbacks(talveco_read_fn read, void* user, talveco_decoder** out);

void talveco_decoder_info(const talveco_decoder* d, talveco_stream_info* info);

/* Decodes the next `count` samples into `samples` and returns how many were
 * stored: `count` until the end of the stream, fewer and then 0 only at its
 * end (the samples the header announced, or two damaged blocks in a row). A
 * damaged block is skipped. `samples` may be NULL only when count is 0. */
long long talveco_decoder_read(talveco_decoder* d, int16_t* samples, size_t count);

/* The damage the reads so far met: blocks that could not be decoded and were
 * skipped, and samples delivered from past the end of the input (a stream cut
 * short goes on as near silence up to the count its header announced). Both
 * 0 for a whole stream; the talveco programs fail a file when either is not.
 * Read and check after every read to stop at the first damage rather than
 * decode a whole damaged stream. Since 1.3.0. */
int talveco_decoder_damage(const talveco_decoder* d, uint64_t* damaged_blocks,
                           uint64_t* samples_past_end);

void talveco_decoder_close(talveco_decoder* d);

/* ---- Encoding ---- */

typedef struct talveco_encoder talveco_encoder;

/* levels and rows set to this are chosen from the material. */
#define TALVECO_AUTOMATIC 0xFFFFFFFFu

typedef struct {
    double quality;      /* constant quality, 0 (smallest) to 10 (best); default 5 */
    double bitrate_kbps; /* average bitrate, all channels together; 0 for constant quality */
    unsigned levels;     /* transform levels, 0 to 15, or TALVECO_AUTOMATIC (the default) */
    unsigned rows;       /* rows per block, 1 to 4095, or TALVECO_AUTOMATIC (the default) */
} talveco_encoder_settings;

/* What a finished encoder wrote. */
typedef struct {
    uint64_t samples;      /* all channels together, as the header announces */
    uint64_t stream_bytes; /* the whole stream, header included */
    double bits_per_sample;
    double snr_db;         /* of the decoded samples against the input; +inf when equal */
    unsigned levels, rows; /* the geometry in the header */
    uint64_t clipped;      /* samples talveco_encoder_write_double clipped to full scale */
    uint64_t not_numbers;  /* NaN samples talveco_encoder_write_double took as 0 */
} talveco_encoder_report;

/* The defaults of talveco-encode: quality 5, geometry automatic. */
void talveco_encoder_settings_init(talveco_encoder_settings* s);

/* An encoder of `channels` (1 to 65535) interleaved channels at `rate` Hz
 * (1 to 65535); `s` may be NULL for the defaults. Values outside the limits
 * of talveco/limits.h are refused with TALVECO_E_OUTSIDE_LIMITS. The file appears at `path`
 * only when finish succeeds (written through a temporary file beside it); a
 * failed or closed unfinished encoder leaves none. */
int talveco_encoder_open_file(const char* path, unsigned channels, unsigned rate,
                              const talveco_encoder_settings* s, talveco_encoder** out);
/* Keeps the stream in memory, for talveco_encoder_bytes after finish. */
int talveco_encoder_open_memory(unsigned channels, unsigned rate, const talveco_encoder_settings* s,
                                talveco_encoder** out);

/* Where an encoder opened with talveco_encoder_open_callbacks puts its
 * stream: take `size` bytes from `data` and return 0, or a negated system
 * error number (-EIO) on a failure, which fails the finish and the encoder.
 * A positive number is taken as the same error (-EIO and EIO alike), for
 * write functions written to this interface's first documentation. finish
 * calls it with the whole stream, in order, in pieces of any size, on its
 * own thread. */
typedef int (*talveco_write_fn)(void* user, const void* data, size_t size);
int talveco_encoder_open_callbacks(unsigned channels, unsigned rate,
                                   const talveco_encoder_settings* s, talveco_write_fn write,
                                   void* user, talveco_encoder** out);

/* Makes the encoder code an edit of an earlier ACM stream, as talveco-encode
 * --like does: the `size` bytes at `stream` (copied; size 0 drops an earlier
 * one). The new stream takes that stream's levels and rows (those of the
 * settings are ignored), and every block of the input whose samples are those
 * the earlier stream decodes to in one of its blocks, in place or moved by
 * whole blocks, is coded with that block's values and step, so that the
 * samples an edit left untouched come back exactly. Blocks holding its
 * samples at any other offset, or right after an edit, take its values where
 * the transform's rows line up (offsets of whole rows of 2^levels samples):
 * all but the first rows after an edit come back exactly. Where they do not,
 * such a block is coded to give every sample exactly where that costs at
 * most 1.5 times the bits of coding it afresh. Call it
 * after the open and before the first write or finish (later:
 * TALVECO_E_INVALID_CALL; on a failed encoder TALVECO_E_FAILED_EARLIER, as
 * every call). A stream that does not begin with an ACM header is
 * refused with TALVECO_E_NOT_ACM_FILE, blocks larger than the encoder makes
 * with TALVECO_E_OUTSIDE_LIMITS; a refusal leaves the encoder as it was.
 * Blocks from a damaged one on, or cut short, are not reused. Since 1.2.0. */
int talveco_encoder_set_like(talveco_encoder* e, const void* stream, size_t size);

/* Makes the encoder take samples of `channels` (1 to 65535) interleaved
 * channels at `rate` Hz (1 to 768000, the limits of talveco/limits.h) from
 * the next write on, and fit them to the stream's channels and rate (those
 * of the open) as talveco-encode --channels and --resample fit an input
 * file: channels folded to mono (their average, 5.1's LFE left out) or
 * stereo (mono on both sides; 4 channels and 5.1 with centre and surrounds
 * at -3 dB, LFE dropped), then resampled with libsoxr at its high quality
 * to as many frames as sox makes, and rounded to 16 bits. The stream is then
 * talveco-encode's of the same samples with the same settings. Writes take
 * whole frames of the input's channels; finish codes what the resampler
 * still holds; the report counts the stream's samples, and among clipped the
 * fitted samples beyond full scale. The stream's own channels and rate
 * drop an earlier call's fitting. Call it after the open and before the
 * first write or finish (later: TALVECO_E_INVALID_CALL; on a failed encoder
 * TALVECO_E_FAILED_EARLIER, as every call). Values outside the limits, and a
 * fold with no standard answer (3 channels to stereo, anything to more than
 * two channels), are refused with TALVECO_E_OUTSIDE_LIMITS and
 * talveco-encode's words; a refusal leaves the encoder as it was.
 * Since 1.3.0. */
int talveco_encoder_set_input(talveco_encoder* e, unsigned channels, unsigned rate);

/* Appends interleaved samples in pieces of whole frames (a multiple of the
 * channel count, else TALVECO_E_PARTIAL_FRAME); the stream does not depend
 * on how the samples are cut into pieces. A failure is final: every later
 * call of that encoder fails with TALVECO_E_FAILED_EARLIER and nothing is
 * committed (a file encoder's temporary file is removed at once). `samples`
 * may be NULL only when count is 0. */
int talveco_encoder_write(talveco_encoder* e, const int16_t* samples, size_t count);
/* The same from full-scale values (-1 to 1), rounded to 16 bits as
 * talveco-encode rounds floating-point files: beyond full scale clipped, NaN
 * taken as 0, each counted in the report. */
int talveco_encoder_write_double(talveco_encoder* e, const double* samples, size_t count);

/* Codes the rest and completes the stream (the file, the memory or the
 * callback). Call once; a second call, or a write after it, fails with
 * TALVECO_E_INVALID_CALL. snr_db and bits_per_sample may be NULL. */
int talveco_encoder_finish(talveco_encoder* e, double* snr_db, double* bits_per_sample);
/* The report of a finished encoder (else TALVECO_E_INVALID_CALL, or
 * TALVECO_E_FAILED_EARLIER once it failed). */
int talveco_encoder_report_get(const talveco_encoder* e, talveco_encoder_report* report);
/* The stream of a finished memory encoder, valid until its close (else
 * TALVECO_E_INVALID_CALL: a file or write function encoder keeps none; or
 * TALVECO_E_FAILED_EARLIER once it failed). */
int talveco_encoder_bytes(const talveco_encoder* e, const uint8_t** data, size_t* size);

void talveco_encoder_close(talveco_encoder* e);

#ifdef __cplusplus
}
#endif

#endif
