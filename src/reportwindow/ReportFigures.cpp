// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReportFigures.h"

#include <cmath>

#include <QTime>

namespace quillo {

namespace {

constexpr uint64_t kKilobytesPerMegabyte = 1024;
constexpr uint64_t kKilobytesPerGigabyte = 1024 * 1024;
constexpr int kDecimals = 2;
constexpr double kPercent = 100.0;
constexpr uint64_t kWholePercent = 100;
constexpr double kMillisecondsPerDay = 86400000.0;
constexpr int kWholeDayMilliseconds = 86400000;

// "0.00": no group separators, whatever the locale's habit.
QString TwoDecimals(double value, const QLocale& locale) {
  QLocale plain = locale;
  plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
  return plain.toString(value, 'f', kDecimals);
}

// Qt's long time format names the time zone ("t") as well; the clock time
// alone is wanted. Quoted literal text is kept as it is.
QString WithoutTimeZone(const QString& format) {
  QString result;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    result += c;
  }
  // A zone written in brackets leaves them empty.
  result.remove(QStringLiteral("()"));
  return result.simplified();
}

} // namespace

QString FormatSize(uint64_t kilobytes, const QLocale& locale) {
  if (kilobytes < kKilobytesPerMegabyte) return QString::number(kilobytes) + QStringLiteral("KB");
  if (kilobytes < kKilobytesPerGigabyte) {
    return TwoDecimals(double(kilobytes) / double(kKilobytesPerMegabyte), locale) +
           QStringLiteral("MB");
  }
  return TwoDecimals(double(kilobytes) / double(kKilobytesPerGigabyte), locale) +
         QStringLiteral("GB");
}

QString FragmentationText(uint64_t clusters, uint32_t totalClusters, const QLocale& locale) {
  // 64-bit, so that a volume of 2^32 - 1 clusters does not divide by zero.
  const double share = double(clusters) * kPercent / (double(totalClusters) + 1.0);
  return TwoDecimals(share, locale) + QStringLiteral("%");
}

QString TimeOfDayText(TDateTime value, const QLocale& locale) {
  const double fraction = std::abs(value - std::trunc(value));
  const int milliseconds = int(std::llround(fraction * kMillisecondsPerDay)) % kWholeDayMilliseconds;
  return locale.toString(QTime::fromMSecsSinceStartOfDay(milliseconds),
                         WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

const MessageText& SuggestionFor(uint64_t listedClusters, uint32_t totalClusters,
                                 TDateTime lastOptimize, TDateTime now) {
  const uint64_t percent = listedClusters * kWholePercent / (uint64_t(totalClusters) + 1);
  if (percent > kDefragOnlyPercent) return messages::kSuggestDefragOnly;
  const double days = std::trunc(std::abs(now - lastOptimize));
  return days < 1 ? messages::kNotNeedDefrag : messages::kSuggestDefragOptimize;
}

const MessageText* StatusTextFor(uint8_t status) {
  switch (status) {
  case fsAnalyzed: return &messages::kAnalyzed;
  case fsDefragged: return &messages::kDefrag;
  case fsNoSpace: return &messages::kNoSpace;
  case fsUnmovable: return &messages::kUnmovable;
  default: return nullptr;
  }
}

} // namespace quillo
