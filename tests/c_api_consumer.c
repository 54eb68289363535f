/* A C99 host of the in-memory API: decodes a headered, looping sample held
   in memory (argv[1]) as brrdecode --loops 3 --rate 32000 does, and compares
   the bytes handed to its write function with the WAV the tool wrote
   (argv[2]). Exits 0 only if every check holds; prints nothing itself, so
   that its caller can check the library printed nothing either. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "VornishAudioBRR.h"

typedef struct Buffer {
    unsigned char *bytes;
    size_t size;
    size_t capacity;
} Buffer;

static int Append(void *context, const void *bytes, size_t size)
{
    Buffer *b = (Buffer *)context;
    if (b->size + size > b->capacity) {
        size_t capacity = 2 * (b->size + size);
        unsigned char *grown = (unsigned char *)realloc(b->bytes, capacity);
        if (grown == NULL) {
            return 1;
        }
        b->bytes = grown;
        b->capacity = capacity;
    }
    memcpy(b->bytes + b->size, bytes, size);
    b->size += size;
    return 0;
}

static int Load(const char *path, Buffer *b)
{
    unsigned char chunk[4096];
    size_t n;
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        return 0;
    }
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        Append(b, chunk, n);
    }
    fclose(file);
    return 1;
}

int main(int argc, char **argv)
{
    Buffer sample = {NULL, 0, 0};
    Buffer expected = {NULL, 0, 0};
    Buffer wav = {NULL, 0, 0};
    BRRConvertOptions options;
    BRRConvertResult result;
    int failures = 0;
    static const unsigned char tenBytes[10] = {0};
    if (argc != 3 || !Load(argv[1], &sample) || !Load(argv[2], &expected)) {
        return 2;
    }
    BRRConvertOptionsInit(&options);
    options.sampleForms = 1;
    options.loopCount = 3;
    options.sampleRate = 32000;
    failures += BRRConvertMemory(sample.bytes, sample.size, &options, Append, &wav, &result) != BRR_OK;
    failures += wav.size != expected.size || memcmp(wav.bytes, expected.bytes, wav.size) != 0;
    failures += result.loopStart != 6 || result.blockCount != 8 || result.smpl == 0;
    failures += result.stability != BRR_STABILITY_STABLE || result.note != BRR_NOTE_FOUND;
    failures += strcmp(BRRNoteName(result.noteIndex), "B ") != 0 || result.noteOctave != 5 ||
                result.noteCents != 21;
    failures += BRRConvertMemory(tenBytes, sizeof tenBytes, &options, Append, &wav, &result) !=
                BRR_STATUS_BAD_SIZE;
    failures += strlen(BRRStatusText(BRR_STATUS_BAD_SIZE)) == 0;
    free(sample.bytes);
    free(expected.bytes);
    free(wav.bytes);
    return failures == 0 ? 0 : 1;
}
