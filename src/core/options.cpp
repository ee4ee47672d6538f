#include "core/options.h"

TOptions Options;
