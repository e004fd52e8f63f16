// The component naming an engine instead of its contract: refused.
#include "kvtfields/contracts/db_engine.h"
#include "engine/sqlite/db_engine.h"
