/* The C interface from C: every stream of make_api_streams' table decodes to
 * the C++ library's samples and encodes to talveco-encode's bytes through each
 * way in (file, memory, callbacks); failures arrive as the right code and the
 * programs' words; misuse is refused.
 *   c_api_test DIR    (DIR as make_api_streams wrote it) */
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "talveco/talveco_c.h"

static int failures;
static int checks;
static const char* directory;

#define CHECK(condition, ...)                                               \
    do {                                                                    \
        ++checks;                                                           \
        if (!(condition)) {                                                 \
            ++failures;                                                     \
            fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                   \
            fputc('\n', stderr);                                            \
        }                                                                   \
    } while (0)

typedef struct {
    unsigned char* data;
    size_t size;
} bytes;

static char* path_of(const char* name, const char* extension) {
    static char path[4096];
    snprintf(path, sizeof path, "%s/%s%s", directory, name, extension);
    return path;
}

static bytes load(const char* path) {
    bytes b = {NULL, 0};
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        fprintf(stderr, "cannot open %s\n", path);
        exit(2);
    }
    fseek(file, 0, SEEK_END);
    b.size = (size_t)ftell(file);
    rewind(file);
    b.data = malloc(b.size + 1);
    if (b.data == NULL || fread(b.data, 1, b.size, file) != b.size) exit(2);
    fclose(file);
    return b;
}

/* ---- decoding ---- */

/* A read function over bytes in memory, in pieces of at most `piece`; it
 * fails with `error` once `fail_at` bytes have been delivered. */
typedef struct {
    const bytes* source;
    size_t at, piece, fail_at;
    int error;
} memory_reader;

static long long read_memory(void* user, void* buffer, size_t size) {
    memory_reader* r = user;
    if (r->error != 0 && r->at >= r->fail_at) return -r->error;
    size_t n = r->source->size - r->at;
    if (n > size) n = size;
    if (n > r->piece) n = r->piece;
    memcpy(buffer, r->source->data + r->at, n);
    r->at += n;
    return (long long)n;
}

/* Reads everything in pieces of varying size, as a player would. */
static size_t read_all(talveco_decoder* d, int16_t* out, size_t capacity) {
    static const size_t pieces[] = {1, 333, 4096, 65537};
    size_t total = 0;
    for (unsigned i = 0;; ++i) {
        size_t want = pieces[i % 4];
        if (want > capacity - total) want = capacity - total;
        long long got = talveco_decoder_read(d, out + total, want);
        CHECK(got >= 0, "read failed: %s", talveco_error_message());
        if (got <= 0 || want == 0) break;
        total += (size_t)got;
    }
    return total;
}

/* `damaged` and `past_end`: the C++ library's counts of the stream's damage. */
static void check_decode(const char* name, uint64_t damaged, uint64_t past_end) {
    bytes stream = load(path_of(name, ".acm"));
    bytes expected = load(path_of(name, ".pcm"));
    size_t count = expected.size / 2;
    int16_t* samples = malloc((count + 70000) * sizeof *samples);
    for (int way = 0; way < 3; ++way) {
        talveco_decoder* d = NULL;
        memory_reader reader = {&stream, 0, 1000, 0, 0};
        int code = way == 0   ? talveco_decoder_open_file(path_of(name, ".acm"), &d)
                   : way == 1 ? talveco_decoder_open_memory(stream.data, stream.size, &d)
                              : talveco_decoder_open_callbacks(read_memory, &reader, &d);
        CHECK(code == 0, "%s, way %d: %s", name, way, talveco_error_message());
        if (code != 0) continue;
        talveco_stream_info info;
        talveco_decoder_info(d, &info);
        CHECK(info.samples >= count, "%s: header %u, decoded %zu", name, (unsigned)info.samples,
              count);
        size_t got = read_all(d, samples, count + 70000);
        CHECK(got == count && memcmp(samples, expected.data, expected.size) == 0,
              "%s, way %d: %zu samples, %zu expected", name, way, got, count);
        CHECK(talveco_decoder_read(d, samples, 10) == 0, "%s: read after the end", name);
        uint64_t met_damaged = 0, met_past_end = 0;
        CHECK(talveco_decoder_damage(d, &met_damaged, &met_past_end) == 0 &&
                  met_damaged == damaged && met_past_end == past_end,
              "%s, way %d: damage %llu/%llu, the library counts %llu/%llu", name, way,
              (unsigned long long)met_damaged, (unsigned long long)met_past_end,
              (unsigned long long)damaged, (unsigned long long)past_end);
        talveco_decoder_close(d);
    }
    free(samples);
    free(stream.data);
    free(expected.data);
}

/* ---- encoding ---- */

