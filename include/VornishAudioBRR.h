/*
 * VornishAudioBRR: the BRR sample engine as a plain C API.
 *
 * A BRR sample is a sequence of 9-byte blocks. Each block is a header byte
 * (shift range, prediction filter, end and loop flags) and sixteen 4-bit
 * codes, and decodes to sixteen signed 16-bit samples; the decoder's history
 * runs on from block to block. A sample may also carry a 2-byte loop header in
 * front of its blocks (see BRRConvertOptions.sampleForms).
 *
 * Everything here works on memory or through the caller's callbacks, and all
 * state is the caller's: no function prints, exits, keeps global state or
 * touches a file it was not handed, so any number of threads may use it at
 * once on their own objects. Functions that can fail return a status: BRR_OK,
 * or one of the BRR_STATUS_* failures below (BRRStatusText names each).
 *
 * Defaults: BRRConvertOptionsInit keeps the original BRRDecode export's (8000
 * Hz, the library's rules, plain blocks); BRRConvertOptionsInitTool gives the
 * tool's (32000 Hz, the hardware's rules, sample forms).
 */
#ifndef VORNISH_AUDIO_BRR_H
#define VORNISH_AUDIO_BRR_H

#include <stddef.h>
#include <stdint.h>

#include "VornishAudioBRRStatus.h"

/* The API's version: 1.0 was BRRDecode alone; 1.1 added everything here.
   BRRVersionNumber() gives the library's own at run time. */
#define BRR_VERSION_MAJOR 1
#define BRR_VERSION_MINOR 1
#define BRR_VERSION_PATCH 0
#define BRR_VERSION_NUMBER (BRR_VERSION_MAJOR * 10000 + BRR_VERSION_MINOR * 100 + BRR_VERSION_PATCH)

/* Statuses. The numbers are those of VornishAudioBRRDecoder.h; 999, the
   exported BRRDecode's success, is never returned here.

   Every function checks every field of the options it is handed against the
   range documented beside it before it does anything else, and refuses a
   value outside with a status (BRR_STATUS_BAD_OPTION where no more specific
   status is named). No value a caller passes makes it touch memory it was not
   given. */
#define BRR_OK 0
/* Statuses 1 to 7 are VornishAudioBRRStatus.h's (BRR_STATUS_MISSING_PATH
   also for a result handed to BRRRender that is no plan those options made). */
#define BRR_STATUS_INVALID_ARGUMENT BRR_STATUS_MISSING_PATH
#define BRR_STATUS_BAD_LOOP_COUNT 8  /* loopCount outside 1..BRR_MAX_LOOP_COUNT */
#define BRR_STATUS_BAD_LOOP_START 9  /* loopStart is not a block of the sample */
#define BRR_STATUS_BAD_LOOP_HEADER 10 /* a loop header that is no block offset inside the sample */
#define BRR_STATUS_SMALL_BUFFER 11   /* the output buffer cannot hold the encoded blocks */
#define BRR_STATUS_BAD_OPTION 12     /* an option field outside its documented range */
#define BRR_STATUS_NO_ROOM 13        /* the sample fits neither its old place nor a free range */
#define BRR_STATUS_OVERLAPS_DIRECTORY 14 /* the place would overlap the directory */
#define BRR_STATUS_OVERLAPS_SAMPLE 15    /* the place would overlap another entry's sample */
#define BRR_STATUS_OVERLAPS_ECHO 16      /* the place would overlap the echo buffer */
#define BRR_STATUS_NO_END_BLOCK 17   /* no end flag on the sample's last block, or no end block after an offset */
#define BRR_STATUS_NO_SUCH_ENTRY 18  /* the directory entry names no sample, or there is no directory */
#define BRR_STATUS_NOT_A_DUMP 19     /* the data is no music-state dump */
#define BRR_STATUS_NOT_NUMBERS 20    /* audio holds values that are not numbers (NaN) */
#define BRR_STATUS_RESAMPLE_FAILED 21 /* the resampler refused the audio */

/* The format. */
#define BRR_BLOCK_SIZE 9
#define BRR_SAMPLES_PER_BLOCK 16
#define BRR_END_FLAG 0x01  /* header bit 0: the sample ends with this block */
#define BRR_LOOP_FLAG 0x02 /* header bit 1: ... and then jumps back to its loop start */
#define BRR_LOOP_HEADER_SIZE 2
#define BRR_WAV_HEADER_SIZE 44
#define BRR_SMPL_CHUNK_SIZE 68
#define BRR_MAX_LOOP_COUNT 3200
/* No larger input can convert: 134,217,726 blocks (the most a WAV's 32-bit
   sizes hold) behind a loop header. */
