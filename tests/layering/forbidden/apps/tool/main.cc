// A program using the component's own internals: refused.
#include "common/workspace.h"
#include "kvtfields/internal/live_object.h"
