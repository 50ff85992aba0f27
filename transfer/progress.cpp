#include "transfer/progress.h"

void AccountProgress(ProgressAccount *account, int *counter, int n)
{
    if (account->RemainingExpected <= 0 || n <= 0)
        return;
    int m = n < account->RemainingExpected ? n : account->RemainingExpected;
    int step = m / 100;
    if (step == 0)
        step = 1;
    // (m / step) * share / expected, exactly, in 32 bits: m / step is at
    // most 199, and the quotient is at most the share. With share = a *
    // expected + b, it is (m / step) * a plus b added up m / step times,
    // one expected taken away whenever the sum reaches it. No 64-bit
    // division routine is linked, whose unwind tables would cost the
    // program file a section of its own.
    int advance = 0;
    if (account->RemainingShare > 0) {
        unsigned expected = unsigned(account->RemainingExpected);
        unsigned share = unsigned(account->RemainingShare);
        unsigned times = unsigned(m / step), rest = share % expected, sum = 0;
        unsigned quotient = times * (share / expected);
        while (times--) {
            sum += rest;
            if (sum >= expected) {
                sum -= expected;
                ++quotient;
            }
        }
        advance = int(quotient) * step;
    }
    *counter += advance;
    account->RemainingExpected -= m;
    account->RemainingShare -= advance;
}
