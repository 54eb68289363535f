/* A C99 host of the shaping library: a 440 Hz tone at 44100 Hz, its loop
   found, shaped to 32000 Hz and encoded. Exits 0 when the loop was found and
   the blocks end with the end and loop flags. */
#include <math.h>
#include <stdlib.h>

#include "VornishAudioBRRShape.h"

int main(void)
{
    enum { kCount = 44100 };
    static double tone[kCount];
    BRRFoundLoop loop;
    BRRShapeOptions options;
    BRRShapePlan plan;
    BRREncodeResult encoded;
    int16_t *pcm;
    uint8_t *blocks;
    int ok;
    size_t i;
    for (i = 0; i < kCount; ++i) {
        tone[i] = 12000.0 * sin(2.0 * 3.14159265358979 * 440.0 * (double)i / 44100.0);
    }
    if (BRRFindLoop(tone, kCount, 44100, &loop) != BRR_OK || loop.verdict != BRR_LOOP_FOUND) {
        return 1;
    }
    BRRShapeOptionsInit(&options);
    options.inputRate = 44100;
    options.rate = 32000;
    options.loopStart = loop.start;
    options.loopEnd = loop.end;
    if (BRRShapePlanOf(kCount, &options, &plan) != BRR_OK) {
        return 1;
    }
    pcm = (int16_t *)malloc((size_t)plan.sampleCount * sizeof *pcm);
    blocks = (uint8_t *)malloc((size_t)BRR_ENCODED_SIZE(plan.sampleCount));
    ok = pcm != NULL && blocks != NULL &&
         BRRShape(tone, kCount, &options, pcm, (size_t)plan.sampleCount, NULL) == BRR_OK;
    if (ok) {
        BRREncodeOptions e;
        BRREncodeOptionsInit(&e);
        e.loopStart = plan.loopStart;
        ok = BRREncode(pcm, (size_t)plan.sampleCount, &e, blocks, (size_t)BRR_ENCODED_SIZE(plan.sampleCount),
                       &encoded) == BRR_OK &&
             (blocks[BRR_ENCODED_SIZE(plan.sampleCount) - 9] & 3) == 3;
    }
    free(pcm);
    free(blocks);
    return ok ? 0 : 1;
}
