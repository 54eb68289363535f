// What the engine's glue files share.
#ifndef VORNISH_WEB_GLUE_H
#define VORNISH_WEB_GLUE_H

#include <cstdint>

// A progress function for the C API: the page's progress bar.
void VornishProgress(void* context, std::uint64_t done, std::uint64_t total);

#endif
