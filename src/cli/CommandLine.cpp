// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CommandLine.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "cli/UsageError.h"

namespace quillo {

namespace {

constexpr int64_t kKibi = 1024;
// Below 2^63 bytes: what the limit is held in.
constexpr const char* kLargestSize = "8191P";
// An argument quoted in a message is cut to this many bytes: one of
// thousands of digits would bury the message.
constexpr size_t kShownArgumentBytes = 40;
constexpr const char* kEllipsis = "...";

enum class OptionId {
  Optimize, Exclude, SizeLimit, Json, Map, Quiet, Unmount, Sort, Color, Help, Version,
  Show, RunSchedule, StopAndExit,
};

// The messages the running window understands.
constexpr int kShowWindow = 1124;
constexpr int kStopAndExit = 1125;
constexpr int kRunSchedule = 1126;

struct OptionSpec {
  const char* Long;
  char Short; // 0: none
  OptionId Id;
  enum { NoArgument, RequiredArgument, OptionalArgument } Argument;
};

constexpr OptionSpec kOptions[] = {
    {"optimize", 'o', OptionId::Optimize, OptionSpec::NoArgument},
    {"exclude", 'x', OptionId::Exclude, OptionSpec::RequiredArgument},
    {"size-limit", 's', OptionId::SizeLimit, OptionSpec::RequiredArgument},
    {"json", 'j', OptionId::Json, OptionSpec::NoArgument},
    {"map", 'm', OptionId::Map, OptionSpec::NoArgument},
    {"quiet", 'q', OptionId::Quiet, OptionSpec::NoArgument},
    {"unmount", 0, OptionId::Unmount, OptionSpec::NoArgument},
    {"sort", 0, OptionId::Sort, OptionSpec::RequiredArgument},
    {"color", 0, OptionId::Color, OptionSpec::OptionalArgument},
    {"colour", 0, OptionId::Color, OptionSpec::OptionalArgument},
    {"help", 'h', OptionId::Help, OptionSpec::NoArgument},
    {"version", 'V', OptionId::Version, OptionSpec::NoArgument},
    {"show", 0, OptionId::Show, OptionSpec::NoArgument},
    {"run-schedule", 0, OptionId::RunSchedule, OptionSpec::NoArgument},
    {"stop-and-exit", 0, OptionId::StopAndExit, OptionSpec::NoArgument},
};

void SetWindowMessage(CommandLine& line, int message) {
  if (line.WindowMessage != 0 && line.WindowMessage != message)
    throw UsageError("'window' takes one of --show, --run-schedule and --stop-and-exit");
  line.WindowMessage = message;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// 'text', cut short when it is long, never inside a UTF-8 sequence.
std::string Shown(const std::string& text) {
  if (text.size() <= kShownArgumentBytes) return "'" + text + "'";
  size_t cut = kShownArgumentBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  return "'" + text.substr(0, cut) + kEllipsis + "'";
}

const OptionSpec& FindLong(const std::string& name) {
  const OptionSpec* found = nullptr;
  int matches = 0;
  for (const OptionSpec& spec : kOptions) {
    std::string full = spec.Long;
    if (full == name) return spec;
    if (full.compare(0, name.size(), name) == 0) {
      // --colo is "color" or "colour": the same option either way.
      if (!found || found->Id != spec.Id) ++matches;
      found = &spec;
    }
  }
  if (matches == 0) throw UsageError("unrecognized option " + Shown("--" + name));
  if (matches > 1) throw UsageError("option '--" + name + "' is ambiguous");
  return *found;
}

const OptionSpec& FindShort(char letter) {
  for (const OptionSpec& spec : kOptions)
    if (spec.Short == letter) return spec;
  throw UsageError(std::string("invalid option -- '") + letter + "'");
}

SortKey ParseSortKey(const std::string& text) {
  std::string key = Lower(text);
  if (key == "name") return SortKey::Name;
  if (key == "fragments") return SortKey::Fragments;
  if (key == "clusters") return SortKey::Clusters;
  if (key == "result") return SortKey::Result;
  throw UsageError("invalid argument " + Shown(text) +
                   " for '--sort' (valid: name, fragments, clusters, result)");
}

ColorChoice ParseColorChoice(const std::string& text) {
  std::string when = Lower(text);
  if (when == "auto" || when == "tty" || when == "if-tty") return ColorChoice::Auto;
  if (when == "always" || when == "yes" || when == "force") return ColorChoice::Always;
  if (when == "never" || when == "no" || when == "none") return ColorChoice::Never;
  throw UsageError("invalid argument " + Shown(text) +
                   " for '--color' (valid: auto, always, never)");
}

void Apply(CommandLine& line, const OptionSpec& spec, const std::optional<std::string>& value) {
  switch (spec.Id) {
  case OptionId::Optimize:
    line.Optimize = true;
    break;
  case OptionId::Exclude:
    if (value->empty()) throw UsageError("an empty mask for '--exclude' matches nothing");
    line.Excludes.push_back(*value);
    break;
  case OptionId::SizeLimit: {
    bool tooLarge = false;
    std::optional<int64_t> size = ParseSize(*value, tooLarge);
    if (tooLarge)
      throw UsageError("size " + Shown(*value) + " for '--size-limit' is too large (at most " +
                       kLargestSize + ")");
    if (!size)
      throw UsageError("invalid size " + Shown(*value) + " for '--size-limit' (e.g. 500M, 2G)");
    line.SizeLimit = *size;
    break;
  }
  case OptionId::Json:
    line.Json = true;
    break;
  case OptionId::Map:
    line.Map = true;
    break;
  case OptionId::Quiet:
    line.Quiet = true;
    break;
  case OptionId::Unmount:
    line.Unmount = true;
    break;
  case OptionId::Sort:
    line.Sort = ParseSortKey(*value);
    break;
  case OptionId::Color:
    line.Color = value ? ParseColorChoice(*value) : ColorChoice::Always;
    break;
  case OptionId::Help:
    line.Help = true;
    break;
  case OptionId::Version:
    line.Version = true;
    break;
  case OptionId::Show:
    SetWindowMessage(line, kShowWindow);
    break;
  case OptionId::RunSchedule:
    SetWindowMessage(line, kRunSchedule);
    break;
  case OptionId::StopAndExit:
    SetWindowMessage(line, kStopAndExit);
    break;
  }
}

Subcommand ParseSubcommand(const std::string& word) {
  if (word == "list") return Subcommand::List;
  if (word == "analyze" || word == "analyse") return Subcommand::Analyze;
  if (word == "defrag") return Subcommand::Defrag;
  if (word == "window") return Subcommand::Window;
  throw UsageError("unknown command " + Shown(word) + " (valid: list, analyze, defrag, window)");
}

} // namespace

std::optional<int64_t> ParseSize(const std::string& text) {
  bool tooLarge = false;
  return ParseSize(text, tooLarge);
}

std::optional<int64_t> ParseSize(const std::string& text, bool& tooLarge) {
  tooLarge = false;
  size_t i = 0;
  while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
    ++i;
  std::string number = text.substr(0, i);
  if (number.empty() || number == "." || number.find('.') != number.rfind('.')) return std::nullopt;
  std::string unit = Lower(text.substr(i));
  // Accept the unit letter alone, or followed by "b" or "ib".
  if (unit.size() > 1 && (unit.substr(1) == "b" || unit.substr(1) == "ib"))
    unit = unit.substr(0, 1);
  if (unit == "b") unit.clear();
  const std::string units = "kmgtp";
  long double multiplier = 1;
  if (!unit.empty()) {
    size_t power = units.find(unit);
    if (unit.size() != 1 || power == std::string::npos) return std::nullopt;
    for (size_t p = 0; p <= power; ++p)
      multiplier *= kKibi;
  }
  // strtold, not stold: a number of any length gives HUGE_VALL, never an
  // exception. Only digits and one point reach it.
  long double value = std::strtold(number.c_str(), nullptr) * multiplier;
  if (value >= (long double)std::numeric_limits<int64_t>::max()) {
    tooLarge = true;
    return std::nullopt;
  }
  return int64_t(std::llround(value));
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument.compare(0, 2, "--") == 0) {
      size_t equals = argument.find('=');
      std::string name =
          argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const OptionSpec& spec = FindLong(name);
      std::optional<std::string> value;
      if (equals != std::string::npos) {
        if (spec.Argument == OptionSpec::NoArgument)
          throw UsageError(std::string("option '--") + spec.Long + "' doesn't allow an argument");
        value = argument.substr(equals + 1);
      } else if (spec.Argument == OptionSpec::RequiredArgument) {
        if (i + 1 >= arguments.size())
          throw UsageError(std::string("option '--") + spec.Long + "' requires an argument");
        value = arguments[++i];
      }
      Apply(line, spec, value);
      continue;
    }
    // Bundled short options; one taking an argument takes the rest of the
    // word, or the next argument.
    for (size_t k = 1; k < argument.size(); ++k) {
      const OptionSpec& spec = FindShort(argument[k]);
      if (spec.Argument != OptionSpec::RequiredArgument) {
        Apply(line, spec, std::nullopt);
        continue;
      }
      std::string value = argument.substr(k + 1);
      if (value.empty()) {
        if (i + 1 >= arguments.size())
          throw UsageError(std::string("option requires an argument -- '") + argument[k] + "'");
        value = arguments[++i];
      }
      Apply(line, spec, value);
      break;
    }
  }

