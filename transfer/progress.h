// How a transfer advances its caller's progress counter: by a share of the
// expected size, block by block. Pure: no Windows headers.
#pragma once

struct ProgressAccount {
    int RemainingExpected; // bytes still expected; nothing is counted at 0 or below
    int RemainingShare;    // what the counter may still advance by
};

// Advances *counter for a block of n received bytes (header bytes count),
// by the block's part of the remaining share, rounded down in steps of a
// hundredth of the block, so that the counter lags and the final top-up
// with RemainingShare completes it exactly.
void AccountProgress(ProgressAccount *account, int *counter, int n);