#define BRR_MAX_INPUT_SIZE 1207959536
#define BRR_NO_LOOP_START (-1)
/* The largest BRRConvertOptions.pieceBlocks: 9 MiB of blocks and 32 MiB of
   samples per piece, sizes that fit 32 bits with room. */
#define BRR_MAX_PIECE_BLOCKS 1048576
#define BRR_DEFAULT_SAMPLE_RATE 8000
#define BRR_PLAYBACK_RATE 32000  /* the hardware's output rate */
#define BRR_PITCH_ONE 4096       /* one source sample per output sample */
#define BRR_MAX_PITCH 16383
#define BRR_ROOT_NOTE_AUTO (-1)

/* Rule sets: the arithmetic a decoder follows. BRR_RULES_LIBRARY is the
   library's own, bit for bit what BRRDecode has always written.
   BRR_RULES_HARDWARE is the playback hardware's, which differs in two
   places: filter 1 predicts p1 + ((-p1) >> 4), not p1 - (p1 >> 4); and ranges
   13 to 15 act as range 12 on the code shifted right by 3 (codes 0-7 give 0,
   codes 8-15 give -2048), not +2048 for codes 0-7. */
#define BRR_RULES_LIBRARY 0
#define BRR_RULES_HARDWARE 1

/* Growing structs. Every option and result struct ends in reserved space,
   so that later 1.x versions can add fields without changing its size: a
   binary built against this header keeps working with them. The *Init
   functions zero it, and an option's reserved field must stay zero (a
   non-zero one is BRR_STATUS_BAD_OPTION): a field added there means, at
   zero, what the library does today. The library zeroes a result's. */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Decoding blocks ---------------------------------------------------- */

/* A decoder: its history (the last two values, in the 15-bit domain) and its
   rule set. A plain struct that the caller owns; copy it to fork a decode. */
typedef struct BRRDecoder {
    int16_t last;
    int16_t older;
    int32_t rules;
} BRRDecoder;

/* Clears the history and sets the rule set (a BRR_RULES_* value; any other
   value is taken as BRR_RULES_LIBRARY). A NULL decoder is left alone. */
VORNISH_BRR_API void BRRDecoderInit(BRRDecoder *decoder, int rules);

/* Decodes blockCount blocks (9 bytes each) into 16 * blockCount samples, in
   order, and leaves the history where the last code left it. A sample decoded
   in pieces, one call after another with the same decoder, gives exactly the
   samples of one call over the whole. The fast loop: no allocation, no
   checks beyond the pointers being valid. */
VORNISH_BRR_API void BRRDecodeBlocks(BRRDecoder *decoder, const uint8_t *blocks,
                                     size_t blockCount, int16_t *samples);

/* ---- Converting a sample to WAV bytes ------------------------------------ */

typedef struct BRRConvertOptions {
    /* Passes: every block once, then the loop (loop start to end) loopCount-1
       more times, the history carried on. 1..BRR_MAX_LOOP_COUNT. */
    uint32_t loopCount;
    /* Written into the WAV header; also the rate of the note report.
       1..2147483647 (the WAV holds twice it in 32 bits). */
    uint32_t sampleRate;
    /* BRR_RULES_LIBRARY or BRR_RULES_HARDWARE. */
    int32_t rules;
    /* Non-zero: take the sample as it is found. A size of 9k+2 bytes is a
       16-bit little-endian loop header (the loop start's byte offset into the
       blocks, which must be a block inside the sample), then the blocks; the
       first block with the end flag ends the sample, and a last block with
       both flags asks for a smpl loop. Zero: the size must be a multiple of 9
       and the flags mean nothing. */
    int32_t sampleForms;
    /* With sampleForms: never read a loop header; of a 9k+2-byte file the
       first 9k bytes are the blocks (result.extraBytes is 2). */
    int32_t noHeader;
    /* With sampleForms: decode up to the first block with the end flag. */
    int32_t stopAtEnd;
    /* With sampleForms: write a smpl chunk when the loop start is known and
       either given here or marked by both flags on the last block. */
    int32_t writeSmpl;
    /* The loop's first block, or BRR_NO_LOOP_START (a loop header's, with
       sampleForms; else the whole sample loops). Any other negative value,
       or a block past the sample's last, is BRR_STATUS_BAD_LOOP_START. */
    int64_t loopStart;
    /* Blocks per piece handed to the write function: 1..BRR_MAX_PIECE_BLOCKS,
       or 0 for 16384 (512 KiB of samples). Working memory is a few pieces,
       whatever the output size. */
    size_t pieceBlocks;
    /* 0, or a pitch of 1..BRR_MAX_PITCH: the WAV then holds what the
       hardware's voice outputs, at BRR_PLAYBACK_RATE, when it plays the
       rendering at that pitch with its 4-tap interpolation (BRR_PITCH_ONE
       steps one sample at a time); no smpl chunk. */
    uint32_t play;
    /* The smpl chunk's MIDI unity note, 0..127 (pitch fraction 0); or
       BRR_ROOT_NOTE_AUTO: the probable note, where the report names one
       (with its cents as the pitch fraction), else 60. */
    int32_t rootNote;
    uint32_t reserved[8]; /* zero */
} BRRConvertOptions;

