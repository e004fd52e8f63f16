// Connection strings as a person types them: whatever the text, reading it gives a connection
// or an error, and neither the error nor the name shown carries the password written in it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/postgresql/pg_database.h"

namespace {

// What a person is shown for the string: its name without password, or why it is refused.
std::string Shown(const std::string& conninfo) {
  try {
    return kvtpg::Redacted(conninfo);
  } catch (const kvt::Error& e) {
    return e.Description();
  }
}

// The message for the string `make` builds around `password` must not hold the password,
// unless its own words and the rest of the string spell it (libpq quotes pieces of the string
// it complains about): then the same string with another password of the same length shows it
// too.
template <class Make>
void Check(const Make& make, const std::string& password) {
  const std::string shown = Shown(make(password));
  (void)kvtpg::IsConnectionString(make(password));
  if (password.size() < 3 || shown.find(password) == std::string::npos) return;
  const char other = password.find_first_not_of('Z') == std::string::npos ? 'Y' : 'Z';
  if (Shown(make(std::string(password.size(), other))).find(password) != std::string::npos) return;
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = text.find('\n');
  std::string password = text.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : text.substr(cut + 1);
  Check([&](const std::string&) { return text; }, "");
  // In a URI a password ends at '@' and cannot hold '/', '?' or '#'.
  if (password.find_first_of("@/?#:%[]") == std::string::npos) {
    Check([&](const std::string& p) { return "postgresql://kvt:" + p + "@" + rest; }, password);
  }
  if (password.find_first_of("'\\ \t\n") == std::string::npos) {
    Check([&](const std::string& p) { return "host=h password='" + p + "' " + rest; }, password);
    // Appended to a URI, "password=" is no keyword but part of the URI's host or path.
    if (!rest.starts_with("postgres")) {
      Check([&](const std::string& p) { return rest + " password=" + p; }, password);
    }
  }
  return 0;
}
