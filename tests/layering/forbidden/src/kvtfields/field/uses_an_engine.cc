// The component naming an engine instead of its contract: refused.
#include "engine/sqlite/sqlite_engine.h"
#include "kvtfields/contracts/db_engine.h"