/* The defaults, which are what BRRDecode does: one pass, 8000 Hz, the
   library's rules, sample forms off, no loop start, smpl on, no playback,
   the root note found by the note report. A NULL options is left alone,
   as by every *Init function. */
VORNISH_BRR_API void BRRConvertOptionsInit(BRRConvertOptions *options);

/* The defaults of the brrdecode tool and the Python module: those above,
   but 32000 Hz (the hardware's rate), the hardware's rules and sample forms
   on. */
VORNISH_BRR_API void BRRConvertOptionsInitTool(BRRConvertOptions *options);

/* The loop-stability report: does every pass over the loop begin with the
   same two samples? */
#define BRR_STABILITY_NONE 0      /* fewer than two passes: no report */
#define BRR_STABILITY_STABLE 1    /* the second pass begins like the first */
#define BRR_STABILITY_REPEATS 2   /* pass repeatLater begins like pass repeatEarlier */
#define BRR_STABILITY_UNDECIDED 3 /* no pass repeats another: try more passes */

/* The probable-note report: the pitch at which the loop repeats. */
#define BRR_NOTE_NONE 0     /* fewer than two passes: no report */
#define BRR_NOTE_FOUND 1    /* noteIndex, noteOctave, noteCents */
#define BRR_NOTE_TOO_LONG 2 /* a loop of 45 blocks or more: no useful pitch */

/* What a conversion found and wrote. BRRPlan fills the first part; the
   reports follow once the samples are written. Fields not yet known are 0
   (loopStart: BRR_NO_LOOP_START). */
typedef struct BRRConvertResult {
    /* Known unless the status is BAD_SIZE, READ_ERROR, MISSING_PATH or
       BAD_LOOP_COUNT: */
    uint64_t dataOffset;       /* where the blocks start: 2 behind a loop header */
    uint64_t blockCount;       /* blocks of one play-through */
    uint64_t trailingBlocks;   /* blocks after the end block (left out by stopAtEnd) */
    uint32_t extraBytes;       /* bytes after the last block, left out (noHeader) */
    /* Known with BRR_OK or TOO_LARGE: */
    int64_t loopStart;         /* the loop's first block, or BRR_NO_LOOP_START */
    /* Known with BRR_OK: */
    int32_t unlooped;          /* several passes over a sample whose last block has no
                                  loop flag and that has no loop start: it repeats whole */
    uint64_t totalBlocks;      /* blocks rendered, every pass counted */
    uint64_t sampleCount;      /* samples in the WAV (played ones, with play) */
    uint32_t sampleRate;       /* the WAV's rate */
    uint64_t wavSize;          /* bytes the write function receives */
    int32_t smpl;              /* non-zero: the WAV ends with a smpl chunk ... */
    uint32_t smplStart;        /* ... looping from this sample */
    uint32_t smplEnd;          /* ... to this one (inclusive) */
    uint32_t unityNote;        /* ... with this MIDI unity note */
    uint32_t pitchFraction;    /* ... and pitch fraction (1/2^32 semitones) */
    int32_t note;              /* BRR_NOTE_* */
    int32_t noteIndex;         /* 0..11 from C upward (BRRNoteName) */
    int32_t noteOctave;        /* A 4 is 440 Hz */
    int32_t noteCents;         /* -50..50: how far the loop lies above the note */
    /* Known once the samples are written: */
    int32_t stability;         /* BRR_STABILITY_* */
    uint32_t repeatLater;      /* with BRR_STABILITY_REPEATS */
    uint32_t repeatEarlier;
    uint64_t reserved[8];      /* zero */
} BRRConvertResult;

/* Receives the input's bytes [offset, offset + size); returns 0 when it
   delivered all of them, non-zero on any failure (status 5). */
typedef int (*BRRReadFunction)(void *context, uint64_t offset, void *buffer, size_t size);

/* Takes the next size bytes of the WAV; returns 0 when it took them all.
   Any other return stops the conversion with status 6. */
typedef int (*BRRWriteFunction)(void *context, const void *bytes, size_t size);

