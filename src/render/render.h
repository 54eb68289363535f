// Rendering a planned conversion: the WAV header, every pass over the sample
// decoded piece by piece, the smpl chunk, and the loop reports as values.
#ifndef VORNISH_RENDER_H
#define VORNISH_RENDER_H

#include "VornishAudioBRR.h"
#include "stream/source.h"

namespace vornish {

// Writes the WAV that `result` plans (BRRPlan with the same options) and
// fills in the reports. With `threaded`, a helper thread writes each piece
// while the next decodes (where there are threads, and only when there is
// more than one piece). Returns a BRR status.
int RenderSource(const Source& source, const BRRConvertOptions& options, BRRWriteFunction write,
                 void* context, bool threaded, BRRConvertResult* result);

}  // namespace vornish

#endif
