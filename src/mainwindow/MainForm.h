// SPDX-License-Identifier: GPL-2.0-or-later
// TMainForm: the program's main window. A fixed-size window with the header
// strip, the side bar and four pages whose tabs are hidden. It owns the
// settings, the activity sampler, the volumes with their jobs, the two
// timers and the tray icon, and it answers the messages of other instances.
#pragma once

#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "mainwindow/AboutForm.h"
#include "mainwindow/AutoDefragPage.h"
#include "mainwindow/AutoDefragScheduler.h"
#include "mainwindow/DesktopNotifications.h"
#include "mainwindow/FormServices.h"
#include "mainwindow/HeaderStrip.h"
#include "mainwindow/InstanceMessage.h"
#include "mainwindow/ManualPage.h"
#include "mainwindow/MessageBoxNotifier.h"
#include "mainwindow/OptionPage.h"
#include "mainwindow/PlainMessageBox.h"
#include "mainwindow/SchedulePage.h"
#include "mainwindow/ScreenFit.h"
#include "mainwindow/SideBar.h"
#include "mainwindow/StartupUpdateCheck.h"
#include "mainwindow/StatusTick.h"
#include "mainwindow/TaskbarProgress.h"
#include "mainwindow/TrayIcon.h"
#include "mainwindow/UnmountForWork.h"
#include "mainwindow/VolumeList.h"
#include "mainwindow/VolumeMenu.h"
#include "mainwindow/WindowDispatcher.h"
#include "monitor/CpuUsage.h"
#include "reportwindow/ReportVolume.h"
#include "settings/Setting.h"

namespace quillo {

class FormSettings;
class Tswitchlangform;

class TMainForm final : public QWidget, public ManualPageHost {
  Q_OBJECT

public:
  static constexpr int kClientWidth = 748;
  static constexpr int kClientHeight = 530;
  static constexpr int kTimerInterval = 700;
  static constexpr int kCpuTimerInterval = 1000;

  // Creates the controls, then runs FormCreate.
  explicit TMainForm(const FormServices& services);
  ~TMainForm() override;

  // False when FormCreate found no usable volume: the program ends.
  bool StartedWithVolumes() const { return Started; }

  // --- State of the window ---
  std::unique_ptr<TCpuUsage> CpuUsage;
  int32_t CpuPercent = 0;
  int32_t DiskPercent = 0;
  std::unique_ptr<TSetting> Settings;
  // IdleTicks and AutoDefragRunning with the decisions that use them.
  AutoDefragScheduler AutoDefrag;
  int32_t AutoDefragFileCount = 0;
  int32_t CurrentVolumeIndex = 0;

  // --- Controls ---
  // The scroll area fills the window and shows the canvas, which holds
  // every control at its design place.
  QScrollArea* Scroller;
  QWidget* Canvas;
  ScreenFit* Fit;
  HeaderStrip* Header;
  SideBar* Side;
  QStackedWidget* PageControl;
  ManualPage* manualdefrag;
  AutoDefragPage* autodefrag;
  SchedulePage* schedule;
  OptionPage* Option;
  QTimer* Timer_GetDefragRuntimeData;
  QTimer* CpuTimer;
  TrayIcon* Tray;
  // The progress in the title and on the task bar entry.
  std::unique_ptr<TaskbarProgress> Progress;
  // Notices on the desktop of runs that ended while the window was hidden.
  std::unique_ptr<DesktopNotifications> Notices;
  // The About box of the header link and the tray menu.
  AboutForm* About;
  // "Add image…" and "Remove" of the manual list's menu.
  VolumeMenu* VolumeActions = nullptr;

