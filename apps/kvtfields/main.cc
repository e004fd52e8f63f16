// The kvtfields command-line program.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/record_set.h"
#include "runtime/text.h"
#include "runtime/variant.h"

namespace {

constexpr const char* kVersion = "kvtfields 1.09.0004";

constexpr const char* kUsage =
    "usage: kvtfields <command>\n"
    "\n"
    "commands:\n"
    "  selfcheck   check that the runtime works on this machine (locale, numbers, dates,\n"
    "              late-bound calls, dictionaries, record sets)\n"
    "  --version   print the version\n"
    "  --help      print this text\n";

// One check of the self-check: a name and a test that throws or returns false on failure.
struct Check {
  const char* name;
  std::function<bool()> run;
};

int SelfCheck() {
  using namespace kvt;
  const std::vector<Check> checks = {
      {"locale it_IT reads 1.234,5 as a number",
       [] { return ParseLocaleNumber("1.234,5") == 1234.5; }},
      {"upper case through ICU", [] { return ToUpper("àbc") == "ÀBC"; }},
      {"integers round half to even",
       [] { return CInt(Variant(2.5)) == 2 && CInt(Variant(3.5)) == 4; }},
      {"dates read and print as dd/mm/yyyy",
       [] { return CStr(Variant(CDate(Variant("05/12/2026")))) == "05/12/2026"; }},
      {"Null propagates through comparisons",
       [] { return Equals(Variant::Null(), Variant("")) == Tri::kNull; }},
      {"late-bound calls by name and by member id",
       [] {
         auto d = Dictionary::Create();
         ObjectRef o = d;
         CallMethod(o, "ADD", "k", 42);
         std::array<Variant, 1> key{Variant("k")};
         return CLng(GetProperty(o, "item", "k")) == 42 &&
                CLng(Invoke(o, kDefaultMember, MemberKind::kGet, key)) == 42;
       }},
      {"record sets refuse reads after Close",
       [] {
         auto rs = MemoryRecordSet::Create({"COD"}, {{Variant("A")}});
         rs->Close();
         try {
           rs->Value("COD");
         } catch (const Error& e) {
           return e.Number() == 3704;
         }
         return false;
       }},
  };
  int failed = 0;
  for (const auto& c : checks) {
    bool ok = false;
    std::string why;
    try {
      ok = c.run();
    } catch (const kvt::Error& e) {
      why = " (error " + std::to_string(e.Number()) + ": " + e.Description() + ")";
    }
    std::printf("%s  %s%s\n", ok ? "ok  " : "FAIL", c.name, why.c_str());
    failed += ok ? 0 : 1;
  }
  std::printf("%zu passed, %d failed\n", checks.size() - static_cast<std::size_t>(failed), failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "--version") {
    std::puts(kVersion);
    return 0;
  }
  if (command == "selfcheck") {
    std::printf("%s, locale %s\n", kVersion, kvt::CurrentLocale().c_str());
    return SelfCheck();
  }
  std::fprintf(stderr, "kvtfields: unknown command '%s' (try --help)\n", command.c_str());
  return 2;
}
