#include "ui/position.h"

unsigned ProgressPosition(unsigned done, unsigned total)
{
    // With done = whole × step + rest, (done × 10) ÷ step is whole × 10 +
    // (rest × 10) ÷ step, and rest × 10 < total cannot overflow. So no
    // 64-bit division, which would pull a runtime helper into the stub.
    unsigned step = total / 10;
    return done / step * 10 + done % step * 10 / step;
}