static int collect(void* user, const void* data, size_t size) {
    bytes* b = user;
    unsigned char* grown = realloc(b->data, b->size + size);
    if (grown == NULL) return ENOMEM;
    memcpy(grown + b->size, data, size);
    b->data = grown;
    b->size += size;
    return 0;
}

static double setting(const char* field, double fallback) {
    return strcmp(field, "-") == 0 ? fallback : atof(field);
}

/* Writes in pieces of whole frames of varying size. */
static int write_pieces(talveco_encoder* e, const bytes* input, int floating, unsigned channels) {
    size_t width = floating ? sizeof(float) : sizeof(int16_t);
    size_t count = input->size / width, at = 0;
    double* converted = malloc((count + 1) * sizeof *converted);
    for (unsigned i = 0; at < count; ++i) {
        size_t n = channels * (size_t)(i % 3 == 0 ? 1 : 4099);
        if (n > count - at) n = count - at;
        int code;
        if (floating) {
            for (size_t k = 0; k < n; ++k) {
                float value;
                memcpy(&value, input->data + (at + k) * width, sizeof value);
                converted[k] = value;
            }
            code = talveco_encoder_write_double(e, converted, n);
        } else {
            code = talveco_encoder_write(e, (const int16_t*)(const void*)input->data + at, n);
        }
        if (code != 0) {
            free(converted);
            return code;
        }
        at += n;
    }
    free(converted);
    return 0;
}

static void check_encode(char** field) {
    const char* name = field[1];
    unsigned channels = (unsigned)atoi(field[2]), rate = (unsigned)atoi(field[3]);
    int floating = strcmp(field[4], "float32") == 0;
    talveco_encoder_settings s;
    talveco_encoder_settings_init(&s);
    s.quality = setting(field[5], s.quality);
    s.bitrate_kbps = setting(field[6], 0);
    s.levels = (unsigned)setting(field[7], TALVECO_AUTOMATIC);
    s.rows = (unsigned)setting(field[8], TALVECO_AUTOMATIC);
    bytes input = load(path_of(name, floating ? ".f32" : ".pcm"));
    bytes expected = load(path_of(name, ".acm"));
    char out_path[4096];
    snprintf(out_path, sizeof out_path, "%s", path_of(name, ".c-api.acm"));

    for (int way = 0; way < 3; ++way) {
        talveco_encoder* e = NULL;
        bytes collected = {NULL, 0};
        int code = way == 0   ? talveco_encoder_open_file(out_path, channels, rate, &s, &e)
                   : way == 1 ? talveco_encoder_open_memory(channels, rate, &s, &e)
                              : talveco_encoder_open_callbacks(channels, rate, &s, collect,
                                                               &collected, &e);
        CHECK(code == 0, "%s, way %d: %s", name, way, talveco_error_message());
        if (code != 0) continue;
        double snr = 0, bits = 0;
        code = write_pieces(e, &input, floating, channels);
        if (code == 0) code = talveco_encoder_finish(e, &snr, &bits);
        CHECK(code == 0, "%s, way %d: %s", name, way, talveco_error_message());
        talveco_encoder_report report;
        CHECK(talveco_encoder_report_get(e, &report) == 0, "%s: no report", name);
        CHECK(report.stream_bytes == expected.size && report.snr_db == snr &&
                  report.bits_per_sample == bits,
              "%s: report of %llu bytes", name, (unsigned long long)report.stream_bytes);
        CHECK((report.clipped > 0) == floating, "%s: %llu clipped", name,
              (unsigned long long)report.clipped);
        bytes made = collected;
        if (way == 0) made = load(out_path);
        if (way == 1) talveco_encoder_bytes(e, (const uint8_t**)&made.data, &made.size);
        CHECK(made.size == expected.size && memcmp(made.data, expected.data, made.size) == 0,
              "%s, way %d: %zu bytes unlike talveco-encode's %zu", name, way, made.size,
              expected.size);
        if (way != 1) free(made.data);
        talveco_encoder_close(e);
    }
    remove(out_path);
    free(input.data);
    free(expected.data);
}

/* ---- re-encoding an edit ---- */

/* Decodes a whole stream held in memory into `out` (room for `capacity`). */
static size_t decode_memory(const bytes* stream, int16_t* out, size_t capacity) {
    talveco_decoder* d = NULL;
    CHECK(talveco_decoder_open_memory(stream->data, stream->size, &d) == 0, "%s",
          talveco_error_message());
    size_t got = d == NULL ? 0 : read_all(d, out, capacity);
    talveco_decoder_close(d);
    return got;
}

