/* A C99 host: includes the public header, links the shared library and
   converts argv[1] into argv[2]. Exits 0 only if BRRDecode reports success. */
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "VornishAudioBRRDecoder.h"

static wchar_t *Widen(const char *narrow)
{
    size_t n = strlen(narrow);
    wchar_t *wide = (wchar_t *)malloc((n + 1) * sizeof(wchar_t));
    size_t i;
    if (wide == NULL) {
        return NULL;
    }
    for (i = 0; i <= n; ++i) {
        wide[i] = (wchar_t)(unsigned char)narrow[i]; /* ASCII paths only */
    }
    return wide;
}

int main(int argc, char **argv)
{
    wchar_t *input;
    wchar_t *output;
    int32_t status;
    if (argc != 3) {
        return 2;
    }
    input = Widen(argv[1]);
    output = Widen(argv[2]);
    status = BRRDecode(input, output);
    free(input);
    free(output);
    return status == BRR_STATUS_DONE ? 0 : 1;
}
