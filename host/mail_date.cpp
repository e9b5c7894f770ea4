#include "host/mail_date.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string>

#include "host/folder_names.h"
#include "platform/text.h"

namespace kv::host {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<std::string_view, 7> kDays = {"sunday",   "monday", "tuesday", "wednesday",
                                                   "thursday", "friday", "saturday"};

struct NamedZone {
  std::string_view name;
  int offset_minutes;
};
constexpr NamedZone kZones[] = {{"ut", 0},        {"utc", 0},       {"gmt", 0},
                                {"z", 0},         {"est", -5 * 60}, {"edt", -4 * 60},
                                {"cst", -6 * 60}, {"cdt", -5 * 60}, {"mst", -7 * 60},
                                {"mdt", -6 * 60}, {"pst", -8 * 60}, {"pdt", -7 * 60}};

// A text limit that keeps a garbage header from costing time.
constexpr std::size_t kMaxTokens = 16;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool AllLetters(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// A word naming one of `names` by its first three letters or more of the full name.
template <std::size_t N>
std::optional<int> FindName(std::string_view word, const std::array<std::string_view, N>& names) {
  if (word.size() < 3) return std::nullopt;
  for (std::size_t i = 0; i < N; ++i) {
    if (word.size() <= names[i].size() &&
        EqualsIgnoringAsciiCase(word, names[i].substr(0, word.size()))) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

// The tokens of a date: views into `plain`, the text without its comments. More than kMaxTokens
// of them make `overflow` true (and are not kept): no date has that many.
struct Tokens {
  std::string plain;
  std::array<std::string_view, kMaxTokens> items;
  std::size_t count = 0;
  bool overflow = false;

  void Add(std::string_view token) {
    if (count == items.size()) {
      overflow = true;
    } else {
      items[count++] = token;
    }
  }
};

// The text without comments (nested parentheses, backslash escapes inside them), with commas as
// blanks, split at blanks; "02-Jun-2003" is split at its dashes too.
void Tokenize(std::string_view text, Tokens& tokens) {
  std::string& plain = tokens.plain;
  plain.reserve(text.size());
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (depth > 0 && c == '\\') {
      ++i;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      plain.push_back(c == ',' ? ' ' : c);
    }
  }
  const std::string_view rest = plain;
  std::size_t pos = 0;
  while (pos < rest.size() && !tokens.overflow) {
    while (pos < rest.size() && platform::IsAsciiSpace(rest[pos])) ++pos;
    std::size_t end = pos;
    while (end < rest.size() && !platform::IsAsciiSpace(rest[end])) ++end;
    if (end == pos) break;
    const std::string_view token = rest.substr(pos, end - pos);
    pos = end;
    std::size_t dash = token.find('-', 1);
    if (dash != std::string_view::npos && std::isdigit(static_cast<unsigned char>(token[0]))) {
      std::size_t start = 0;
      while (dash != std::string_view::npos) {
        tokens.Add(token.substr(start, dash - start));
        start = dash + 1;
        dash = token.find('-', start);
      }
      tokens.Add(token.substr(start));
    } else {
      tokens.Add(token);
    }
  }
}

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};

std::optional<TimeOfDay> ParseTime(std::string_view token) {
  std::array<std::string_view, 3> parts;
  std::size_t count = 0;
  std::size_t start = 0;
  for (std::size_t colon = token.find(':'); colon != std::string_view::npos;
       colon = token.find(':', start)) {
    if (count == parts.size() - 1) return std::nullopt;  // more than three parts
    parts[count++] = token.substr(start, colon - start);
    start = colon + 1;
  }
  parts[count++] = token.substr(start);
  if (count < 2) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i) {
    if (!AllDigits(parts[i]) || parts[i].size() > 2) return std::nullopt;
  }
  TimeOfDay time{Number(parts[0]), Number(parts[1]), count == 3 ? Number(parts[2]) : 0};
  if (time.hour > 23 || time.minute > 59 || time.second > 60) return std::nullopt;
  return time;
}

// "+hhmm", "-hhmm", "+hh:mm": the offset east of UTC in minutes.
std::optional<int> ParseNumericZone(std::string_view token) {
  if (token.size() < 2 || (token[0] != '+' && token[0] != '-')) return std::nullopt;
  std::string_view digits = token.substr(1);
  std::string_view hour_digits = digits.substr(0, 2);
  std::string_view minute_digits = digits.size() == 5 && digits[2] == ':' ? digits.substr(3)
                                   : digits.size() == 4                   ? digits.substr(2)
                                                                          : std::string_view();
  if (hour_digits.size() != 2 || minute_digits.size() != 2 || !AllDigits(hour_digits) ||
      !AllDigits(minute_digits)) {
    return std::nullopt;
  }
  int hours = Number(hour_digits);
  int minutes = Number(minute_digits);
  if (minutes > 59) return std::nullopt;
  int offset = hours * 60 + minutes;
  return token[0] == '-' ? -offset : offset;
}

std::optional<int> ParseNamedZone(std::string_view token) {
  for (const NamedZone& zone : kZones) {
    if (EqualsIgnoringAsciiCase(token, zone.name)) return zone.offset_minutes;
  }
  // Military zones were defined with the wrong sign and are taken as unknown, i.e. UTC.
  if (token.size() == 1 && std::isalpha(static_cast<unsigned char>(token[0]))) return 0;
  return std::nullopt;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 1 && IsLeapYear(year) ? 29 : kDaysIn[month];
}

// Days from 1970-01-01 to the civil date (month 1-12), proleptic Gregorian.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month, day;
};

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2), month, day};
}

}  // namespace