/* Works out what an input of size bytes holds and what its WAV will be,
   reading through read only what it must (the loop header and, with sample
   forms, block headers up to the end block). Fills result; returns BRR_OK,
   the status of the first option field outside its range
   (BRR_STATUS_BAD_LOOP_COUNT, BRR_STATUS_BAD_LOOP_START or
   BRR_STATUS_BAD_OPTION), or the status that rules the input out. */
VORNISH_BRR_API int BRRPlan(BRRReadFunction read, void *context, uint64_t size,
                            const BRRConvertOptions *options, BRRConvertResult *result);

/* Writes the WAV planned in result (by BRRPlan with the same options and
   input) through write: the header, every pass, the smpl chunk, in pieces of
   at most options->pieceBlocks blocks. Fills in the reports. Checks the
   options as BRRPlan does (and returns the same statuses for them), then
   returns BRR_OK, BRR_STATUS_READ_ERROR, BRR_STATUS_WRITE_ERROR,
   BRR_STATUS_NO_MEMORY, or BRR_STATUS_INVALID_ARGUMENT for a result that is
   no plan these options could have made. */
VORNISH_BRR_API int BRRRender(BRRReadFunction read, void *readContext,
                              const BRRConvertOptions *options, BRRWriteFunction write,
                              void *writeContext, BRRConvertResult *result);

/* BRRPlan over a sample held in memory, read in place: what it holds and
   the size of its WAV, before any of it is written. */
VORNISH_BRR_API int BRRPlanMemory(const uint8_t *data, size_t size, const BRRConvertOptions *options,
                                  BRRConvertResult *result);

/* BRRPlan and BRRRender over a sample held in memory: hands write exactly
   the bytes of the WAV for these options. The input is read in place, never
   copied; working memory does not grow with the input or the output. options
   may be NULL for the defaults; result may be NULL. */
VORNISH_BRR_API int BRRConvertMemory(const uint8_t *data, size_t size,
                                     const BRRConvertOptions *options, BRRWriteFunction write,
                                     void *context, BRRConvertResult *result);

/* The number of samples BRRDecodeToPCM gives for this sample and these
   options (the WAV's sample count), in *count (0 on a failure). Returns
   BRRPlanMemory's status, or BRR_STATUS_MISSING_PATH for a NULL count. */
VORNISH_BRR_API int BRRDecodedSize(const uint8_t *data, size_t size, const BRRConvertOptions *options,
                                   uint64_t *count);

/* The whole sample in one call: the samples BRRConvertMemory's WAV holds
   (every pass, or what the voice plays with options->play), as 16-bit
   values in the host's byte order, into samples (capacity values; see
   BRRDecodedSize). A plain or loop-headed sample alike; with sample forms,
   the end flag and the loop flags count as brrdecode counts them. result
   (may be NULL) gets what BRRConvertMemory reports: the loop start, the smpl
   loop (smplStart..smplEnd, when smpl is non-zero) and the loop reports.
   options may be NULL for BRRConvertOptionsInit's. Returns BRR_OK,
   BRRPlanMemory's failures, BRR_STATUS_MISSING_PATH (samples NULL) or
   BRR_STATUS_SMALL_BUFFER. */
VORNISH_BRR_API int BRRDecodeToPCM(const uint8_t *data, size_t size, const BRRConvertOptions *options,
                                   int16_t *samples, size_t capacity, BRRConvertResult *result);

/* The playback hardware's interpolation table, g[0..511] (non-decreasing,
   0 to 1305). A played sample k mixes v[n-3], v[n-2], v[n-1], v[n] with
   g[255-i], g[511-i], g[256+i], g[i], where n and i are its position's
   integer and fraction (see BRRConvertOptions.play). */
VORNISH_BRR_API const int16_t *BRRInterpolationTable(void);

/* ---- Encoding PCM to blocks ----------------------------------------------- */

/* Search efforts: how widely BRREncode looks for the blocks that decode
   closest to the input. FAST takes, block by block, the range and filter
   whose nearest codes give the least squared error. DEFAULT and BEST keep
   several decoder histories from block to block and several code paths
   inside a block (a pruned beam search), and commit a block only once every
   surviving path agrees on it. */
#define BRR_EFFORT_FAST 0
#define BRR_EFFORT_DEFAULT 1
#define BRR_EFFORT_BEST 2

/* The decoded values (15-bit domain) the safe range allows: outside it the
   playback hardware's interpolation can overflow. */
#define BRR_SAFE_MIN (-16378)
#define BRR_SAFE_MAX 16376

/* Bytes that BRREncode writes for count samples: 9 per 16 samples or part,
   and 2 more with the loop header. */
