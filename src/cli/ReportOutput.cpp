// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/ReportOutput.h"

#include <cctype>
#include <cstdio>
#include <iomanip>

#include "cli/JsonWriter.h"
#include "cli/StatusText.h"
#include "cli/TerminalText.h"

namespace quillo {

namespace {

constexpr uint64_t kBytesPerKilobyte = 1024;
constexpr int kLabelWidth = 20;
constexpr int kNumberWidth = 9;
constexpr int kSizeWidth = 10;
constexpr int kResultWidth = 11;

std::string Percent(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f%%", value);
  return buffer;
}

void Line(std::ostream& out, const char* label, const std::string& value) {
  out << "  " << std::left << std::setw(kLabelWidth) << label << EscapeForTerminal(value) << "\n";
}

std::string Heading(const VolumeSummary& volume) {
  // A target given as its drive letter is named once.
  std::string target = volume.Target;
  for (char& c : target)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  bool sameName = target == volume.VolumeName || target == volume.VolumeName + "\\";
  std::string heading = volume.VolumeName.empty() || sameName
                            ? volume.Target
                            : volume.VolumeName + " " + volume.Target;
  if (!volume.FileSystem.empty()) heading += "  " + volume.FileSystem;
  return EscapeForTerminal(heading);
}

void WriteEntries(std::ostream& out, const std::vector<EntrySummary>& entries) {
  out << "\n  " << std::right << std::setw(kNumberWidth) << "Fragment"
      << std::setw(kNumberWidth + 1) << "Clusters" << std::setw(kSizeWidth) << "Size"
      << "  " << std::left << std::setw(kResultWidth) << "Result"
      << "FileName\n";
  for (const EntrySummary& entry : entries) {
    out << "  " << std::right << std::setw(kNumberWidth) << entry.Fragments
        << std::setw(kNumberWidth + 1) << entry.Clusters << std::setw(kSizeWidth)
        << FormatSize(entry.Bytes / kBytesPerKilobyte) << "  " << std::left
        << std::setw(kResultWidth) << entry.Result << EscapeForTerminal(entry.Name) << "\n";
  }
}

} // namespace

void WriteTextReport(std::ostream& out, const std::vector<VolumeSummary>& volumes, bool withEntries,
                     bool colour) {
  bool first = true;
  for (const VolumeSummary& volume : volumes) {
    if (!first) out << "\n";
    first = false;
    if (!volume.HasFigures) {
      out << Heading(volume) << "  " << OutcomeName(volume.Result) << ": "
          << EscapeForTerminal(volume.Error) << "\n";
      continue;
    }
    if (volume.Result == Outcome::Refused || volume.Result == Outcome::Failed) {
      out << Heading(volume) << "  " << OutcomeName(volume.Result) << ": "
          << EscapeForTerminal(volume.Error);
    } else {
      out << Heading(volume) << "  " << volume.StateText;
      if (volume.Result == Outcome::Stopped) out << " (stopped)";
      if (!volume.Error.empty())
        out << "  " << OutcomeName(volume.Result) << ": " << EscapeForTerminal(volume.Error);
    }
    out << "\n";
    const VolumeFigures& figures = volume.Figures;
    Line(out, "Disk size", FormatSize(figures.TotalBytes / kBytesPerKilobyte));
    Line(out, "Free space", FormatSize(figures.FreeBytes / kBytesPerKilobyte));
    Line(out, "Clusters",
         std::to_string(figures.TotalClusters) + " of " +
             std::to_string(figures.SectorsPerCluster) + " x " +
             std::to_string(figures.BytesPerSector) + " bytes");
    if (!volume.StartTime.empty())
      Line(out, "Last pass",
           volume.StartTime + " to " +
               (volume.EndTime.empty() ? std::string("--:--:--") : volume.EndTime) + ", " +
               volume.Elapsed);
    Line(out, "Files/directories",
         std::to_string(volume.Files) + " / " + std::to_string(volume.Directories));
    Line(out, "Fragmented", std::to_string(volume.Fragmented));
    Line(out, "Defragmented", std::to_string(volume.Defragmented));
    std::string fragmentation = "before " + Percent(volume.FragmentationBefore);
    if (volume.FragmentationAfter)
      fragmentation += ", after " + Percent(*volume.FragmentationAfter);
    Line(out, "Fragmentation", fragmentation);
    if (volume.Suggestion) Line(out, "Suggestion", *volume.Suggestion);
    if (volume.ContentProblem)
      Line(out, "Content check",
           volume.ContentProblem->empty() ? "every file intact" : *volume.ContentProblem);
    if (volume.Map) {
      out << "\n";
      volume.Map->Print(out, colour);
    }
    if (withEntries && !volume.Entries.empty()) WriteEntries(out, volume.Entries);
  }
}

void WriteJsonReport(std::ostream& out, const RunFacts& facts,
                     const std::vector<VolumeSummary>& volumes) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("command").String(facts.Command);
  json.Key("mode").String(facts.Mode);
  json.Key("interrupted").Boolean(facts.Interrupted);
  json.Key("volumes").BeginArray();
  for (const VolumeSummary& volume : volumes) {
    json.BeginObject();
    json.Key("target").String(volume.Target);
    json.Key("volume").String(volume.VolumeName);
    json.Key("fileSystem").String(volume.FileSystem);
    json.Key("outcome").String(OutcomeName(volume.Result));
    if (volume.Error.empty())
      json.Key("error").Null();
    else
      json.Key("error").String(volume.Error);
    json.Key("notices").BeginArray();
    for (const std::string& notice : volume.Notices) json.String(notice);
    json.EndArray();
    if (volume.HasFigures) {
      const VolumeFigures& figures = volume.Figures;
      json.Key("state").Integer(volume.State);
      json.Key("stateText").String(volume.StateText);
      json.Key("totalBytes").Unsigned(figures.TotalBytes);
      json.Key("freeBytes").Unsigned(figures.FreeBytes);
      json.Key("totalClusters").Unsigned(figures.TotalClusters);
      json.Key("sectorsPerCluster").Unsigned(figures.SectorsPerCluster);
      json.Key("bytesPerSector").Unsigned(figures.BytesPerSector);
      auto optionalText = [&](const char* key, const std::string& text) {
        if (text.empty())
          json.Key(key).Null();
        else
          json.Key(key).String(text);
      };
      optionalText("startTime", volume.StartTime);
      optionalText("endTime", volume.EndTime);
      json.Key("elapsed").String(volume.Elapsed);
      json.Key("files").Integer(volume.Files);
      json.Key("directories").Integer(volume.Directories);
      json.Key("fragmented").Integer(volume.Fragmented);
      json.Key("defragmented").Integer(volume.Defragmented);
      json.Key("fragmentationBefore").Percentage(volume.FragmentationBefore);
      if (volume.FragmentationAfter)
        json.Key("fragmentationAfter").Percentage(*volume.FragmentationAfter);
      else
        json.Key("fragmentationAfter").Null();
      if (volume.Suggestion)
        json.Key("suggestion").String(*volume.Suggestion);
      else
        json.Key("suggestion").Null();
      json.Key("entries").BeginArray();
      for (const EntrySummary& entry : volume.Entries) {
        json.BeginObject();
        json.Key("name").String(entry.Name);
        json.Key("directory").Boolean(entry.Directory);
        json.Key("fragments").Unsigned(entry.Fragments);
        json.Key("clusters").Unsigned(entry.Clusters);
        json.Key("bytes").Unsigned(entry.Bytes);
        json.Key("result").String(entry.Result);
        json.EndObject();
      }
      json.EndArray();
      if (volume.Map) {
        json.Key("map").BeginObject();
        json.Key("columns").Integer(volume.Map->Columns);
        json.Key("rows").Integer(volume.Map->Rows);
        json.Key("cells").BeginArray();
        for (const std::string& row : volume.Map->DigitRows())
          json.String(row);
        json.EndArray();
        json.EndObject();
      }
    }
    if (volume.ContentProblem) {
      json.Key("contentIntact").Boolean(volume.ContentProblem->empty());
      if (!volume.ContentProblem->empty())
        json.Key("contentProblem").String(*volume.ContentProblem);
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  json.Finish();
}

} // namespace quillo
