// SPDX-License-Identifier: GPL-2.0-or-later
// The texts the program composes at run time: their key in section "M" of
// the language files and the built-in English text each caller passes as the
// default. Two keys serve two places with different built-in texts
// ("AutoDefrag", "NeverDefrag"); each place has its own constant.
#pragma once

#include <array>
#include <string_view>

namespace quillo {

inline constexpr std::string_view kMessageSection = "M";

struct MessageText {
  std::string_view Key;
  std::string_view Default;
  std::string_view Section = kMessageSection;
};

namespace messages {
inline constexpr MessageText kAnalyzed{"Analyzed", "Analyzed"};
inline constexpr MessageText kAnalyzing{"Analyzing", "Analyzing"};
inline constexpr MessageText kAutoAnalyze{"AutoAnalyze", "AutoAnalyze"};
inline constexpr MessageText kAutoDefragStatus{"AutoDefrag", "AutoDefrag"};
inline constexpr MessageText kAutoDefragBalloon{"AutoDefrag", "Start Auto Defragment"};
inline constexpr MessageText kAutoDefragActive{"AutoDefragActive", "Auto Defrag is active"};
inline constexpr MessageText kAutoDefragCount{"AutoDefragCount", "%d files has been defragmented"};
inline constexpr MessageText kAutoDefragDisable{"AutoDefragDisable", "Auto Defrag is disable"};
inline constexpr MessageText kAutoDefragged{"AutoDefragged", "AutoDefragged"};
inline constexpr MessageText kCpuLimit{"CpuLimit",
                                       "Pause Auto Defrag when resource usage exceeds(%%%d)"};
inline constexpr MessageText kDefrag{"Defrag", "Defragged"};
inline constexpr MessageText kDefragged{"Defragged", "Defragged"};
inline constexpr MessageText kDefragging{"Defragging", "Defragging"};
inline constexpr MessageText kDefragIntroduction{
    "DefragIntroduction", "Defrag:Improve the speed access to fragment files"};
inline constexpr MessageText kExcludeLargefile{
    "ExcludeLargefile", "Exclude large files to defrag,Exclude files larger than"};
inline constexpr MessageText kIdle{"Idle", "Idle"};
inline constexpr MessageText kLastAutoDefrag{"LastAutoDefrag", "Last Auto Defrag:"};
inline constexpr MessageText kLastDefragTime{"LastDefragTime", "Last defrag time:"};
inline constexpr MessageText kLeftTime{"LeftTime", "Left time:"};
inline constexpr MessageText kMinimize{"Minimize", "QuilloDefrag is still running in background"};
inline constexpr MessageText kNeverDefragVolume{"NeverDefrag", "Never defrag the volume"};
inline constexpr MessageText kNeverDefragAuto{"NeverDefrag", "Never defragged"};
inline constexpr MessageText kNoSpace{"NoSpace", "NoSpace"};
// Under the auto page's status line when automatic runs cannot start.
inline constexpr MessageText kNoSystemVolume{"NoSystemVolume", "No Windows system volume found"};
inline constexpr MessageText kNotNeedDefrag{"NotNeedDefrag", "Not need to defrag"};
inline constexpr MessageText kOptimizeIntroduction{
    "OptimizeIntroduction", "Defrag && Optimize:Improve the efficiency of the whole disk"};
inline constexpr MessageText kOptimized{"Optimized", "Optimized"};
inline constexpr MessageText kOptimizing{"Optimizing", "Optimizing"};
inline constexpr MessageText kPause{"Pause", "Pause"};
// The status of a volume whose pass the device refused to write, or whose
// writes failed; the reason is the row's tooltip.
inline constexpr MessageText kRefused{"Refused", "Refused"};
inline constexpr MessageText kWriteFailed{"WriteFailed", "Failed"};
// The status of a volume that another program held when a command was to
// start on it; the reason is the row's tooltip.
inline constexpr MessageText kInUse{"InUse", "In use"};
// The status of a volume that is mounted while no command works on it; the
// mount point is in the row's tooltip.
inline constexpr MessageText kMounted{"Mounted", "Mounted"};
// The status of a volume that a run nobody attended (the schedule, an
// automatic run) skipped because opening it needed the user's
// authorisation; the reason is the row's tooltip.
inline constexpr MessageText kSkipped{"Skipped", "Skipped"};
// The status of a volume that has not been opened yet because only the
// user's authorisation opens it; Analyze or GO asks for it.
inline constexpr MessageText kNeedsAuthorization{"NeedsAuthorization", "Needs authorization"};
// The report's line for such a volume, in place of the suggestion.
inline constexpr MessageText kSkippedNeedsAuthorization{
    "SkippedNeedsAuthorization", "Skipped: access needs authorization"};
// The status of a volume whose job ended with an error; "%s" is the error.
inline constexpr MessageText kJobError{"JobError", "Error: %s"};
// Why the computer was not switched off after the countdown; "%s" is the
// system's answer.
inline constexpr MessageText kPowerOffRefused{"PowerOffRefused",
                                              "The computer could not be switched off: %s"};
// The Qt line of the About box: the running version, then the one the
// program was built with.
inline constexpr MessageText kBuiltWith{"AboutBuiltWith", "%s (built with %s)"};
// The desktop notification of a run the user started, ended while the
// window was hidden: its title ("%s" is the volume) and its text.
inline constexpr MessageText kFinishedAnalysis{"FinishedAnalysis", "Analysis of %s finished"};
inline constexpr MessageText kFinishedDefrag{"FinishedDefrag", "Defragmentation of %s finished"};
inline constexpr MessageText kFinishedOptimize{"FinishedOptimize",
                                               "Defragmentation and optimization of %s finished"};
inline constexpr MessageText kFinishedNotDone{"FinishedNotDone", "Defragmentation of %s not completed"};
inline constexpr MessageText kFinishedCounts{"FinishedCounts",
                                             "%d files and directories, %d of them fragmented"};
inline constexpr MessageText kFinishedDefragged{"FinishedDefragged",
                                                "%d files and directories defragmented"};
inline constexpr MessageText kStartAutoDefrag{
    "StartAutoDefrag", "Start Auto Defrag when system idle exceeds(%d minutes)"};
inline constexpr MessageText kStartSchedule{"StartSchedule", "Start scheduled defragment"};
inline constexpr MessageText kStartUp{"StartUp", "Start up"};
inline constexpr MessageText kStopping{"Stopping", "Stopping"};
inline constexpr MessageText kTurnoff{"Turnoff", "Please close other applications"};
inline constexpr MessageText kUnmovable{"Unmovable", "Unmovable"};

// The report's suggestions reuse the main window's names of the two methods.
inline constexpr MessageText kSuggestDefragOnly{"ComboBox_FastOrOptDefrag.Items[0].Caption",
                                                "Defrag Only", "MainForm"};
inline constexpr MessageText kSuggestDefragOptimize{"ComboBox_FastOrOptDefrag.Items[1].Caption",
                                                    "Defrag & Optimize", "MainForm"};
} // namespace messages

// Every text of section "M", for checks over the whole set.
inline constexpr std::array kAllMessageTexts = {
    messages::kAnalyzed,          messages::kAnalyzing,         messages::kAutoAnalyze,
    messages::kAutoDefragStatus,  messages::kAutoDefragBalloon, messages::kAutoDefragActive,
    messages::kAutoDefragCount,   messages::kAutoDefragDisable, messages::kAutoDefragged,
    messages::kCpuLimit,          messages::kDefrag,            messages::kDefragged,
    messages::kDefragging,        messages::kDefragIntroduction, messages::kExcludeLargefile,
    messages::kIdle,              messages::kLastAutoDefrag,    messages::kLastDefragTime,
    messages::kLeftTime,          messages::kMinimize,          messages::kNeverDefragVolume,
    messages::kNeverDefragAuto,   messages::kNoSpace,           messages::kNotNeedDefrag,
    messages::kOptimizeIntroduction, messages::kOptimized,      messages::kOptimizing,
    messages::kPause,             messages::kStartAutoDefrag,   messages::kStartSchedule,
    messages::kStartUp,           messages::kStopping,          messages::kTurnoff,
    messages::kUnmovable,
    messages::kNoSystemVolume,    messages::kRefused,           messages::kWriteFailed,
    messages::kJobError,          messages::kPowerOffRefused,   messages::kInUse,
    messages::kBuiltWith,         messages::kFinishedAnalysis,  messages::kFinishedDefrag,
    messages::kFinishedOptimize,  messages::kFinishedNotDone,   messages::kFinishedCounts,
    messages::kFinishedDefragged,
    messages::kMounted,           messages::kSkipped,           messages::kSkippedNeedsAuthorization,
    messages::kNeedsAuthorization,
};

} // namespace quillo