#define BRR_ENCODED_SIZE(count) ((((uint64_t)(count) + 15u) / 16u) * 9u)
#define BRR_ENCODED_FILE_SIZE(count) (BRR_ENCODED_SIZE(count) + BRR_LOOP_HEADER_SIZE)

/* Called now and then by a long call: done of total (units the call names). */
typedef void (*BRRProgressFunction)(void *context, uint64_t done, uint64_t total);

typedef struct BRREncodeOptions {
    /* The sample index where the loop starts, or BRR_NO_LOOP_START (the
       default) for no loop. A multiple of 16 below the count
       (else BRR_STATUS_BAD_LOOP_START), and the loop, count - loopStart
       samples, whole blocks too (else BRR_STATUS_BAD_OPTION): a loop is
       never padded with silence. */
    int64_t loopStart;
    int32_t effort; /* BRR_EFFORT_FAST..BRR_EFFORT_BEST; BRR_EFFORT_DEFAULT */
    int32_t rules;  /* the decoder judged against, BRR_RULES_*; BRR_RULES_HARDWARE */
    /* Non-zero (the default): the first block, and the loop's first block,
       use filter 0, which ignores the history, so every pass of the loop
       decodes the same. */
    int32_t resetFilter;
    /* Non-zero (the default): no decoded value outside
       BRR_SAFE_MIN..BRR_SAFE_MAX. Zero allows the whole 15-bit domain,
       wraps included, judged by what the decoder makes of them. */
    int32_t safeRange;
    /* Non-zero: the 2-byte loop header goes in front of the blocks (the loop
       start's byte offset into them, 0 without a loop), as a file with sample
       forms holds it; capacity must then hold BRR_ENCODED_FILE_SIZE(count).
       A loop starting 65536 bytes or more into the blocks has no such header:
       BRR_STATUS_BAD_LOOP_HEADER. Zero (the default): the blocks alone. */
    int32_t loopHeader;
    int32_t reserved0; /* zero */
    /* Optional: told now and then of the blocks encoded so far (of the
       whole count's), with progressContext. */
    BRRProgressFunction progress;
    void *progressContext;
    /* zero; as many as keep the struct's size whatever a pointer's */
    int32_t reserved[6 - 2 * (int)(sizeof(void *) / 4)];
} BRREncodeOptions;

typedef struct BRREncodeResult {
    uint64_t blockCount;   /* blocks written: the last has the end flag */
    int64_t loopBlock;     /* the loop's first block, or BRR_NO_LOOP_START */
    /* The sum over every decoded sample (16 per block) of (decoded - input)^2,
       in 16-bit sample units, the input padded with silence to whole blocks. */
    uint64_t squaredError;
    uint64_t signalEnergy; /* the sum of input^2 over the same samples */
    /* How smoothly the decoded blocks loop, as BRRLoopSeam measures it: dB,
       -INFINITY where they repeat exactly; NaN without a loop. */
    double loopSeam;
    uint64_t reserved[3];  /* zero */
} BRREncodeResult;

/* The defaults: no loop, BRR_EFFORT_DEFAULT, hardware rules, filter 0 at
   the starts, the safe range. */
VORNISH_BRR_API void BRREncodeOptionsInit(BRREncodeOptions *options);

/* Encodes count mono 16-bit samples into BRR_ENCODED_SIZE(count) bytes of
   blocks at blocks (capacity bytes; BRR_ENCODED_FILE_SIZE(count) with the
   loop header in front), the end flag on the last block and,
   with a loop, the loop flag too. Every choice is judged by what the
   decoder of the chosen rules produces from it, clamps and wraps included;
   ranges 13-15 are never used. Deterministic; working memory is about
   36 KB, on the stack, whatever the count. options may be NULL for the defaults;
   result may be NULL. Returns BRR_OK or, checked in this order,
   BRR_STATUS_MISSING_PATH (a NULL pointer), BRR_STATUS_NO_BLOCKS (count 0),
   BRR_STATUS_TOO_LARGE (more blocks than a WAV holds),
   BRR_STATUS_BAD_LOOP_START, BRR_STATUS_BAD_OPTION, BRR_STATUS_BAD_LOOP_HEADER,
   BRR_STATUS_SMALL_BUFFER. */
VORNISH_BRR_API int BRREncode(const int16_t *pcm, size_t count, const BRREncodeOptions *options,
                              uint8_t *blocks, size_t capacity, BRREncodeResult *result);

/* How smoothly count samples loop back from their end to loopStart: over
   the W = min(256, loop length) samples before the loop's end and the W
   before its start (silence before the sample's first, as it plays), the
   mean square of their difference relative to the mean square of the
   loop's samples, in dB (lower is smoother; -INFINITY where they are equal,
   as in a loop that repeats exactly). NaN
   when pcm is NULL or loopStart is not below count. */
