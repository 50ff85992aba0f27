#include "ui/ui.h"

int CancelRequested;
