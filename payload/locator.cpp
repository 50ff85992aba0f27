#include "payload/payload.h"

int EmbeddedMode;
PayloadHeaderRecord PayloadHeader;
