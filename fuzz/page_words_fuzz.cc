// The words of a page from anywhere (a PDF's text layer, the OCR, a database made elsewhere) and
// the words a person searches for: a kept record reads back as written or is refused, a word
// kept is clean, and no search text escapes its parameters into the query.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/document_search.h"
#include "engine/common/engine_error.h"
#include "engine/files/page_text.h"
#include "runtime/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<kvtfiles::Word> words;
  if (kvtfiles::DecodeWords(bytes, words)) {
    std::vector<kvtfiles::Word> again;
    if (!kvtfiles::DecodeWords(kvtfiles::EncodeWords(words), again)) __builtin_trap();
  }
  const std::string clean = kvtfiles::CleanWord(bytes);
  for (const char c : clean) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) __builtin_trap();
  }
  if (kvtfiles::CleanWord(clean) != clean) __builtin_trap();
  if (kvtfiles::FoldAccents(bytes).size() > size) __builtin_trap();

  try {
    kvtengine::KeyCondition k;
    k.op = kvtengine::KeyCondition::Op::kWords;
    k.words = kvtengine::ParseWords(bytes, "fuzz");
    // What was typed is in the parameters only: the statement is the one of any words alike.
    kvtengine::KeyCondition plain = k;
    for (auto& t : plain.words) t.text = "x";
    for (const auto dialect : {kvtengine::SqlDialect::kSqlite, kvtengine::SqlDialect::kPostgres}) {
      if (kvtengine::SearchQuery(dialect, "A", {k}, 0, 50, false).sql !=
          kvtengine::SearchQuery(dialect, "A", {plain}, 0, 50, false).sql) {
        __builtin_trap();
      }
    }
  } catch (const kvt::Error&) {
    // no word in it: refused, said
  }
  return 0;
}
