#include "datafiles/audit_records.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace datafiles {

std::string auditTimeText(AuditTime t) {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(t.time_since_epoch()).count();
  const std::time_t secs =
      static_cast<std::time_t>(us >= 0 ? us / 1000000 : (us - 999999) / 1000000);
  const long long micro = us - static_cast<long long>(secs) * 1000000;
  std::tm tm{};
  ::gmtime_r(&secs, &tm);
  // Years past 9999 are cut to their last four digits; the clock never
  // gets there, and the field stays 20 digits.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%06d", (tm.tm_year + 1900) % 10000,
                (tm.tm_mon + 1) % 100, tm.tm_mday % 100, tm.tm_hour % 100, tm.tm_min % 100,
                tm.tm_sec % 100, static_cast<int>(micro % 1000000));
  return std::string(buf, 20);
}

std::optional<AuditTime> parseAuditTime(std::string_view s) {
  if (s.size() != 20 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  auto num = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  std::tm tm{};
  tm.tm_year = num(0, 4) - 1900;
  tm.tm_mon = num(4, 2) - 1;
  tm.tm_mday = num(6, 2);
  tm.tm_hour = num(8, 2);
  tm.tm_min = num(10, 2);
  tm.tm_sec = num(12, 2);
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60)
    return std::nullopt;
  const std::time_t secs = ::timegm(&tm);
  return AuditTime(std::chrono::seconds(secs)) + std::chrono::microseconds(num(14, 6));
}

void SignOnFailureRecord::setKey(int client, std::string_view user) {
  encoding::blank(bytes().first<kKeyLength>());
  at<kKind>()[0] = kFailureKind;
  (void)encoding::putDigits(at<kClient>(), client);
  encoding::putRaw(at<kUser>(), user);
}

std::chrono::seconds signOnDelay(long failures) {
  if (failures < 3) return std::chrono::seconds(0);
  const long step = failures - 3;  // 0 for the fourth attempt
  if (step >= 5) return std::chrono::seconds(30);
  return std::chrono::seconds(1L << step);
}

}  // namespace datafiles
