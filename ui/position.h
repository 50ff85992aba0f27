// The progress bar position of a byte count. Pure: no Windows headers.
#pragma once

// (done × 10) ÷ (total ÷ 10), both divisions truncating, as if the product
// were formed in 64 bits and the quotient then cut to 32 bits. The bar's
// range is 0 to 100, so done = total gives about 100. total must be at
// least 10.
unsigned ProgressPosition(unsigned done, unsigned total);
