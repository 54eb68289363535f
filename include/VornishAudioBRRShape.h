/*
 * VornishAudioBRRShape: audio shaped for the BRR encoder, as a plain C API.
 *
 * What a recording needs before BRREncode takes it: one channel of 16-bit
 * samples at the rate it will play at, its loop on whole blocks, and the
 * treble the playback interpolation takes away given back. This library does
 * that (resampling with libsoxr), finds loops in sustained sounds, and counts
 * every sample pushed beyond full scale where it happens.
 *
 * Samples between the steps are doubles in 16-bit units: full scale is 32768,
 * so a 16-bit sample keeps its value. As in VornishAudioBRR.h, all state is
 * the caller's, nothing prints, and every function returns BRR_OK or a
 * BRR_STATUS_* failure (BRRStatusText, in the core library, names each).
 *
 * Link: -lVornishAudioBRRShape -lVornishAudioBRRDecoder (pkg-config
 * VornishAudioBRRShape; CMake: VornishAudioBRRDecoder::VornishAudioBRRShape).
 */
#ifndef VORNISH_AUDIO_BRR_SHAPE_H
#define VORNISH_AUDIO_BRR_SHAPE_H

#include <stddef.h>
#include <stdint.h>

#include "VornishAudioBRR.h"

#ifndef VORNISH_BRR_SHAPE_API
#  if defined(_WIN32)
#    if defined(VORNISH_BRR_BUILDING_SHAPE)
#      define VORNISH_BRR_SHAPE_API __declspec(dllexport)
#    else
#      define VORNISH_BRR_SHAPE_API __declspec(dllimport)
#    endif
#  elif defined(__GNUC__) || defined(__clang__)
#    define VORNISH_BRR_SHAPE_API __attribute__((visibility("default")))
#  else
#    define VORNISH_BRR_SHAPE_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- One channel of 16-bit units ------------------------------------- */

/* Interleaved sample types BRRToMono reads. Integers are at their own full
   scale (an 8-bit sample is unsigned, centred on 128); floats are -1..1. */
#define BRR_SAMPLE_UINT8 0
#define BRR_SAMPLE_INT16 1
#define BRR_SAMPLE_INT32 2
#define BRR_SAMPLE_FLOAT32 3
#define BRR_SAMPLE_FLOAT64 4

/* Most channels BRRToMono mixes. */
#define BRR_MAX_CHANNELS 256

typedef struct BRRMonoResult {
    uint64_t beyond;     /* samples of the result beyond full scale (they will clip) */
    uint64_t notNumbers; /* NaN values read as 0 (BRRToMono then refuses the input) */
} BRRMonoResult;

/* Turns `frameCount` interleaved frames of `channels` channels (1 to
   BRR_MAX_CHANNELS) into `out` (frameCount doubles): the mean of the
   channels, or channel `channel` alone (1-based; 0 mixes them). Float values
   beyond twice full scale, infinities among them, are held there, so that
   resampling stays finite. Returns BRR_STATUS_NOT_NUMBERS when a value is
   NaN (`result` still counts them), BRR_STATUS_BAD_OPTION for a type,
   channel count or channel out of range. `result` may be NULL. */
VORNISH_BRR_SHAPE_API int BRRToMono(const void *frames, size_t frameCount, uint32_t channels, int sampleType,
                                    uint32_t channel, double *out, BRRMonoResult *result);

/* ---- Shaping --------------------------------------------------------- */

/* How a loop becomes a whole number of 16-sample blocks. */
#define BRR_LOOP_FIT_AUTO 0     /* of the loop repeated k = 1..16 times and resampled to whole
                                   blocks, the k that changes the rate least (a repeat only where
                                   it keeps the sample within twice its size, or 2048 samples) */
#define BRR_LOOP_FIT_RESAMPLE 1 /* the whole sample resampled so that the loop is whole blocks */
#define BRR_LOOP_FIT_REPEAT 2   /* the loop repeated (up to 16 times) until it is whole blocks */

/* The most that resampling changes a rate, either way: rate / inputRate
   lies in 1/65536 .. 65536. The resampler's time grows without bound
   past ratios some ten times larger. */
#define BRR_SHAPE_MAX_RATIO 65536.0

typedef struct BRRShapeOptions {
    double inputRate;  /* the samples' rate in Hz, 1 to 1e7 (required) */
    double rate;       /* the rate wanted, 1 to 1e7 and within BRR_SHAPE_MAX_RATIO of
                          inputRate; 0 keeps the input's (default) */
    int64_t loopStart; /* the loop in input samples, end exclusive; -1: none (default) */
    int64_t loopEnd;
    int loopFit;       /* BRR_LOOP_FIT_* (default AUTO) */
    int trebleBoost;   /* 1: pre-emphasis against the playback interpolation (default 0) */
    int loopHeader;    /* 1: BRRShapePlan's size counts a 2-byte loop header where it holds
                          the loop (default 1) */
    int reserved[5];   /* must be 0 */
} BRRShapeOptions;

