// Whether the streams may be folded and descrambled with the processor's
// 128-bit registers. Pure: asks the processor itself, and nothing of the
// system but what the processor reports of it.
#pragma once

// Nonzero where the processor has SSE2 and carry-less multiplication and
// the system saves the 128-bit registers across task switches; 0
// elsewhere, including every processor that is not x86.
int VectorPathUsable(void);
