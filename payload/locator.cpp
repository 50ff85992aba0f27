#include "payload/payload.h"

int EmbeddedMode;