  if (line.Help || line.Version) return line;
  if (words.empty()) throw UsageError("missing command (list, analyze or defrag)");
  line.Command = ParseSubcommand(words.front());
  line.Targets.assign(words.begin() + 1, words.end());

  if (line.Command == Subcommand::Window) {
    if (line.WindowMessage == 0)
      throw UsageError("'window' needs one of --show, --run-schedule and --stop-and-exit");
    if (!line.Targets.empty()) throw UsageError("'window' takes no targets");
    if (line.Optimize || !line.Excludes.empty() || line.SizeLimit != 0 || line.Map ||
        line.Sort != SortKey::None || line.Json || line.Unmount)
      throw UsageError("'window' takes only --show, --run-schedule or --stop-and-exit");
    return line;
  }
  if (line.WindowMessage != 0)
    throw UsageError("--show, --run-schedule and --stop-and-exit belong to 'window'");
  if (line.Command == Subcommand::List) {
    if (!line.Targets.empty()) throw UsageError("'list' takes no targets");
    if (line.Optimize || !line.Excludes.empty() || line.SizeLimit != 0 || line.Map ||
        line.Sort != SortKey::None || line.Unmount)
      throw UsageError("'list' takes only --json, --quiet and --color");
  } else if (line.Targets.empty()) {
    throw UsageError("missing target (a drive letter, block device, image file, image#N or demo:)");
  }
  return line;
}