/* Encodes to memory, like `like` when it is not NULL; returns the stream. */
static bytes encode_memory(const int16_t* samples, size_t count, const bytes* like,
                           const talveco_encoder_settings* s, talveco_encoder_report* report) {
    talveco_encoder* e = NULL;
    bytes out = {NULL, 0};
    CHECK(talveco_encoder_open_memory(1, 22050, s, &e) == 0, "%s", talveco_error_message());
    if (like != NULL)
        CHECK(talveco_encoder_set_like(e, like->data, like->size) == 0, "%s",
              talveco_error_message());
    CHECK(talveco_encoder_write(e, samples, count) == 0 &&
              talveco_encoder_finish(e, NULL, NULL) == 0 &&
              talveco_encoder_report_get(e, report) == 0,
          "%s", talveco_error_message());
    const uint8_t* data = NULL;
    talveco_encoder_bytes(e, &data, &out.size);
    out.data = malloc(out.size);
    if (out.data == NULL) exit(2);
    memcpy(out.data, data, out.size);
    talveco_encoder_close(e);
    return out;
}

/* A decoded stream with a stretch replaced, coded again like the original with
 * other levels asked for: the original's geometry is kept and every block the
 * edit left alone, but the one right after it, decodes exactly as before. */
static void check_like(void) {
    enum { count = 40000, edit_from = 17000, edit_to = 19000 };
    static int16_t made[count], edited[count], again[count + 1];
    for (unsigned i = 0; i < count; ++i) {
        const double t = (double)i;
        const double hiss = (double)((uint32_t)(i * 2654435761u) >> 22) - 512;
        const double fade = i < 1024 ? t / 1024 : 1.0;
        made[i] = (int16_t)lrint(fade * (6000 * sin(t * 0.1253) + 2500 * sin(t * 0.3571) + hiss));
    }
    talveco_encoder_settings s;
    talveco_encoder_settings_init(&s);
    talveco_encoder_report first, second;
    bytes original = encode_memory(made, count, NULL, &s, &first);
    CHECK(decode_memory(&original, edited, count) == count, "decoding the original");
    for (size_t i = edit_from; i < edit_to; ++i)
        edited[i] = (int16_t)(edited[i] / 2);
    s.levels = first.levels == 3 ? 4 : 3;
    bytes redone = encode_memory(edited, count, &original, &s, &second);
    CHECK(second.levels == first.levels && second.rows == first.rows, "geometry %u/%u, not %u/%u",
          second.levels, second.rows, first.levels, first.rows);
    CHECK(decode_memory(&redone, again, count + 1) == count, "decoding the edit");
    const size_t block = (size_t)first.rows << first.levels;
    size_t differing = 0;
    for (size_t i = 0; i < count; ++i) {
        /* The block after the edit starts from other carries: its first rows may differ. */
        const int touched =
            i / block >= edit_from / block && i / block <= (edit_to - 1) / block + 1;
        if (!touched && again[i] != edited[i]) ++differing;
    }
    CHECK(differing == 0, "%zu untouched samples differ", differing);
    free(original.data);
    free(redone.data);
}

/* ---- failures and misuse ---- */

static void check_failure(int code, int expected, const char* message, int error_number,
                          const char* what) {
    CHECK(code == expected, "%s: code %d, expected %d (%s)", what, code, expected,
          talveco_error_message());
    if (message != NULL)
        CHECK(strcmp(talveco_error_message(), message) == 0, "%s: said \"%s\"", what,
              talveco_error_message());
    if (error_number >= 0)
        CHECK(talveco_error_errno() == error_number, "%s: errno %d", what, talveco_error_errno());
}

