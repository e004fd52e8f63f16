// An engine that reaches into a window system: the layering check must refuse it.
#include "engine/sqlite/sqlite_engine.h"
#include "host/qt/qt_desktop.h"