std::optional<std::int64_t> ParseMailDate(std::string_view text) {
  Tokens tokens;
  Tokenize(text, tokens);
  if (tokens.overflow) return std::nullopt;
  std::optional<int> month, zone;
  std::optional<TimeOfDay> time;
  std::array<int, 2> numbers{};  // day, then year
  std::size_t number_count = 0;
  for (std::size_t i = 0; i < tokens.count; ++i) {
    const std::string_view token = tokens.items[i];
    if (AllDigits(token)) {
      if (token.size() > 4 || number_count == numbers.size()) return std::nullopt;
      numbers[number_count++] = Number(token);
    } else if (token.find(':') != std::string_view::npos && !time) {
      time = ParseTime(token);
      if (!time) return std::nullopt;
    } else if (std::optional<int> numeric = ParseNumericZone(token); numeric && time && !zone) {
      zone = numeric;
    } else if (!AllLetters(token)) {
      return std::nullopt;
    } else if (!month && !time && FindName(token, kMonths)) {
      month = FindName(token, kMonths);
    } else if (!time && number_count == 0 && !month && FindName(token, kDays)) {
      continue;
    } else if (time && !zone) {
      // Unknown zone names mean an unknown offset, which is read as UTC.
      zone = ParseNamedZone(token).value_or(0);
    } else if (!time || !zone) {
      return std::nullopt;
    }
  }
  if (!month || !time || number_count != 2) return std::nullopt;
  int day = numbers[0];
  int year = numbers[1];
  if (year < 50) {
    year += 2000;
  } else if (year < 1000) {
    year += 1900;
  }
  if (year < 1900 || day < 1 || day > DaysInMonth(year, *month)) return std::nullopt;
  std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(*month + 1), static_cast<unsigned>(day));
  std::int64_t seconds = days * 86400 + time->hour * 3600 + time->minute * 60 + time->second;
  return seconds - static_cast<std::int64_t>(zone.value_or(0)) * 60;
}

std::string AsctimeUtc(std::int64_t unix_seconds) {
  static constexpr const char* kDayNames[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::int64_t days = unix_seconds >= 0 ? unix_seconds / 86400 : (unix_seconds - 86399) / 86400;
  std::int64_t second_of_day = unix_seconds - days * 86400;
  CivilDate date = CivilFromDays(days);
  int weekday = static_cast<int>(((days % 7) + 7) % 7);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s %s %2u %02d:%02d:%02d %lld", kDayNames[weekday],
                kMonthNames[date.month - 1], date.day, static_cast<int>(second_of_day / 3600),
                static_cast<int>(second_of_day / 60 % 60), static_cast<int>(second_of_day % 60),
                static_cast<long long>(date.year));
  return buffer;
}

}  // namespace kv::host
