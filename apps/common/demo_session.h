// The demo session both programs play on the sample archive: a person enters an invoice, is
// stopped by the checks, adds a code, lets the script compute, saves, and starts the next
// document with the retained values.
#pragma once

#include <functional>
#include <string>

#include "common/workspace.h"

namespace kvtapp {

/// Plays the session on `w` (built on the sample archive's entry form); `step` is called
/// after each step with its title. Returns 0 when the document was stored, 1 otherwise.
int PlayDemo(Workspace& w, const std::function<void(const std::string& title)>& step);

/// The collection's values, one "    name = value" line each.
std::string DescribeValues(kvtfields::FieldsCollection& fields);

}  // namespace kvtapp