static void check_failures(void) {
    talveco_decoder* d = (talveco_decoder*)&d;
    check_failure(talveco_decoder_open_file(path_of("missing", ".acm"), &d),
                  TALVECO_E_FILE_NOT_FOUND, "File not found", ENOENT, "missing file");
    CHECK(d == NULL, "a failed open leaves no handle");
    check_failure(talveco_decoder_open_file(path_of("stereo-7x16", ".pcm"), &d),
                  TALVECO_E_NOT_ACM_FILE, "File does not appear to be a valid ACM file", 0,
                  "no ACM file");
    check_failure(talveco_decoder_open_file(path_of("stereo-7x16", ".acm/x"), &d),
                  TALVECO_E_INVALID_FILENAME, "Invalid filename", -1, "file as directory");
    check_failure(talveco_decoder_open_memory("\x97\x28\x03", 3, &d), TALVECO_E_NOT_ACM_FILE, NULL,
                  0, "three bytes");

    /* System errors from a read function, at the header and later on. */
    static const struct {
        int error, code;
        const char* message;
    } errors[] = {
        {EIO, TALVECO_E_IO_ERROR, "I/O error 5"},
        {ENOSPC, TALVECO_E_DISK_FULL, "Disk full"},
        {EMFILE, TALVECO_E_TOO_MANY_OPEN_FILES, "Too many open files"},
        {ENOMEM, TALVECO_E_OUT_OF_MEMORY, "Out of memory"},
        {EACCES, TALVECO_E_ACCESS_DENIED, "File access denied"},
        {ENOENT, TALVECO_E_FILE_NOT_FOUND, "File not found"},
    };
    bytes stream = load(path_of("stereo-7x16", ".acm"));
    int16_t samples[4096];
    for (size_t i = 0; i < sizeof errors / sizeof errors[0]; ++i) {
        memory_reader at_header = {&stream, 0, 1000, 0, errors[i].error};
        check_failure(talveco_decoder_open_callbacks(read_memory, &at_header, &d), errors[i].code,
                      errors[i].message, errors[i].error, "read function at the header");
        memory_reader later = {&stream, 0, 1000, 2000, errors[i].error};
        CHECK(talveco_decoder_open_callbacks(read_memory, &later, &d) == 0, "open");
        long long got;
        while ((got = talveco_decoder_read(d, samples, 4096)) > 0)
            continue;
        check_failure((int)-got, errors[i].code, errors[i].message, errors[i].error,
                      "read function later");
        later.error = 0; /* the input would go on, but the failure stays */
        check_failure((int)-talveco_decoder_read(d, samples, 4096), errors[i].code, NULL, -1,
                      "read after a failure");
        talveco_decoder_close(d);
    }
    free(stream.data);

    /* Every code has a name, and only codes do. */
    static const int codes[] = {TALVECO_OK,
                                TALVECO_E_NOT_ACM_FILE,
                                TALVECO_E_FILE_NOT_FOUND,
                                TALVECO_E_INVALID_FILENAME,
                                TALVECO_E_TOO_MANY_OPEN_FILES,
                                TALVECO_E_ACCESS_DENIED,
                                TALVECO_E_DISK_FULL,
                                TALVECO_E_OUT_OF_MEMORY,
                                TALVECO_E_IO_ERROR,
                                TALVECO_E_TOO_MANY_SAMPLES,
                                TALVECO_E_OUTSIDE_LIMITS,
                                TALVECO_E_PARTIAL_FRAME,
                                TALVECO_E_INVALID_CALL,
                                TALVECO_E_FAILED_EARLIER,
                                TALVECO_E_INVALID_ARGUMENT,
                                TALVECO_E_INTERNAL};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        const char* name = talveco_error_name(codes[i]);
        CHECK(name != NULL, "code %d has no name", codes[i]);
        for (size_t j = 0; j < i && name != NULL; ++j)
            CHECK(strcmp(name, talveco_error_name(codes[j])) != 0, "%s twice", name);
    }
    CHECK(talveco_error_name(-1) == NULL && talveco_error_name(63) == NULL, "names of no code");
    CHECK(strcmp(talveco_error_name(TALVECO_E_NOT_ACM_FILE), "NotAcmFile") == 0 &&
              strcmp(talveco_error_name(TALVECO_E_FAILED_EARLIER), "FailedEarlier") == 0,
          "names follow the failure kinds");
}

/* ---- damage ---- */

/* The counts are those met so far: of a header alone (every sample from past
 * the end of the input) after a first read of 4096 samples, then at the end.
 * The table's streams check the final counts of real damage. */
static void check_damage(void) {
    bytes header = load(path_of("speech-default", ".acm"));
    static int16_t samples[65536];
    talveco_decoder* d = NULL;
    uint64_t damaged = 7, past_end = 7;
    CHECK(talveco_decoder_open_memory(header.data, 14, &d) == 0, "%s", talveco_error_message());
    long long got = talveco_decoder_read(d, samples, 4096);
    CHECK(got == 4096 && talveco_decoder_damage(d, &damaged, &past_end) == 0 && damaged == 0 &&
              past_end == 4096,
          "header alone, first read: %llu damaged, %llu past the end", (unsigned long long)damaged,
          (unsigned long long)past_end);
    long long total = got;
    while ((got = talveco_decoder_read(d, samples, 65536)) > 0)
        total += got;
    CHECK(got == 0 && talveco_decoder_damage(d, &damaged, &past_end) == 0 && damaged == 0 &&
              past_end == (uint64_t)total && total > 4096,
          "header alone: %llu of %lld samples past the end", (unsigned long long)past_end, total);

    check_failure(talveco_decoder_damage(NULL, &damaged, &past_end), TALVECO_E_INVALID_ARGUMENT,
                  NULL, 0, "damage of NULL");
    check_failure(talveco_decoder_damage(d, NULL, &past_end), TALVECO_E_INVALID_ARGUMENT, NULL, 0,
                  "NULL damaged blocks");
    check_failure(talveco_decoder_damage(d, &damaged, NULL), TALVECO_E_INVALID_ARGUMENT, NULL, 0,
                  "NULL samples past the end");
    talveco_decoder_close(d);
    free(header.data);
}