VORNISH_BRR_API double BRRLoopSeam(const int16_t *pcm, size_t count, size_t loopStart);

/* The same figure for blockCount blocks read through read from offset,
   looping back to block loopBlock, decoded with rules (BRR_RULES_*) in fixed
   memory, into *seam. Returns BRR_OK, BRR_STATUS_MISSING_PATH (read or seam
   NULL), BRR_STATUS_BAD_LOOP_START (loopBlock not below blockCount),
   BRR_STATUS_BAD_OPTION (rules) or BRR_STATUS_READ_ERROR. */
VORNISH_BRR_API int BRRLoopSeamOfBlocks(BRRReadFunction read, void *context, uint64_t offset, uint64_t blockCount,
                                        int64_t loopBlock, int rules, double *seam);

/* ---- Finding samples inside images ---------------------------------------- */

/* A sample stored in a larger image (a ROM, a memory image, an archive) is a
   chain of blocks starting at any byte and ending at the first block with the
   end flag. BRRScan looks at every chain of every one of the 9 byte phases,
   judges its headers and what it decodes to with the hardware's rules, and
   trims its start to where the evidence says the audio begins. Its score is
   the scanner's confidence that the chain is a real sample: near 1 for
   blocks an encoder made, near 0 for random bytes, machine code or text.

   A memory image is the playback processor's 64 KiB memory. It finds its
   samples through a directory: a table at a multiple of 256 bytes of up to
   256 entries of 4 bytes, the little-endian 16-bit addresses of a sample's
   first block and of its loop's first block. Where a directory can be found
   (or is named), every sample it names is reported exactly, with its loop. */
#define BRR_SCAN_AUTO (-1)           /* memoryOffset / directory: decide by itself */
#define BRR_SCAN_NONE (-2)           /* memoryOffset / directory: there is none */
#define BRR_MEMORY_IMAGE_SIZE 65536
#define BRR_FOUND_BY_SCAN 0
#define BRR_FOUND_BY_DIRECTORY 1
#define BRR_DEFAULT_MIN_SCORE 0.5

/* Called now and then with the bytes of the image scanned so far. */
typedef BRRProgressFunction BRRScanProgressFunction;

typedef struct BRRScanOptions {
    /* The fewest blocks a find from the scan has, end block included:
       1..2^32 (default 4). Directory finds are reported whatever their size. */
    uint64_t minBlocks;
    /* The lowest score a find from the scan has: 0..1 (default
       BRR_DEFAULT_MIN_SCORE). */
    double minScore;
    /* Where a 64 KiB memory image starts in the data: 0..size-65536, or
       BRR_SCAN_AUTO (the default: data of exactly 65536 bytes is one), or
       BRR_SCAN_NONE. */
    int64_t memoryOffset;
    /* The directory's address in the memory image: a multiple of 256 from 0
       to 0xFF00 (only with a memory image), or BRR_SCAN_AUTO (the default:
       the page whose entries name the most sample chains, if it names
       clearly more than chance would), or BRR_SCAN_NONE. */
    int32_t directory;
    int32_t reserved0;  /* zero */
    /* Optional: told of the progress, with the found function's context. */
    BRRScanProgressFunction progress;
    uint32_t reserved[8]; /* zero */
} BRRScanOptions;

/* One sample found. */
typedef struct BRRFound {
    uint64_t offset;     /* of its first block, in the data */
    uint64_t blocks;     /* through the end block */
    int64_t loopBlock;   /* the loop's first block (from a directory), or BRR_NO_LOOP_START */
    double score;        /* 0..1 */
    int32_t foundBy;     /* BRR_FOUND_BY_SCAN or BRR_FOUND_BY_DIRECTORY */
    int32_t entry;       /* the directory entry's address in the memory image, or -1 */
    int32_t loopFlag;    /* non-zero: the end block has the loop flag */
    int32_t entryNumber; /* the entry's place in the directory, 0..255, or -1 */
    uint64_t reserved[4]; /* zero */
} BRRFound;

/* Takes one find; returns 0 to go on, non-zero to end the scan there. */
typedef int (*BRRFoundFunction)(void *context, const BRRFound *found);

/* The defaults: 4 blocks, BRR_DEFAULT_MIN_SCORE, memory image and
   directory found by themselves, no progress. */
VORNISH_BRR_API void BRRScanOptionsInit(BRRScanOptions *options);

