// The contracts are interfaces; this unit checks that each header stands on its own.
#include "kvtfields/contracts/auto_completer.h"
#include "kvtfields/contracts/controls.h"
#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/host.h"
#include "kvtfields/contracts/layout_control.h"
#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/contracts/window.h"