  VolumeList& Volumes() { return *VolumeRows; }
  const FormServices& Services() const { return Service; }
  Clock& SystemClock() { return *Service.SystemClock; }
  // The weekly and log-on tasks go through it.
  TaskLibrary& Tasks() { return *Service.Tasks; }
  // Shows a message box carrying the text (errors of handlers included).
  void ShowPlainMessage(const std::string& text);
  // The same once the running handler has returned, so that a box opened for
  // the status timer does not hold that timer's handler open.
  void ShowPlainMessageLater(const std::string& text);
  // The report window, modally, and whether it is showing.
  void ShowReportWindow() override;
  bool ReportWindowVisible() const;
  // The report window that View Report opens; null for none.
  void SetReportWindow(ReportWindowHost* reports) { Service.Reports = reports; }
  // The ticked rows' reports and states, in list order, for the report window.
  std::vector<ReportVolume> TickedReportVolumes();
  // The power-off countdown, modally; when the system refused to switch
  // off, why, in a message box after the countdown has closed.
  void ShowPowerOffWindow();
  // The update check started at creation; null when none was started.
  TUpdateThread* UpdateThread() { return UpdateCheck ? &UpdateCheck->Thread() : nullptr; }
  // The power-off window, created after the main window; null for none.
  void SetPowerOffWindow(PowerOffWindow* window) { Service.PowerOff = window; }
  // The auto-defrag step of each tick.
  void AutoDefragStep();
  // The row of the system volume, the only one defragmented automatically;
  // -1 for none.
  int SystemVolumeRow();
  // Hides into the tray, or minimises where there is no tray.
  void HideToTray();
  // Ends the application: the window closes whatever CloseMinimize says.
  void ExitProgram();
  // Shows the page of a side-bar tile.
  void ShowPage(int tile);

  // --- Settings on the window (FormSettings.h), links, language chooser ---
  void ReadFromWindow();
  void ApplyToWindow();
  // ReadFromWindow, Save, ApplyToWindow; false when the settings file could
  // not be written (the error is shown and nothing is applied).
  bool StoreFromWindow();
  // Save, ApplyToWindow; false as above.
  bool SaveAndApply();
  // Every engine's large-file limit from the settings.
  void ApplySizeLimits();
  // Translates the window and its tray menu from the current language.
  void Translate();
  // Opens an address in the user's browser or mail program (ProgramLinks.h).
  void OpenLink(const std::string& link);
  // The chooser the header link "Language" shows; null for none.
  void SetLanguageChooser(Tswitchlangform* chooser) { LanguageChooser = chooser; }
  void ShowLanguageChooser();
  // The About box, over the window or alone when the window is hidden.
  void ShowAbout();
  // Whether the user cannot see the window: hidden in the tray or
  // minimised.
  bool OutOfSight() const;

  // ManualPageHost
  std::vector<TDefragThread*> TickedJobs() override;
  void RunStatusTick() override { Timer_GetDefragRuntimeDataTimer(); }
  void ShowMessage(const std::string& text) override { ShowPlainMessage(text); }
  bool MayWrite(TDefragThread& job) override;
  bool MayUnmount(TDefragThread& job) override;
  // Mounts again the volumes unmounted for commands that are over.
  void MountFinishedVolumes();
  TLanguage& Language() override { return Settings->Translator; }
  void SetCurrentVolumeIndex(int32_t index) override { CurrentVolumeIndex = index; }
  void NoteStartedByUser(TDefragThread& job) override { VolumeRows->NoteStarter(job, true); }

public slots:
  void Timer_GetDefragRuntimeDataTimer();
  void CpuTimerTimer();
  // Another instance's message (1124, 1125, 1126).
  void InstanceMessageReceived(int message);
  // Device arrival or removal.
  void RefreshVolumes();
  // Looks again at the volumes that were busy or mounted, without a new
  // look for devices.
  void ReprobeVolumes();
  void SideBarTileClick(int tile);

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateFrame();
  void FormCreate();
  void FormClose(QCloseEvent* event);
  // Starts the scheduled volumes; `onlyAtRest` skips jobs that are busy.
  void StartScheduledDefrag(bool onlyAtRest);
  void ShowPromptBalloon(const std::string& text);
  bool HasSingleArgument(const char* argument) const;
  void SampleActivity();
  void PaintFrequentSquare();
  void ConnectOptions();

  FormServices Service;
  PlainMessageBox PlainBoxes;
  WindowDispatcher Dispatcher;
  std::unique_ptr<MessageBoxNotifier> JobMessages;
  std::unique_ptr<VolumeList> VolumeRows;
  StatusTick Tick{*this};
  std::unique_ptr<UnmountForWork> Unmounting;
  bool Started = false;
  std::unique_ptr<FormSettings> WindowSettings;
  Tswitchlangform* LanguageChooser = nullptr;
  std::unique_ptr<StartupUpdateCheck> UpdateCheck;
  // Set by ExitProgram: the close that quitting sends is not turned into a
  // minimise.
  bool Exiting = false;
};

} // namespace quillo
