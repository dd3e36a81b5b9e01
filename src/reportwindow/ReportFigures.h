// SPDX-License-Identifier: GPL-2.0-or-later
// The figures of a report tab as texts, and the rule behind its suggestion.
#pragma once

#include <cstdint>

#include <QLocale>
#include <QString>

#include "engine/DefragDefine.h"
#include "settings/MessageText.h"

namespace quillo {

// Every list row counts four kilobytes per cluster, whatever the volume's
// real cluster size.
constexpr uint64_t kReportKilobytesPerCluster = 4;

// The suggestion turns to "Defrag Only" above this many percent of the
// volume in listed files.
constexpr uint64_t kDefragOnlyPercent = 10;

// Kilobytes as "512KB", "1.50MB" or "1.00GB": two decimals with the locale's
// decimal separator from one megabyte on.
QString FormatSize(uint64_t kilobytes, const QLocale& locale = QLocale());

// Clusters as a percentage of the volume, "12.34%". The volume's cluster
// count is taken one higher, so that an empty volume gives 0.00%.
QString FragmentationText(uint64_t clusters, uint32_t totalClusters,
                          const QLocale& locale = QLocale());

// The time of day of a date-time in the locale's long time format, without
// a time zone.
QString TimeOfDayText(TDateTime value, const QLocale& locale = QLocale());

// What the report suggests for a volume whose listed files hold
// `listedClusters` clusters: "Defrag Only" above ten percent, otherwise
// "Not need to defrag" when the volume was optimised less than a day ago
// (`lastOptimize`, 0 for never) and "Defrag & Optimize" when not.
const MessageText& SuggestionFor(uint64_t listedClusters, uint32_t totalClusters,
                                 TDateTime lastOptimize, TDateTime now);

// The list's text of a report entry's Status; nullptr for a value a report
// never holds.
const MessageText* StatusTextFor(uint8_t status);

} // namespace quillo
