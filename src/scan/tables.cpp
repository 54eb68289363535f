// The scanner's evidence tables (see evidence.h).
#include "scan/evidence.h"

namespace vornish {
namespace scan {

const Tables kTables = {
    /* delta  */ {1.25f, 1.07f, 0.05f, -1.41f, -4.28f, 0.32f, -0.35f, -1.13f, -1.65f, -3.48f},
    /* filter */ {1.02f, -1.01f, -1.01f, -1.28f},
    /* loop   */ {0.48f, 0.02f, 0.12f, -4.23f},
    /* fault  */ {0.17f, -1.80f, -4.02f},
    /* high   */ {-0.45f, 0.43f, 0.66f, 0.97f, 1.10f, 0.77f, -0.63f, -1.60f},
    /* jump   */ {0.55f, 0.80f, 0.55f, -0.07f, -2.04f, -4.56f},
    /* peak   */ {-0.32f, -0.45f, -0.29f, -0.47f, 1.10f, 1.91f, 1.25f, 0.06f, -0.95f},
    /* bias   */ {0.70f, 0.46f, -0.01f, -0.54f, -0.86f},
    /* echo   */ {0.19f, -0.48f, -1.90f, -2.23f, -1.76f},
    /* offset */ 40.0f,
};

}  // namespace scan
}  // namespace vornish
