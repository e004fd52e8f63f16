// The demo session both programs play on the sample archive: a person enters an invoice, is
// stopped by the checks, adds a code, lets the script compute, saves, and starts the next
// document with the retained values.
#pragma once

#include <functional>
#include <string>

#include "common/entry_session.h"

namespace kvtapp {

/// Plays the session on `e` (open on the sample archive's entry form); `step` is called after
/// each step with its title. Returns 0 when the document was stored, 1 otherwise.
int PlayDemo(EntrySession& e, const std::function<void(const std::string& title)>& step);

/// The collection's values, one "    name = value" line each.
std::string DescribeValues(kvtfields::FieldsCollection& fields);

}  // namespace kvtapp
