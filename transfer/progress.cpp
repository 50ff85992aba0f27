#include "transfer/progress.h"

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
    long long scaled = (long long)(m / step) * account->RemainingShare /
                       account->RemainingExpected;
    int advance = int(scaled) * step;
    *counter += advance;
    account->RemainingExpected -= m;
    account->RemainingShare -= advance;
}
