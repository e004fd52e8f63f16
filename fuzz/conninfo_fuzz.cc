// Connection strings as a person types them: whatever the text, reading it gives a connection
// or an error, and neither the error nor the name shown carries the password written in it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/postgresql/pg_database.h"

namespace {

// The message must not hold the password, unless it holds those characters for another reason
// (the rest of the text, the message's own words).
void Check(const std::string& conninfo, const std::string& password, const std::string& rest) {
  std::string shown;
  try {
    shown = kvtpg::Redacted(conninfo);
  } catch (const kvt::Error& e) {
    shown = e.Description();
  }
  (void)kvtpg::IsConnectionString(conninfo);
  // Text the message may hold for other reasons: the rest of the string, the scheme, the user
  // and host the harness writes, libpq's words about them.
  const std::string context = rest +
                              " postgresql:// kvt h password host=h *** not a PostgreSQL "
                              "connection string: it holds a NUL character";
  // A password with '*' may be spelt by the mask itself and the text around it.
  if (password.size() >= 3 && password.find('*') == std::string::npos &&
      context.find(password) == std::string::npos && shown.find(password) != std::string::npos) {
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
    // Appended to a URI, "password=" is no keyword but part of the URI's host or path.
    if (!rest.starts_with("postgres")) Check(rest + " password=" + password, password, rest);
  }
  return 0;
}