/* Scans size bytes at data and calls found once per sample, in order of
   offset, a memory image's directory finds among the others. A scan find
   never shares bytes with another find: of two chains that share bytes the
   one with the stronger evidence is kept, and a directory's find wins over
   any chain. Every directory entry that names a sample is its own find, with
   its entry's address and number, so directory finds may share bytes: entries
   that name one start (with one loop or others), or a start inside another
   entry's sample. An entry whose sample does not loop is taken whatever its
   loop address holds; one whose sample loops but whose loop address is no
   block of it is reported with loopBlock BRR_NO_LOOP_START and loopFlag set.
   In a music-state dump, the directory is its register's when the entries
   there name samples (else it is searched for), and no scan find overlaps the
   echo buffer the chip writes.
   The finds do not depend on how the work is shared between threads.
   Reads data in place; working memory is fixed (a 128 KiB table with a
   memory image, what a few 512 KiB stretches ahead hold) plus the finds
   not yet reported, never proportional to the image. options may be NULL for the defaults. Returns BRR_OK (also when
   found ended the scan), BRR_STATUS_MISSING_PATH (data NULL with a size, or
   found NULL), BRR_STATUS_BAD_OPTION or BRR_STATUS_NO_MEMORY. */
VORNISH_BRR_API int BRRScan(const uint8_t *data, size_t size, const BRRScanOptions *options,
                            BRRFoundFunction found, void *context);

/* ---- Music-state dumps ---------------------------------------------------- */

/* A music-state dump holds the playback processor's 64 KiB memory at
   BRR_DUMP_MEMORY_OFFSET and the sound chip's 128 registers at
   BRR_DUMP_REGISTERS_OFFSET; it is at least BRR_DUMP_MIN_SIZE bytes, and its
   bytes 0x21 and 0x22 are 26 and byte 0x23 is 26 (a text tag follows) or 27.
   BRRScan and BRRInsert take the memory image of such data at
   BRR_DUMP_MEMORY_OFFSET when memoryOffset is BRR_SCAN_AUTO. */
#define BRR_DUMP_MIN_SIZE 0x10200
#define BRR_DUMP_MEMORY_OFFSET 0x100
#define BRR_DUMP_REGISTERS_OFFSET 0x10100
#define BRR_VOICES 8

/* One of the chip's voices, as the registers hold it. */
typedef struct BRRVoice {
    int32_t pitch;     /* 0..0x3FFF; 0x1000 plays at 32000 Hz */
    int32_t rate;      /* the rate the pitch stands for, pitch * 32000 / 4096, rounded */
    int32_t source;    /* the directory entry it plays, 0..255 */
    int32_t sounding;  /* non-zero: its envelope's current value is not 0 */
    uint8_t adsr[2];   /* the envelope's attack-decay-sustain-release bytes */
    uint8_t gain;      /* the envelope's gain byte */
    uint8_t envelope;  /* the envelope's current value */
} BRRVoice;

typedef struct BRRDump {
    /* The directory's address from its register (a multiple of 256), and
       whether the entries there name sample chains (a dump saved before its
       program set the register names none). */
    int32_t directory;
    int32_t directoryNamesSamples;
    /* The echo buffer the chip writes, in the memory image: start and size
       (it wraps at 0x10000), or echoStart -1 when the chip does not write it. */
    int32_t echoStart;
    int32_t echoBytes;
    BRRVoice voices[BRR_VOICES];
    int32_t hasTitles; /* non-zero: song and game hold the header's text tag */
    char song[33];     /* NUL-terminated; "" without a text tag */
    char game[33];
    uint8_t reserved[30];
} BRRDump;

/* Non-zero when size bytes at data are a music-state dump. */
VORNISH_BRR_API int BRRIsDump(const uint8_t *data, size_t size);

/* Reads what a dump's registers and header say. Returns BRR_OK,
   BRR_STATUS_MISSING_PATH (a NULL pointer), BRR_STATUS_NOT_A_DUMP or
   BRR_STATUS_NO_MEMORY; dump is written only on BRR_OK. */
VORNISH_BRR_API int BRRReadDump(const uint8_t *data, size_t size, BRRDump *dump);

/* ---- Putting a sample back ----------------------------------------------- */

/* A range of memory addresses, end exclusive. */
typedef struct BRRMemoryRange {
    int64_t start;
    int64_t end;
} BRRMemoryRange;

#define BRR_MAX_FREE_RANGES 64