/* A write function that fails with the number `user` points to. */
static int refuse_writes(void* user, const void* data, size_t size) {
    (void)data, (void)size;
    return *(const int*)user;
}

/* Every call on a failed encoder is refused as failed earlier, also those
 * this interface answers without the encoder (the edit's stream, the report
 * and the bytes). */
static void check_failed_for_good(talveco_encoder* e, const char* what) {
    const int failed = TALVECO_E_FAILED_EARLIER;
    static const uint8_t no_stream[1] = {0};
    int16_t samples[2] = {0};
    talveco_encoder_report report;
    const uint8_t* data;
    size_t size;
    check_failure(talveco_encoder_write(e, samples, 2), failed, NULL, 0, what);
    check_failure(talveco_encoder_finish(e, NULL, NULL), failed, NULL, 0, what);
    check_failure(talveco_encoder_report_get(e, &report), failed, NULL, 0, what);
    check_failure(talveco_encoder_bytes(e, &data, &size), failed, NULL, 0, what);
    check_failure(talveco_encoder_set_like(e, no_stream, 0), failed, NULL, 0, what);
    check_failure(talveco_encoder_set_input(e, 2, 44100), failed, NULL, 0, what);
}

/* A write function's failure, as a negated system error number or, as the
 * first documentation had it, a positive one: the same code and number. */
static void check_write_function_failures(void) {
    static const struct {
        int returned, code;
        const char* message;
        int error;
    } cases[] = {
        {-ENOSPC, TALVECO_E_DISK_FULL, "Disk full", ENOSPC},
        {ENOSPC, TALVECO_E_DISK_FULL, "Disk full", ENOSPC},
        {-EIO, TALVECO_E_IO_ERROR, "I/O error 5", EIO},
        {-EACCES, TALVECO_E_ACCESS_DENIED, "File access denied", EACCES},
        {INT_MIN, TALVECO_E_IO_ERROR, "I/O error 5", EIO},
    };
    int16_t samples[8] = {0};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        talveco_encoder* e = NULL;
        int returned = cases[i].returned;
        CHECK(talveco_encoder_open_callbacks(1, 8000, NULL, refuse_writes, &returned, &e) == 0,
              "open");
        CHECK(talveco_encoder_write(e, samples, 8) == 0, "write");
        check_failure(talveco_encoder_finish(e, NULL, NULL), cases[i].code, cases[i].message,
                      cases[i].error, "write function");
        check_failed_for_good(e, "after the write function failed");
        talveco_encoder_close(e);
    }
}

/* ---- samples of other channels and rates ---- */

/* Frames out of `frames` frames in, rounded as sox rounds: what talveco-encode
 * promises, computed apart from the library. */
static uint64_t resampled_frames(uint64_t frames, unsigned from, unsigned to) {
    return (2 * frames * to + from) / (2 * (uint64_t)from);
}

/* Samples written at their own channels and rate, fitted by the library to the
 * stream's: talveco-encode's bytes of the same samples with --channels and
 * --resample, through each way out. */
static void check_fit(char** field) {
    const char* name = field[1];
    unsigned channels = (unsigned)atoi(field[2]), rate = (unsigned)atoi(field[3]);
    int floating = strcmp(field[4], "float32") == 0;
    unsigned to_channels = (unsigned)atoi(field[5]), to_rate = (unsigned)atoi(field[6]);
    bytes input = load(path_of(name, floating ? ".f32" : ".pcm"));
    bytes expected = load(path_of(name, ".acm"));
    size_t frames = input.size / (floating ? sizeof(float) : sizeof(int16_t)) / channels;
    for (int way = 0; way < 2; ++way) {
        talveco_encoder* e = NULL;
        bytes collected = {NULL, 0};
        int code = way == 0 ? talveco_encoder_open_memory(to_channels, to_rate, NULL, &e)
                            : talveco_encoder_open_callbacks(to_channels, to_rate, NULL, collect,
                                                             &collected, &e);
        if (code == 0) code = talveco_encoder_set_input(e, channels, rate);
        if (code == 0) code = write_pieces(e, &input, floating, channels);
        if (code == 0) code = talveco_encoder_finish(e, NULL, NULL);
        CHECK(code == 0, "%s, way %d: %s", name, way, talveco_error_message());
        talveco_encoder_report report = {0};
        talveco_encoder_report_get(e, &report);
        CHECK(report.samples == resampled_frames(frames, rate, to_rate) * to_channels,
              "%s: %llu samples in the report", name, (unsigned long long)report.samples);
        CHECK((report.clipped > 0) == floating, "%s: %llu clipped", name,
              (unsigned long long)report.clipped);
        bytes made = collected;
        if (way == 0) talveco_encoder_bytes(e, (const uint8_t**)&made.data, &made.size);
        CHECK(made.size == expected.size && memcmp(made.data, expected.data, made.size) == 0,
              "%s, way %d: %zu bytes unlike talveco-encode's %zu", name, way, made.size,
              expected.size);
        free(collected.data);
        talveco_encoder_close(e);
    }
    free(input.data);
    free(expected.data);
}

