/*
 * VornishAudioBRRFile: the library's file layer, for hosts that convert
 * files rather than memory. Files are plain descriptors with 64-bit sizes
 * and offsets on every platform; opening, reading and writing report the
 * system's error number instead of printing, and nothing here exits.
 *
 * An output that is a regular file (or a new name) appears whole or not at
 * all: it is written as a replacement, a new file in the target's folder
 * (unnamed where the system allows, on Linux; elsewhere under a hidden
 * temporary name), which takes the target's place only at BRRFileCommit.
 * Until then the target is untouched, whatever fails and whenever the
 * process dies. Devices and pipes are written directly. Nothing is synced to
 * the disk: like cp, a crash of the whole system may still lose the newest
 * data.
 *
 * The policy (which file may be replaced, what is said about it) is the
 * caller's: these are only the mechanisms. A conversion is
 *   BRRFileOpenInput, BRRPlan(BRRFileRead, &input, input.size, ...),
 *   BRRFileOpenOutput, BRRRenderToFile, BRRFileClose(&input),
 *   BRRFileCommit(&output), and BRRFileClose(&output) on any failure.
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
    uint64_t device;  /* device (volume) and file number: its identity; for */
    uint64_t number;  /* a replacement, that of the file it replaces (0: none) */
    int error;
    /* A replacement in progress (BRRFileOpenOutput). The library owns these
       strings; BRRFileCommit or BRRFileClose frees them. */
    int replacing;
    int exclusive;
    char *target;           /* where it goes, symbolic links followed */
    char *temporary;        /* its temporary name; NULL while unnamed */
    wchar_t *wideTarget;    /* the same on Windows */
    wchar_t *wideTemporary;
} BRRFile;

/* Opens a regular file for reading, never waiting on a FIFO. Returns 0, or
   the system's error number, or BRR_FILE_NOT_REGULAR. widePath, when not
   NULL, is what Windows opens (path then only names it); POSIX opens path. */
VORNISH_BRR_API int BRRFileOpenInput(BRRFile *file, const char *path, const wchar_t *widePath);

/* Opens an output. A device or pipe there is opened for writing as it is.
   Otherwise (a regular file, a symbolic link to one, or a new name) a
   replacement is opened: an empty new file in the target's folder, with the
   permission bits of the file it replaces (or, when they cannot be set, the
   error). With exclusive, an existing
   regular file (or a dangling link) is refused with BRR_FILE_EXISTS, and so
   is one that appears before BRRFileCommit. Returns 0 or the error. */
VORNISH_BRR_API int BRRFileOpenOutput(BRRFile *file, const char *path, const wchar_t *widePath,
                                      int exclusive);

/* Closes a replacement and then puts it in place of its target (atomically,
   by rename; exclusively, by a link that fails if the name is taken); closes
   any other output. The target is touched only once the close has
   succeeded, so a failing close (a network file system's late write error,
   a quota) leaves it as it was. Returns 0 or the error; on an error the
   target is as it was and the replacement is gone. A signal handler that
   calls BRRFileAbandon on this file must not run during the call: block
   those signals around it. */
VORNISH_BRR_API int BRRFileCommit(BRRFile *file);

/* Describes a descriptor that is already open (standard input or output).
   The BRRFile holds nothing else: BRRFileClose closes the descriptor, and a
   caller that keeps the descriptor open simply never calls it. Returns 0 or
   the error. */
VORNISH_BRR_API int BRRFileAdopt(BRRFile *file, int descriptor);

/* Non-zero when both are the same regular file (a hard or symbolic link to
   it included); an output replacement counts as the file it replaces. */
VORNISH_BRR_API int BRRFileIsSame(const BRRFile *a, const BRRFile *b);

/* Closes the descriptor; a replacement not committed is discarded and its
   target left as it was. Returns 0 or the error. */
VORNISH_BRR_API int BRRFileClose(BRRFile *file);

/* Discards a replacement's temporary name, if it has one, without closing
   or freeing anything: for a signal handler (async-signal-safe on POSIX),
   which then ends the process. */
VORNISH_BRR_API void BRRFileAbandon(const BRRFile *file);

/* The BRRReadFunction and BRRWriteFunction of a BRRFile (the context):
   positional whole reads, and whole writes at the current position. An early
   end of the file is EIO. */
VORNISH_BRR_API int BRRFileRead(void *file, uint64_t offset, void *buffer, size_t size);
VORNISH_BRR_API int BRRFileWrite(void *file, const void *bytes, size_t size);

/* The reason for an error number of these functions, as a short phrase.
   The text may live in a buffer of the calling thread's, valid until its
   next call; calls on different threads never share one. */
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
