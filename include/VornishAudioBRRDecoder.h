/*
 * VornishAudioBRRDecoder: converts a BRR sample (a headerless file of 9-byte
 * blocks) into a WAV file of signed 16-bit mono PCM at 8000 Hz.
 *
 * This header declares the library's original export, BRRDecode (the C API
 * of VornishAudioBRR.h and VornishAudioBRRFile.h never prints or exits, for
 * hosts that need that). BRRDecode runs the whole conversion within the call (decoding on the caller's thread; on POSIX hosts a helper
 * thread writes the output and ends with the call), prints its progress on standard
 * output and its errors on standard error, and returns one of the
 * BRR_STATUS_* codes below.
 *
 * When the input cannot be opened for reading (or is not a regular file), or
 * the output cannot be opened for writing, BRRDecode prints one line on
 * standard error and ENDS THE CALLING PROCESS with exit status 1.
 *
 * Conversions on different threads may run at the same time; but a failure
 * that ends the process ends it for every thread.
 */
#ifndef VORNISH_AUDIO_BRR_DECODER_H
#define VORNISH_AUDIO_BRR_DECODER_H

#include <stdint.h>
#include <wchar.h>

#include "VornishAudioBRRStatus.h"

/* Conversion done, WAV file written. The failures, 1 to 7, are
   VornishAudioBRRStatus.h's. */
#define BRR_STATUS_DONE 999

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Converts the BRR file at inputPath into a WAV file at outputPath, which
 * it replaces only once the WAV is complete (it may be the input itself). Paths are wide strings: UTF-16
 * on Windows, opened as they are (their ANSI code-page form only shows in
 * messages); UTF-32 elsewhere, narrowed to UTF-8.
 */
VORNISH_BRR_API int32_t BRRDecode(const wchar_t *inputPath, const wchar_t *outputPath);

#ifdef __cplusplus
}
#endif

#endif /* VORNISH_AUDIO_BRR_DECODER_H */
