// A day's stack as a scanner gives it: the stack documents of a seed scanned at 300 dpi, a
// blank sheet between each two, written as one PDF of page pictures.
#pragma once

#include <string>
#include <vector>

#include "document_generator.h"

namespace kvttestdata {

/// What a stack holds: its documents in order, and the page each begins on (from 1).
struct Stack {
  std::vector<Document> documents;
  std::vector<int> first_pages;
  int pages = 0;
};

/// Writes documents 1-`count` of `seed` (MakeStackDocument) to `path`; returns what it holds.
/// Raises when the file cannot be written.
Stack WriteStackPdf(const std::string& path, int count, std::uint64_t seed);

/// The stack's documents, where they begin and their values, as JSON.
std::string StackTruthJson(const Stack& stack);

}  // namespace kvttestdata