/* The stream of `count` mono samples at 8000 Hz, after set_input(channels, rate). */
static bytes encode_after_set_input(const int16_t* samples, size_t count, unsigned channels,
                                    unsigned rate) {
    talveco_encoder* e = NULL;
    bytes stream = {NULL, 0};
    CHECK(talveco_encoder_open_callbacks(1, 8000, NULL, collect, &stream, &e) == 0, "open");
    CHECK(talveco_encoder_set_input(e, 2, 16000) == 0, "%s", talveco_error_message());
    CHECK(talveco_encoder_set_input(e, channels, rate) == 0, "%s", talveco_error_message());
    CHECK(
        talveco_encoder_write(e, samples, count) == 0 && talveco_encoder_finish(e, NULL, NULL) == 0,
        "%s", talveco_error_message());
    talveco_encoder_close(e);
    return stream;
}

static void check_fit_refusals(void) {
    const int outside = TALVECO_E_OUTSIDE_LIMITS, wrong = TALVECO_E_INVALID_CALL;
    static const struct {
        unsigned stream_channels, channels, rate;
        const char* message;
    } refused[] = {
        {2, 3, 44100,
         "3 channels: there is no standard fold of them to stereo (only of 4 channels and 5.1); "
         "--channels 1 averages them"},
        {3, 6, 44100, "6 channels to 3: channels are folded to mono or stereo only"},
        {2, 0, 44100, "input channels must be from 1 to 65535, not 0"},
        {2, 65536, 44100, "input channels must be from 1 to 65535, not 65536"},
        {2, 2, 0, "the input rate must be from 1 to 768000 Hz, not 0"},
        {2, 2, 768001, "the input rate must be from 1 to 768000 Hz, not 768001"},
    };
    int16_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
        talveco_encoder* e = NULL;
        CHECK(talveco_encoder_open_memory(refused[i].stream_channels, 22050, NULL, &e) == 0,
              "open");
        check_failure(talveco_encoder_set_input(e, refused[i].channels, refused[i].rate), outside,
                      refused[i].message, 0, "set_input refused");
        /* The refusal left the encoder taking the stream's own frames. */
        CHECK(talveco_encoder_write(e, samples, 6) == 0, "%s", talveco_error_message());
        talveco_encoder_close(e);
    }

    talveco_encoder* e = NULL;
    CHECK(talveco_encoder_open_memory(1, 22050, NULL, &e) == 0, "open");
    check_failure(talveco_encoder_set_input(NULL, 2, 44100), TALVECO_E_INVALID_ARGUMENT, NULL, 0,
                  "NULL encoder");
    CHECK(
        talveco_encoder_set_input(e, 65535, 1) == 0 && talveco_encoder_set_input(e, 2, 768000) == 0,
        "the largest input: %s", talveco_error_message());
    /* Whole frames of the input's channels, not the stream's. */
    check_failure(talveco_encoder_write(e, samples, 3), TALVECO_E_PARTIAL_FRAME,
                  "3 samples do not make whole frames of 2 channels", 0, "partial frame");
    check_failed_for_good(e, "after a partial frame");
    talveco_encoder_close(e);

    CHECK(talveco_encoder_open_memory(1, 22050, NULL, &e) == 0, "open");
    CHECK(talveco_encoder_set_input(e, 2, 44100) == 0, "%s", talveco_error_message());
    CHECK(talveco_encoder_write(e, samples, 8) == 0, "%s", talveco_error_message());
    check_failure(talveco_encoder_set_input(e, 2, 48000), wrong, NULL, 0, "after a write");
    CHECK(talveco_encoder_finish(e, NULL, NULL) == 0, "%s", talveco_error_message());
    check_failure(talveco_encoder_write(e, samples, 8), wrong, NULL, 0, "write after finish");
    check_failure(talveco_encoder_finish(e, NULL, NULL), wrong, NULL, 0, "finish twice");
    talveco_encoder_report report;
    CHECK(talveco_encoder_report_get(e, &report) == 0 && report.samples == 2,
          "4 frames at 44100 Hz are 2 at 22050 Hz, not %llu", (unsigned long long)report.samples);
    talveco_encoder_close(e);

    /* The stream's own channels and rate drop an earlier fitting. */
    int16_t speech[4000];
    for (size_t i = 0; i < 4000; ++i)
        speech[i] = (int16_t)(8000 * sin((double)i * 0.05) + (double)(i % 17) * 40);
    bytes plain = encode_after_set_input(speech, 4000, 1, 8000);
    bytes resampled = encode_after_set_input(speech, 4000, 1, 16000);
    CHECK(talveco_encoder_open_memory(1, 8000, NULL, &e) == 0, "open");
    CHECK(talveco_encoder_write(e, speech, 4000) == 0 && talveco_encoder_finish(e, NULL, NULL) == 0,
          "%s", talveco_error_message());
    const uint8_t* data = NULL;
    size_t size = 0;
    talveco_encoder_bytes(e, &data, &size);
    CHECK(plain.size == size && memcmp(plain.data, data, size) == 0,
          "the stream's own rate fits nothing");
    CHECK(resampled.size < size, "16000 Hz input halved: %zu bytes of %zu", resampled.size, size);
    talveco_encoder_close(e);
    free(plain.data);
    free(resampled.data);
}

