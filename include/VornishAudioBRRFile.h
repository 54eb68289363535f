/*
 * VornishAudioBRRFile: the library's file layer, for hosts that convert
 * files rather than memory. Files are plain descriptors with 64-bit sizes
 * and offsets on every platform; opening, reading and writing report the
 * system's error number instead of printing, and nothing here exits.
 *
 * The policy (which file may be replaced, what is said about it) is the
 * caller's: these are only the mechanisms. A conversion is
 *   BRRFileOpenInput, BRRPlan(BRRFileRead, &input, input.size, ...),
 *   BRRFileOpenOutput, BRRFileTruncate, BRRRenderToFile, BRRFileClose,
 * and BRRFileRemove for an output that failed half-way.
 */
#ifndef VORNISH_AUDIO_BRR_FILE_H
#define VORNISH_AUDIO_BRR_FILE_H

#include <stddef.h>
#include <stdint.h>

#include "VornishAudioBRR.h"

/* Open failures other than the system's own error numbers. */
#define BRR_FILE_NOT_REGULAR (-1) /* an input that is a FIFO, device or the like */
#define BRR_FILE_EXISTS (-2)      /* an exclusive output that is a regular file already */

#ifdef __cplusplus
extern "C" {
#endif

/* An open file and what it is. error holds the system's error number of the
   last read or write that failed through this file. */
typedef struct BRRFile {
    int descriptor;   /* -1 when closed */
    int regular;      /* a regular file (not a device, pipe or terminal) */
    uint64_t size;    /* at the time it was opened or adopted */
    uint64_t device;  /* device (volume) and file number: its identity */
    uint64_t number;
    int error;
} BRRFile;

/* Opens a regular file for reading, never waiting on a FIFO. Returns 0, or
   the system's error number, or BRR_FILE_NOT_REGULAR. widePath, when not
   NULL, is what Windows opens (path then only names it); POSIX opens path. */
VORNISH_BRR_API int BRRFileOpenInput(BRRFile *file, const char *path, const wchar_t *widePath);

/* Opens path for writing, creating it if it is missing, WITHOUT truncating
   it, so that it can be compared with the input first. With exclusive, an
   existing regular file is refused with BRR_FILE_EXISTS; devices and pipes
   are opened all the same. Returns 0 or the error. */
VORNISH_BRR_API int BRRFileOpenOutput(BRRFile *file, const char *path, const wchar_t *widePath,
                                      int exclusive);

/* Describes a descriptor that is already open (standard input or output);
   BRRFileClose is then the caller's choice. Returns 0 or the error. */
VORNISH_BRR_API int BRRFileAdopt(BRRFile *file, int descriptor);

/* Non-zero when both are the same regular file (a hard or symbolic link to
   it included). */
VORNISH_BRR_API int BRRFileIsSame(const BRRFile *a, const BRRFile *b);

/* Empties the file; 0 or the error. An empty file is left untouched (on ext4
   truncating one anyway makes closing it flush the whole new output). */
VORNISH_BRR_API int BRRFileTruncate(BRRFile *file);

/* Closes the descriptor; 0 or the error (a failed close can lose data). */
VORNISH_BRR_API int BRRFileClose(BRRFile *file);

/* Removes the file at path if it is still the regular file that file
   describes: not a link, not a device, not replaced since. Safe to call from
   a signal handler on POSIX. */
VORNISH_BRR_API void BRRFileRemove(const char *path, const wchar_t *widePath, const BRRFile *file);

/* The BRRReadFunction and BRRWriteFunction of a BRRFile (the context):
   positional whole reads, and whole writes at the current position. */
VORNISH_BRR_API int BRRFileRead(void *file, uint64_t offset, void *buffer, size_t size);
VORNISH_BRR_API int BRRFileWrite(void *file, const void *bytes, size_t size);

/* The reason for an error number of these functions, as a short phrase. */
VORNISH_BRR_API const char *BRRFileErrorText(int error);

/* BRRRender into an open output. Where the platform has threads, a helper
   thread writes each piece while the next one decodes; it ends with the call.
   output->error tells why a write failed. */
VORNISH_BRR_API int BRRRenderToFile(BRRReadFunction read, void *readContext,
                                    const BRRConvertOptions *options, BRRFile *output,
                                    BRRConvertResult *result);

#ifdef __cplusplus
}
#endif

#endif /* VORNISH_AUDIO_BRR_FILE_H */
