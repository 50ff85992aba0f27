#include "transfer/progress.h"

namespace {

// n / d by shift and subtract: the stub links no 64-bit division routine
// (whose unwind tables would cost the program file a section of its own).
unsigned long long DivideWide(unsigned long long n, unsigned d)
{
    unsigned long long quotient = 0, remainder = 0;
    for (int bit = 63; bit >= 0; --bit) {
        remainder = remainder << 1 | ((n >> bit) & 1);
        if (remainder >= d) {
            remainder -= d;
            quotient |= 1ull << bit;
        }
    }
    return quotient;
}

} // namespace

void AccountProgress(ProgressAccount *account, int *counter, int n)
{
    if (account->RemainingExpected <= 0 || n <= 0)
        return;
    int m = n < account->RemainingExpected ? n : account->RemainingExpected;
    int step = m / 100;
    if (step == 0)
        step = 1;
    // m / step is at most 199: with a 64-bit product a share of any size
    // gives the quotient that 32 bits give for the shares they can hold.
    int advance = 0;
    if (account->RemainingShare > 0)
        advance = int(DivideWide((unsigned long long)unsigned(m / step) *
                                     unsigned(account->RemainingShare),
                                 unsigned(account->RemainingExpected))) *
                  step;
    *counter += advance;
    account->RemainingExpected -= m;
    account->RemainingShare -= advance;
}