/* Fills the defaults above (inputRate 0: the caller sets it). NULL is left alone. */
VORNISH_BRR_SHAPE_API void BRRShapeOptionsInit(BRRShapeOptions *options);

typedef struct BRRShapePlan {
    double rate;          /* the shaped sample's rate */
    uint64_t sampleCount; /* samples BRRShape writes */
    int64_t loopStart;    /* in shaped samples, a multiple of 16; BRR_NO_LOOP_START: none */
    int64_t loopLength;   /* in shaped samples, a multiple of 16; 0: none */
    int64_t repeats;      /* input loops in the shaped loop (fits AUTO and REPEAT) */
    uint64_t encodedBytes; /* what BRREncode makes of it, the loop header included when
                              options.loopHeader asks and the loop start fits it */
    int loopHeader;       /* 1: encodedBytes includes a loop header */
    int reserved[3];
} BRRShapePlan;

/* What BRRShape will make of `count` input samples, without doing it.
   Refuses options out of range (BRR_STATUS_BAD_OPTION), a loop that is not
   inside the samples (BRR_STATUS_BAD_LOOP_START), and no samples
   (BRR_STATUS_NO_BLOCKS). */
VORNISH_BRR_SHAPE_API int BRRShapePlanOf(size_t count, const BRRShapeOptions *options, BRRShapePlan *plan);

/* The rate that meets a byte budget: the highest whole rate from 1000 Hz to
   options->rate (or to the input's rate, rounded down, when that is 0) at
   which BRRShapePlanOf's encodedBytes is at most maxBytes, into *rate; 0
   when options->rate is 0 and the input's own rate fits unresampled. Fails
   as BRRShapePlanOf, and with BRR_STATUS_TOO_LARGE when even 1000 Hz does
   not fit (*rate is then the size at 1000 Hz, for the message). */
#define BRR_LOWEST_FIT_RATE 1000
VORNISH_BRR_SHAPE_API int BRRShapeRateForBytes(size_t count, const BRRShapeOptions *options, uint64_t maxBytes,
                                               double *rate);

typedef struct BRRShapeResult {
    BRRShapePlan plan;
    int resampled;           /* 1: the rate changed */
    double boostScale;       /* < 1: the boost would have clipped, so the sample was scaled */
    uint64_t inputBeyond;    /* input samples beyond full scale: the input's own */
    uint64_t shapingBeyond;  /* shaped samples clipped that the input did not cause:
                                resampling's overshoot (counted only when the input has none) */
    int reserved[4];
} BRRShapeResult;

/* Shapes `count` samples into `out` (at least plan.sampleCount): resampled,
   the loop fitted and placed on a block by silence in front, boosted, and
   rounded to 16 bits. The samples after the loop's end are dropped: the
   sample ends with its loop. `result` may be NULL. Fails as BRRShapePlanOf,
   and with BRR_STATUS_SMALL_BUFFER, BRR_STATUS_NOT_NUMBERS,
   BRR_STATUS_RESAMPLE_FAILED or BRR_STATUS_NO_MEMORY. */
VORNISH_BRR_SHAPE_API int BRRShape(const double *samples, size_t count, const BRRShapeOptions *options,
                                   int16_t *out, size_t outCount, BRRShapeResult *result);

/* ---- Loop finding ---------------------------------------------------- */

/* Why BRRFindLoop found what it found. */
#define BRR_LOOP_FOUND 0         /* a loop in a sustained sound */
#define BRR_LOOP_NOT_SUSTAINED 1 /* the sound decays or changes (a drum hit, speech): one-shot */
#define BRR_LOOP_TOO_SHORT 2     /* too few samples after the attack to loop */

typedef struct BRRFoundLoop {
    int64_t start;  /* input samples, end exclusive; -1 when none was found */
    int64_t end;
    int verdict;    /* BRR_LOOP_* */
    double seam;    /* the loop's seam on the input, in dB (see BRREncodeResult.loopSeam) */
    double period;  /* the sound's period in samples, where it has a pitch; 0: none */
    int reserved[4];
} BRRFoundLoop;

/* Finds a loop in a sustained sound: a start after the attack and an end
   whose neighbourhood matches the start's, so that the waveform runs on
   across the splice. Of loops that join about equally well, the longest
   wins; a start inside the attack never does. A sound that does not sustain
   is left without one (verdict BRR_LOOP_NOT_SUSTAINED). `rate` (1 to 1e7)
   sets the time scales. Fails with BRR_STATUS_NOT_NUMBERS, BRR_STATUS_NO_BLOCKS
   (no samples), BRR_STATUS_BAD_OPTION or BRR_STATUS_NO_MEMORY. */
VORNISH_BRR_SHAPE_API int BRRFindLoop(const double *samples, size_t count, double rate, BRRFoundLoop *loop);

#ifdef __cplusplus
}
#endif

#endif
