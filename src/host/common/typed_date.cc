#include "host/common/typed_date.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include "runtime/text.h"

namespace kvthost {
namespace {

constexpr std::array<const char*, 12> kMonths = {"gennaio",   "febbraio", "marzo",    "aprile",
                                                 "maggio",    "giugno",   "luglio",   "agosto",
                                                 "settembre", "ottobre",  "novembre", "dicembre"};

std::string Shown(int day, int month, int year) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", day, month, year);
  return text;
}

TypedDate Refused(std::string why) {
  return {std::nullopt, std::move(why)};
}

int ThisYear();
int ThisCentury() {
  return ThisYear() / 100 * 100;
}

int ThisYear() {
  using namespace std::chrono;
  const year_month_day today{floor<days>(system_clock::now())};
  return static_cast<int>(today.year());
}

}  // namespace

TypedDate ReadTypedDate(std::string_view text) {
  static constexpr const char* kIncomplete =
      "Data incompleta: scrivere giorno, mese e anno (gg/mm/aaaa), o cancellarla.";
  // The parts: runs of digits, split at '/' (or any other mark a person may use: '.', '-').
  std::vector<std::string> parts(1);
  bool separated = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      parts.back().push_back(c);
    } else if (c == '/' || c == '.' || c == '-') {
      parts.emplace_back();
      separated = true;
    } else if (c != ' ') {
      return Refused("\"" + kvt::Printable(text) + "\" non è una data (gg/mm/aaaa).");
    }
  }
  if (!separated) {
    // Digits alone: ddmmyy or ddmmyyyy.
    const std::string digits = parts.front();
    if (digits.size() != 6 && digits.size() != 8) return Refused(kIncomplete);
    parts = {digits.substr(0, 2), digits.substr(2, 2), digits.substr(4)};
  }
  // Day and month alone ("5/12", or "5/12/" as the mask leaves it): this year.
  if (separated && (parts.size() == 2 || (parts.size() == 3 && parts[2].empty()))) {
    parts.resize(2);
    parts.push_back(std::to_string(ThisYear()));
  }
  if (parts.size() != 3) return Refused(kIncomplete);
  for (const auto& part : parts) {
    if (part.empty()) return Refused(kIncomplete);
  }
  if (parts[0].size() > 2 || parts[1].size() > 2 ||
      (parts[2].size() != 2 && parts[2].size() != 4)) {
    return Refused(kIncomplete);
  }
  const int day = std::stoi(parts[0]);
  const int month = std::stoi(parts[1]);
  int year = std::stoi(parts[2]);
  if (parts[2].size() == 2) year += ThisCentury();
  if (month < 1 || month > 12) {
    return Refused("La data " + Shown(day, month, year) + " non esiste: il mese va da 1 a 12.");
  }
  if (year < 100) {
    return Refused("La data " + Shown(day, month, year) + " non esiste: l'anno va da 100 a 9999.");
  }
  const unsigned days_in = static_cast<unsigned>(std::chrono::year_month_day_last{
      std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) /
      std::chrono::last}
                                                     .day());
  if (day < 1 || static_cast<unsigned>(day) > days_in) {
    return Refused("La data " + Shown(day, month, year) +
                   " non esiste: " + kMonths[static_cast<std::size_t>(month - 1)] + " " +
                   std::to_string(year) + " ha " + std::to_string(days_in) + " giorni.");
  }
  return {kvt::MakeDate(year, month, day), {}};
}

}  // namespace kvthost
