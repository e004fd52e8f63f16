// An error of a database or of the system told to a person: what happened and what to do, in
// Italian, with the original text kept apart for whoever helps them (the "Dettagli").
#pragma once

#include <exception>
#include <string>

namespace kvtapp {

struct Problem {
  std::string happened;  // one Italian sentence: what went wrong
  std::string todo;      // one Italian sentence: what to do; empty when the caller knows best
  std::string details;   // the original error: number, source and description
};

/// Reads an error the engines, the scripts or the system raised.
Problem ProblemOf(const std::exception& e);

}  // namespace kvtapp
