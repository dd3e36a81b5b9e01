// SPDX-License-Identifier: GPL-2.0-or-later
// The settings and the main window's controls: ReadFromWindow copies the
// option controls of the pages into the settings, ApplyToWindow applies the
// settings to the windows (translation, controls), to the system (start at
// log-on, the weekly task) and to the volume engines (large-file limit).
// Window thread only.
#pragma once

namespace quillo {

class TMainForm;
class TSetting;

class FormSettings {
public:
  // The log-on task starts the program with this switch.
  static constexpr const char16_t* kStartUpParameters = u"/StartUp";
  // The schedule list's "Defrag method" texts; not translated.
  static constexpr const char* kOptDefragText = "Opt Defrag";
  static constexpr const char* kFastDefragText = "Fast Defrag";

  explicit FormSettings(TMainForm& form);

  // Controls into the settings; touches neither the file nor the system.
  void ReadFromWindow();
  // The settings onto the windows, the system and the engines, in order.
  void ApplyToWindow();
  // Every engine's large-file limit from the settings.
  void ApplySizeLimits();

private:
  void ApplyStartWithWindows();
  void ApplyOptionBoxes();
  void ApplyAutoDefragPage();
  void ApplySchedule();
  void ApplyLanguageBox();

  TMainForm& Form;
  TSetting& Settings;
};

} // namespace quillo
