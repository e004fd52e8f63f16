// Connection strings as a person types them: whatever the text, reading it gives a connection
// or an error, and neither the error nor the name shown carries the password written in it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/postgresql/pg_database.h"

namespace {

// The message must not hold the password, unless the rest of the text holds it anyway.
void Check(const std::string& conninfo, const std::string& password, const std::string& rest) {
  std::string shown;
  try {
    shown = kvtpg::Redacted(conninfo);
  } catch (const kvt::Error& e) {
    shown = e.Description();
  }
  (void)kvtpg::IsConnectionString(conninfo);
  if (password.size() >= 3 && rest.find(password) == std::string::npos &&
      std::string("kvt postgresql password host").find(password) == std::string::npos &&
      shown.find(password) != std::string::npos) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = text.find('\n');
  std::string password = text.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : text.substr(cut + 1);
  Check(text, "", "");
  // In a URI a password ends at '@' and cannot hold '/', '?' or '#'.
  if (password.find_first_of("@/?#:%[]") == std::string::npos) {
    Check("postgresql://kvt:" + password + "@" + rest, password, rest);
  }
  if (password.find_first_of("'\\ \t\n") == std::string::npos) {
    Check("host=h password='" + password + "' " + rest, password, rest);
    Check(rest + " password=" + password, password, rest);
  }
  return 0;
}
