// The words read off a kept file's pages, each with its box and how sure the reader was: read
// once (from a PDF's own text, or by OCR), kept with the file, searched and clicked on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvtfiles {

/// A word on a page: its box in the page's units (pixels of a scan, points of a PDF), origin
/// top left.
struct Word {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  std::int32_t confidence = 100;  // 0-100; a PDF's own text is 100
  std::string text;               // UTF-8, no blanks
};

/// One page as read.
struct PageText {
  std::int32_t width = 0, height = 0;  // the page in the words' units
  std::vector<Word> words;             // in reading order
  /// The words, a blank between them.
  std::string Text() const;
};

/// What reading a file gave: its pages, or why it could not be read.
struct FileReading {
  std::string reader;   // who read it and how ("pdf-text", "tesseract 5.3.0 ita"): read again
                        // when the reader changes
  std::string read_at;  // UTC, ISO 8601
  std::string failure;  // empty when read; else why not (in Italian, for the ledger)
  std::vector<PageText> pages;
};

/// The most characters of words kept per page: a text layer of 100 MB of invisible text is cut
/// here, not kept.
inline constexpr std::size_t kMaxPageChars = 200000;

/// The most characters of a file's words searched: the pages after are kept, not searched.
inline constexpr std::size_t kMaxFileChars = 8 << 20;
/// The words of every page of `reading`, as searched: a line per page, at most kMaxFileChars.
std::string SearchedText(const FileReading& reading);

/// A page's words as kept: a line per word, "x y width height confidence text".
std::string EncodeWords(const std::vector<Word>& words);
/// The words EncodeWords kept; false (and `words` as far as read) when the text is not that.
bool DecodeWords(std::string_view text, std::vector<Word>& words);

/// A word as read, made safe to keep and show: control characters, blanks and the marks that
/// reorder text (bidi overrides and isolates) taken out.
std::string CleanWord(std::string_view text);

/// A text with accents taken off its Latin letters ("perché" → "perche"), as words are indexed
/// and searched, so that a word is found however its accent was read or typed.
std::string FoldAccents(std::string_view text);

}  // namespace kvtfiles