std::string UsageText() {
  return R"(Usage: qdefrag list [--json]
  or:  qdefrag analyze [OPTION]... TARGET...
  or:  qdefrag defrag [OPTION]... TARGET...
  or:  qdefrag window --show | --run-schedule | --stop-and-exit
Analyse or defragment NTFS and FAT32 volumes that are not mounted (or, with
--unmount, unmounted for the work and mounted again afterwards).

Commands:
  list                 list every candidate volume and whether it can be used
  analyze              find the fragmented files of each TARGET
  defrag               analyse, then join the fragmented files of each TARGET
  window               talk to the running Quillo Defrag window:
                         --show           bring the window up
                         --run-schedule   start the scheduled defragmentation
                         --stop-and-exit  stop its busy volumes and end it

Targets:
  C:                   a drive letter of the drive table (see 'qdefrag list')
  /dev/sdb1            a block device
  disk.img             an image file holding one file system
  disk.img#2           partition 2 of a partitioned image file
  demo:                a generated fragmented in-memory volume (NTFS);
                       demo:fat32 for a FAT32 one. Nothing is written anywhere.

Options:
  -o, --optimize       also arrange the files in zones ("Defrag & Optimize");
                       without it only fragmented files are joined ("Defrag Only")
  -x, --exclude=MASK   leave out files whose full path (C:\dir\file) matches
                       MASK: * any run, ? one character, [a-z] a set, [!...]
                       its complement; case is ignored. May be repeated
  -s, --size-limit=SIZE  leave out files of SIZE or more (e.g. 500M, 2G)
  -j, --json           write a machine-readable report on standard output
  -m, --map            show the cluster map (74 x 22 cells) with a legend
      --sort=KEY       order the file list by name, fragments, clusters
                       (largest first) or result
      --color[=WHEN]   colour the map: auto (on a terminal), always, never
  -q, --quiet          no progress and no summary; errors only
      --unmount        unmount a mounted TARGET through the desktop's disk
                       service (UDisks2; polkit may ask for authorisation)
                       for the work, and mount it again afterwards; refused
                       when files are open on it
  -h, --help           show this help and exit
  -V, --version        show the version and exit

Progress goes to standard error: a live line per volume on a terminal, a
plain line at most once a second otherwise. Ctrl-C stops every volume at its
next safe point (a move in progress is completed), prints the partial
report and exits with status 130; a second Ctrl-C does the same without the
map and the file lists.

Exit status: 0 success, 1 a volume failed or was refused (for 'window': no
window runs), 2 usage error, 130 interrupted.
)";
}

} // namespace quillo
