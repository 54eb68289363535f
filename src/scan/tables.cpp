// The scanner's evidence tables (see evidence.h).
#include "scan/evidence.h"

namespace vornish {
namespace scan {

const Tables kTables = {
    /* delta  */ {1.46f, 1.43f, 0.35f, -1.18f, -4.28f, 0.35f, -0.37f, -1.32f, -2.15f, -4.46f, 1.08f, 0.84f, -0.13f, -1.59f, -4.58f},
    /* filter */ {1.02f, -1.02f, -1.02f, -1.29f},
    /* loop   */ {0.48f, 0.02f, 0.12f, -4.85f},
    /* fault  */ {0.17f, -2.16f, -4.94f},
    /* high   */ {-0.45f, 0.44f, 0.67f, 0.98f, 1.12f, 0.79f, -0.63f, -1.62f},
    /* jump   */ {0.58f, 0.85f, 0.61f, 0.01f, -1.93f, -4.71f},
    /* peak   */ {-0.77f, -1.17f, -0.75f, -1.05f, 1.22f, 1.97f, 1.26f, 0.06f, -0.95f},
    /* bias   */ {0.71f, 0.47f, -0.01f, -0.54f, -0.88f},
    /* echo   */ {0.19f, -0.49f, -2.09f, -2.66f, -2.53f, -2.34f, -1.84f, -1.46f, -0.58f},
    /* echo, filters 1-3 */ {0.19f, -0.49f, -2.09f, -2.66f, -4.0f, -4.5f, -5.0f, -5.0f, -5.0f},
    /* offset */ 18.0f,
};

}  // namespace scan
}  // namespace vornish