typedef struct BRRInsertOptions {
    /* Exactly one of the two: a directory entry 0..255 whose sample is
       replaced and whose start and loop addresses are written, or an offset
       in the data where a chain through its end block is replaced in place.
       The other is -1. */
    int32_t entry;
    int32_t reserved0; /* zero */
    int64_t at;
    /* As BRRScanOptions has them (entry only): the memory image, BRR_SCAN_AUTO
       (a dump's, or data of exactly 65536 bytes) or an offset; the directory,
       BRR_SCAN_AUTO (a dump's register, else searched for) or its address. */
    int64_t memoryOffset;
    int32_t directory;
    /* How many free ranges (0..BRR_MAX_FREE_RANGES), memory addresses in
       0..0x10000 with start < end, tried in order where the old place is no
       room. */
    int32_t freeCount;
    const BRRMemoryRange *free;
    /* The echo buffer (memory addresses, wrapping at 0x10000; bytes 1..65536),
       or echoStart -1: a dump's own, none for a plain memory image. */
    int64_t echoStart;
    int64_t echoBytes;
    uint32_t reserved[8]; /* zero */
} BRRInsertOptions;

typedef struct BRRInsertResult {
    uint64_t offset;      /* the new blocks' first byte, in the data */
    uint64_t bytes;       /* the new blocks' size (the loop header is not written) */
    uint64_t room;        /* the largest place that was open to it: its old
                             place, or a free range that overlaps nothing */
    int64_t start;        /* the entry's new start and loop addresses, or -1 */
    int64_t loopAddress;
    int64_t loopBlock;    /* the new sample's loop block, or BRR_NO_LOOP_START */
    uint64_t oldOffset;   /* the old sample, in the data */
    uint64_t oldBytes;
    int32_t freeRange;    /* the free range used, or -1: the old place */
    int32_t sharedEntries; /* other entries that still use the old sample's bytes */
    int32_t loopFlagWithoutHeader; /* non-zero: the sample loops but had no loop header */
    int32_t directory;    /* the directory used, or -1 */
    uint32_t reserved[4];
} BRRInsertResult;

/* Entry, at and memory image -1 and auto, no free range, no echo given. */
VORNISH_BRR_API void BRRInsertOptionsInit(BRRInsertOptions *options);

/* Puts sampleSize bytes at sample (blocks, with a 2-byte loop header when
   the size is 2 more than a multiple of 9; the last block must have the end
   flag) into size bytes at data. With an entry, the new blocks take the old
   sample's place when they fit in its bytes and no other entry uses them,
   else the first free range in which they fit; a place that would overlap
   the directory (its entries through the last that names a sample), another
   entry's sample or the echo buffer is refused. The entry's loop address is
   its start plus the loop header's offset (its start without one). With an
   offset, the chain there is replaced when the new blocks fit in it. Only
   the new blocks' bytes and the entry's four bytes change, and data is left
   untouched unless the status is BRR_OK. result may be NULL; on
   BRR_STATUS_NO_ROOM it still says what was needed (bytes) and open (room).
   Returns BRR_OK, BRR_STATUS_MISSING_PATH, BRR_STATUS_BAD_OPTION,
   BRR_STATUS_BAD_SIZE / BRR_STATUS_NO_BLOCKS / BRR_STATUS_BAD_LOOP_HEADER /
   BRR_STATUS_NO_END_BLOCK (the sample), BRR_STATUS_NO_SUCH_ENTRY,
   BRR_STATUS_NO_ROOM, BRR_STATUS_OVERLAPS_DIRECTORY / _SAMPLE / _ECHO (the
   first free range large enough overlapped it, and none after it fitted) or
   BRR_STATUS_NO_MEMORY. */
VORNISH_BRR_API int BRRInsert(uint8_t *data, size_t size, const uint8_t *sample, size_t sampleSize,
                              const BRRInsertOptions *options, BRRInsertResult *result);

/* ---- Text ----------------------------------------------------------------- */

/* A short English sentence for a status ("the input's size is not a multiple
   of 9 bytes"); never NULL. */
VORNISH_BRR_API const char *BRRStatusText(int status);

/* The note names from C upward, each two characters wide ("C ", "C#", ...,
   "B "); NULL outside 0..11. */
VORNISH_BRR_API const char *BRRNoteName(int index);

/* The library's version as text ("1.1.0") and as BRR_VERSION_NUMBER
   counts it (10100): that of the library loaded, which may be newer than
   the header a program was built with. */
VORNISH_BRR_API const char *BRRVersion(void);
VORNISH_BRR_API int BRRVersionNumber(void);

/* The names the tools and the Python module take: of a rule set ("library",
   "hardware") and of an effort ("fast", "default", "best"). NULL for a value
   that has none. */
VORNISH_BRR_API const char *BRRRulesName(int rules);
VORNISH_BRR_API const char *BRREffortName(int effort);
/* The value of such a name (exactly as spelt above), or -1 for any other
   text or NULL. */
VORNISH_BRR_API int BRRRulesByName(const char *name);
VORNISH_BRR_API int BRREffortByName(const char *name);

#ifdef __cplusplus
}
#endif

#endif /* VORNISH_AUDIO_BRR_H */