static void check_misuse(void) {
    const int invalid = TALVECO_E_INVALID_ARGUMENT, wrong = TALVECO_E_INVALID_CALL;
    const int outside = TALVECO_E_OUTSIDE_LIMITS;
    talveco_decoder* d = NULL;
    talveco_encoder* e = NULL;
    int16_t samples[8] = {0};
    const uint8_t* data;
    size_t size;
    check_failure(talveco_decoder_open_file(NULL, &d), invalid, NULL, 0, "NULL path");
    check_failure(talveco_decoder_open_file(path_of("stereo-7x16", ".acm"), NULL), invalid, NULL, 0,
                  "NULL handle place");
    check_failure(talveco_decoder_open_memory(NULL, 10, &d), invalid, NULL, 0, "NULL data");
    check_failure(talveco_decoder_open_callbacks(NULL, NULL, &d), invalid, NULL, 0, "NULL read");
    check_failure((int)-talveco_decoder_read(NULL, samples, 8), invalid, NULL, 0, "NULL decoder");
    talveco_stream_info info = {1, 2, 3, 4, 5};
    talveco_decoder_info(NULL, &info);
    CHECK(info.channels == 0 && info.samples == 0, "info of NULL is cleared");
    talveco_decoder_close(NULL);
    talveco_encoder_close(NULL);

    CHECK(talveco_decoder_open_file(path_of("stereo-7x16", ".acm"), &d) == 0, "open");
    check_failure((int)-talveco_decoder_read(d, NULL, 8), invalid, NULL, 0, "NULL samples");
    CHECK(talveco_decoder_read(d, NULL, 0) == 0, "reading nothing");
    talveco_decoder_close(d);

    /* Settings out of range, each refused before anything is made. */
    static const talveco_encoder_settings bad[] = {{5, 0, 16, TALVECO_AUTOMATIC},
                                                   {5, 0, TALVECO_AUTOMATIC, 0},
                                                   {5, 0, 3, 4096},
                                                   {5, -1, TALVECO_AUTOMATIC, TALVECO_AUTOMATIC},
                                                   {NAN, 0, TALVECO_AUTOMATIC, TALVECO_AUTOMATIC}};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i)
        check_failure(talveco_encoder_open_memory(1, 22050, &bad[i], &e), outside, NULL, 0,
                      "bad settings");
    check_failure(talveco_encoder_open_memory(0, 22050, NULL, &e), outside, NULL, 0, "0 channels");
    check_failure(talveco_encoder_open_memory(1, 0, NULL, &e), outside, NULL, 0, "rate 0");
    check_failure(talveco_encoder_open_memory(1, 65536, NULL, &e), outside, NULL, 0, "rate");
    check_failure(talveco_encoder_open_file(NULL, 1, 8000, NULL, &e), invalid, NULL, 0, "path");
    check_failure(talveco_encoder_open_callbacks(1, 8000, NULL, NULL, NULL, &e), invalid, NULL, 0,
                  "NULL write");
    CHECK(e == NULL, "no handle from a refused open");
    check_failure(talveco_encoder_write(NULL, samples, 8), invalid, NULL, 0, "NULL encoder");
    check_failure(talveco_encoder_finish(NULL, NULL, NULL), invalid, NULL, 0, "NULL encoder");

    /* The order of calls. */
    CHECK(talveco_encoder_open_memory(2, 8000, NULL, &e) == 0, "open");
    check_failure(talveco_encoder_write(e, NULL, 8), invalid, NULL, 0, "NULL samples");
    check_failure(talveco_encoder_bytes(e, &data, &size), wrong, NULL, 0, "bytes before finish");
    talveco_encoder_report report;
    check_failure(talveco_encoder_report_get(e, &report), wrong, NULL, 0, "report before finish");
    CHECK(talveco_encoder_write(e, samples, 8) == 0 && talveco_encoder_finish(e, NULL, NULL) == 0,
          "%s", talveco_error_message());
    check_failure(talveco_encoder_write(e, samples, 8), wrong, NULL, 0, "write after finish");
    check_failure(talveco_encoder_finish(e, NULL, NULL), wrong, NULL, 0, "finish twice");
    CHECK(talveco_encoder_bytes(e, &data, &size) == 0 && size > 14, "bytes");
    talveco_encoder_close(e);

    /* Wrong sizes: no part of a frame is taken, and the failure is final. */
    static const double half[3] = {0.5, -0.5, 0.25};
    for (int as_double = 0; as_double < 2; ++as_double) {
        CHECK(talveco_encoder_open_memory(2, 8000, NULL, &e) == 0, "open");
        CHECK(talveco_encoder_write(e, samples, 8) == 0, "whole frames");
        check_failure(as_double ? talveco_encoder_write_double(e, half, 3)
                                : talveco_encoder_write(e, samples, 3),
                      TALVECO_E_PARTIAL_FRAME, NULL, 0, "half a frame");
        check_failed_for_good(e, "after half a frame");
        talveco_encoder_close(e);
    }

    CHECK(talveco_encoder_open_file(path_of("never", ".acm"), 1, 8000, NULL, &e) == 0, "open");
    CHECK(talveco_encoder_write(e, samples, 8) == 0 && talveco_encoder_finish(e, NULL, NULL) == 0,
          "finish");
    check_failure(talveco_encoder_bytes(e, &data, &size), wrong, NULL, 0, "bytes of a file");
    talveco_encoder_close(e);
    remove(path_of("never", ".acm"));

    /* An encoder with a write function keeps no stream, also once finished. */
    bytes collected = {NULL, 0};
    CHECK(talveco_encoder_open_callbacks(1, 8000, NULL, collect, &collected, &e) == 0, "open");
    CHECK(talveco_encoder_write(e, samples, 8) == 0 && talveco_encoder_finish(e, NULL, NULL) == 0,
          "finish");
    check_failure(talveco_encoder_bytes(e, &data, &size), wrong, NULL, 0, "bytes of a callback");
    CHECK(talveco_encoder_report_get(e, &report) == 0 && report.stream_bytes == collected.size,
          "report of a callback encoder");
    talveco_encoder_close(e);
    free(collected.data);

    /* The earlier stream of an edit: ACM only, and before the first write. */
    static const uint8_t not_acm[16] = "RIFF....WAVEfmt";
    CHECK(talveco_encoder_open_memory(1, 8000, NULL, &e) == 0, "open");
    check_failure(talveco_encoder_set_like(NULL, not_acm, 16), invalid, NULL, 0, "NULL encoder");
    check_failure(talveco_encoder_set_like(e, NULL, 16), invalid, NULL, 0, "NULL stream");
    check_failure(talveco_encoder_set_like(e, not_acm, 16), TALVECO_E_NOT_ACM_FILE, NULL, 0,
                  "not a stream");
    CHECK(talveco_encoder_write(e, samples, 8) == 0, "usable after a refused stream");
    check_failure(talveco_encoder_set_like(e, NULL, 0), wrong, NULL, 0, "after a write");
    talveco_encoder_close(e);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: c_api_test DIR\n");
        return 2;
    }
    directory = argv[1];
    CHECK(strlen(talveco_version()) >= 5, "version %s", talveco_version());
    FILE* table = fopen(path_of("streams", ".tsv"), "r");
    if (table == NULL) return 2;
    char line[1024];
    int streams = 0;
    while (fgets(line, sizeof line, table) != NULL) {
        char* field[9] = {NULL};
        int n = 0;
        for (char* f = strtok(line, "\t\n"); f != NULL && n < 9; f = strtok(NULL, "\t\n"))
            field[n++] = f;
        if (n == 4 && strcmp(field[0], "decode") == 0)
            check_decode(field[1], strtoull(field[2], NULL, 10), strtoull(field[3], NULL, 10));
        else if (n == 9 && strcmp(field[0], "encode") == 0)
            check_encode(field);
        else if (n == 7 && strcmp(field[0], "fit") == 0)
            check_fit(field);
        else
            CHECK(0, "bad table line");
        ++streams;
    }
    fclose(table);
    CHECK(streams >= 10, "only %d streams", streams);
    check_failures();
    check_fit_refusals();
    check_like();
    check_damage();
    check_misuse();
    check_write_function_failures();
    printf("%d streams, %d checks, %d failed\n", streams, checks, failures);
    return failures == 0 ? 0 : 1;
}
