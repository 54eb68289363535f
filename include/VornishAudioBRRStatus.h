/*
 * VornishAudioBRRStatus: what the library's two C headers share, the
 * export macro and the statuses 1 to 7 (their numbers are those the
 * original BRRDecode export has always returned). Included by
 * VornishAudioBRRDecoder.h and VornishAudioBRR.h; not meant to be included
 * alone.
 */
#ifndef VORNISH_AUDIO_BRR_STATUS_H
#define VORNISH_AUDIO_BRR_STATUS_H

#ifndef VORNISH_BRR_API
#  if defined(_WIN32)
#    if defined(VORNISH_BRR_BUILDING_LIBRARY)
#      define VORNISH_BRR_API __declspec(dllexport)
#    else
#      define VORNISH_BRR_API __declspec(dllimport)
#    endif
#  elif defined(__GNUC__) || defined(__clang__)
#    define VORNISH_BRR_API __attribute__((visibility("default")))
#  else
#    define VORNISH_BRR_API
#  endif
#endif

/* The input's size is not a multiple of 9 bytes; nothing written. */
#define BRR_STATUS_BAD_SIZE 1
/* The input holds no block (size 0); nothing written. */
#define BRR_STATUS_NO_BLOCKS 2
/* The WAV sizes would not fit 32 bits (more than 134,217,726 blocks). */
#define BRR_STATUS_TOO_LARGE 3
/* The working buffer could not be allocated. */
#define BRR_STATUS_NO_MEMORY 4
/* The input could not be read completely; no output left behind. */
#define BRR_STATUS_READ_ERROR 5
/* The WAV file could not be written completely (disk full, ...). */
#define BRR_STATUS_WRITE_ERROR 6
/* A path argument (or another required pointer) was a null pointer; nothing
   opened. */
#define BRR_STATUS_MISSING_PATH 7

#endif /* VORNISH_AUDIO_BRR_STATUS_H */
