#include "core/workers.h"
