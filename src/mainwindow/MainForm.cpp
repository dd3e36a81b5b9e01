// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/MainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <cctype>
#include <exception>
#include <iostream>
#include <optional>

#include "mainwindow/FormSettings.h"
#include "mainwindow/JobSchedLibrary.h"
#include "mainwindow/LiveJobs.h"
#include "mainwindow/Pictures.h"
#include "mainwindow/ProgramIdentity.h"
#include "mainwindow/StatusTexts.h"
#include "mainwindow/ThreadAutoDefragJob.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {

constexpr int kHeaderHeight = HeaderStrip::kHeight;
constexpr int kPageHeight = TMainForm::kClientHeight - kHeaderHeight;
constexpr int kPageWidth = TMainForm::kClientWidth - SideBar::kWidth;
constexpr int kFontPixels = 11;
constexpr int kWindowIconSize = 64;
constexpr const char* kNoVolumeMessage =
    "Open volume error!You can try to run the application by administrator account";
constexpr const char* kScheduleSwitch = "/Schedule";
// The manual list's column of the volume's size.
constexpr int kCapacityColumn = 3;
constexpr const char* kStartUpSwitch = "/StartUp";
// The legend square painted at start-up with the category's own colour.
const QColor kFrequentlyUsedColour(0, 153, 0);

QWidget* PageIn(QStackedWidget* pages, QWidget* page) {
  pages->addWidget(page);
  return page;
}

} // namespace

TMainForm::TMainForm(const FormServices& services)
    : AutoDefrag(*services.SystemClock), Service(services) {
  if (!Service.Tasks) Service.Tasks = &JobSchedLibrary::Instance();
  CreateFrame();
  FormCreate();
}

TMainForm::~TMainForm() {
  // An unfinished update check is dropped, never waited for.
  UpdateCheck.reset();
  Timer_GetDefragRuntimeData->stop();
  CpuTimer->stop();
  if (VolumeRows) VolumeRows->Shutdown(Dispatcher);
  VolumeRows.reset();
}

void TMainForm::CreateFrame() {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromUtf8(kProgramName));
  setWindowIcon(PictureIcon(QStringLiteral("quillodefrag"), kWindowIconSize));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("DejaVu Sans")});
  font.setPixelSize(kFontPixels);
  setFont(font);
  PlainBoxes.SetParentWindow(this);

  // The controls keep their design places on a canvas of the design size;
  // the window shows it through a scroll area that scrolls only where the
  // screen is too small for the whole window.
  Scroller = new QScrollArea(this);
  Scroller->setObjectName(QStringLiteral("Scroller"));
  Scroller->setFrameShape(QFrame::NoFrame);
  Scroller->setGeometry(0, 0, kClientWidth, kClientHeight);
  // The window's own background shows through, as without the scroll area.
  Scroller->viewport()->setAutoFillBackground(false);
  // Made inside the window at once, so that the controls take the window's
  // font from their creation on.
  Canvas = new QWidget(Scroller);
  Canvas->setObjectName(QStringLiteral("Canvas"));
  Canvas->setFixedSize(kClientWidth, kClientHeight);
  Header = new HeaderStrip(Canvas);
  Side = new SideBar(Canvas, kHeaderHeight, kPageHeight);
  PageControl = new QStackedWidget(Canvas);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setGeometry(SideBar::kWidth, kHeaderHeight, kPageWidth, kPageHeight);
  PageControl->setAutoFillBackground(true);
  manualdefrag = static_cast<ManualPage*>(PageIn(PageControl, new ManualPage(PageControl, *this)));
  autodefrag = static_cast<AutoDefragPage*>(PageIn(PageControl, new AutoDefragPage(PageControl)));
  schedule = static_cast<SchedulePage*>(PageIn(PageControl, new SchedulePage(PageControl)));
  Option = static_cast<OptionPage*>(PageIn(PageControl, new OptionPage(PageControl)));
  connect(Side, &SideBar::TileClicked, this, &TMainForm::SideBarTileClick);
  schedule->Bind(Tasks(), SystemClock(), [this] { return Settings && Settings->EnableSchedule; });
  connect(autodefrag, &AutoDefragPage::ManualPageRequested, this,
          [this] { ShowPage(SideBar::kDefragNow); });

  Timer_GetDefragRuntimeData = new QTimer(this);
  Timer_GetDefragRuntimeData->setObjectName(QStringLiteral("Timer_GetDefragRuntimeData"));
  Timer_GetDefragRuntimeData->setInterval(kTimerInterval);
  connect(Timer_GetDefragRuntimeData, &QTimer::timeout, this,
          &TMainForm::Timer_GetDefragRuntimeDataTimer);
  CpuTimer = new QTimer(this);
  CpuTimer->setObjectName(QStringLiteral("CpuTimer"));
  CpuTimer->setInterval(kCpuTimerInterval);
  connect(CpuTimer, &QTimer::timeout, this, &TMainForm::CpuTimerTimer);
  // Enabled from the start, as designed.
  CpuTimer->start();

  const QDBusConnection desktopBus =
      Service.DesktopBus ? Service.DesktopBus() : QDBusConnection::sessionBus();
  Progress = std::make_unique<TaskbarProgress>(*this, desktopBus);
  Notices = std::make_unique<DesktopNotifications>(desktopBus);
  About = new AboutForm(this);
  Tray = new TrayIcon(this);
  connect(Tray, &TrayIcon::ShowWindowRequested, this,
          [this] { InstanceMessageReceived(MSG_SHOW_WINDOW); });
  connect(Tray->TrayMenu_Restore, &QAction::triggered, this,
          [this] { InstanceMessageReceived(MSG_SHOW_WINDOW); });
  connect(Tray->TrayMenu_Exit, &QAction::triggered, this, &TMainForm::ExitProgram);
  connect(Tray->TrayMenu_About, &QAction::triggered, this, &TMainForm::ShowAbout);

  JobMessages = std::make_unique<MessageBoxNotifier>(
      Dispatcher, Service.Messages ? *Service.Messages : static_cast<UserNotifier&>(PlainBoxes));
  EngineFactory& engines = Service.Engines ? *Service.Engines : TDefragThread::StandardEngines();
  VolumeRows = std::make_unique<VolumeList>(
      *manualdefrag, schedule->ScheduleList,
      JobServices{*Service.Catalog,
                  EngineServices{*Service.SystemClock, Dispatcher, *JobMessages,
                                 TDefragMap::DrawHandOver::Coalesced},
                  engines, Service.JobOptions});

  Unmounting = std::make_unique<UnmountForWork>(
      *Service.Catalog,
      [this](const std::string& question) {
        if (Service.ConfirmUnmount) return Service.ConfirmUnmount(question);
        return QMessageBox::question(this, QString::fromLatin1(kProgramName),
                                     QString::fromStdString(question),
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
      },
      [this](const std::string& text) { ShowPlainMessage(text); });

  Scroller->setWidget(Canvas);
  VolumeActions = new VolumeMenu(
      *manualdefrag->manulist, *Service.Catalog, Service.ChooseImage,
      [this](const std::string& text) { ShowPlainMessage(text); }, [this] { RefreshVolumes(); });

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  Fit = new ScreenFit(*this, *Scroller, Canvas->size());
}

void TMainForm::FormCreate() {
  CpuUsage = std::make_unique<TCpuUsage>(
      GraphBounds{0, 0, AutoDefragPage::kGraphWidth, AutoDefragPage::kGraphHeight},
      *Service.Activity);

  Settings = Service.SettingsFile.empty()
                 ? std::make_unique<TSetting>()
                 : std::make_unique<TSetting>(Service.SettingsFile, Service.LanguageFolder);
  Settings->Load();
  autodefrag->SetLanguage(&Settings->Translator);
  try {
    // Written back at once, so that the file holds every key.
    Settings->Save();
  } catch (const std::exception& error) {
    ShowPlainMessage(error.what());
  }
  ConnectOptions();

  VolumeRows->ListVolumes();
  PageControl->setCurrentWidget(manualdefrag);
  VolumeRows->CreateJobs();

  if (VolumeRows->Count() == 0) {
    CpuTimer->stop();
    Timer_GetDefragRuntimeData->stop();
    std::string reasons;
    for (const std::string& line : VolumeRows->Refusals()) {
      std::cerr << "quillodefrag: " << line << '\n';
      reasons += (reasons.empty() ? "" : "; ") + line;
    }
    if (reasons.empty()) reasons = "no volume is listed in the drive table";
    ShowPlainMessage(std::string(kNoVolumeMessage) + "\n" + reasons);
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    hide();
    return;
  }
  Started = true;

  QTreeWidgetItem* first = VolumeRows->Item(0);
  {
    const QSignalBlocker blocker(manualdefrag->manulist);
    ManualPage::SetTicked(first, true);
    first->setSelected(true);
    first->setIcon(0, manualdefrag->VolumeImage(ManualPage::kCurrentVolumeImage));
  }
  CurrentVolumeIndex = 0;

  if (HasSingleArgument(kScheduleSwitch)) {
    StartScheduledDefrag(false);
    if (Settings->EnableTrayPrompt) ShowPromptBalloon(Language().Lookup(messages::kStartSchedule));
  }
  if (HasSingleArgument(kStartUpSwitch) && Settings->EnableTrayPrompt)
    ShowPromptBalloon(Language().Lookup(messages::kStartUp));
  if (Settings->AutoCheckUpdate && !Service.UpdateCheck.Url.empty())
    UpdateCheck = std::make_unique<StartupUpdateCheck>(Service.UpdateCheck, Settings->FileName,
                                                       *Service.SystemClock);

  Timer_GetDefragRuntimeData->start();
  Timer_GetDefragRuntimeDataTimer();
  PaintFrequentSquare();
}

void TMainForm::PaintFrequentSquare() {
  QPixmap square(manualdefrag->Image_Frequent_used->size());
  square.fill(kFrequentlyUsedColour);
  manualdefrag->Image_Frequent_used->setPixmap(square);
}

bool TMainForm::HasSingleArgument(const char* argument) const {
  return Service.Arguments.size() == 1 && Service.Arguments.front() == argument;
}

void TMainForm::ShowPromptBalloon(const std::string& text) {
  Tray->ShowBalloon(kProgramName, text);
}

void TMainForm::StartScheduledDefrag(bool onlyAtRest) {
  uint8_t mode = Settings->IsOptDefrag_Task ? dmOptimize : dmFast;
  try {
    for (char letter : Settings->scheduledisk) {
      for (int i = 0; i < VolumeRows->Count(); ++i) {
        if (std::toupper(static_cast<unsigned char>(VolumeRows->Letter(i))) !=
            std::toupper(static_cast<unsigned char>(letter)))
          continue;
        TDefragThread& job = VolumeRows->Job(i);
        if (!IsLive(job)) break;
        // Nobody waits at the screen for a scheduled run.
        if (!onlyAtRest || IsAtRest(job.State())) {
          job.DefragDeal(jcManualDefrag, mode, false);
          VolumeRows->NoteStarter(job, false);
        }
        break;
      }
    }
  } catch (const std::exception& error) {
    ShowPlainMessage(error.what());
  }
}

bool TMainForm::MayWrite(TDefragThread& job) {
  for (int row = 0; row < VolumeRows->Count(); ++row) {
    if (&VolumeRows->Job(row) != &job) continue;
    std::string root = VolumeRows->Item(row)->text(0).toStdString();
    std::string device = Service.Catalog->DeviceToConfirm(root);
    if (device.empty()) return true;
    std::string size = VolumeRows->Item(row)->text(kCapacityColumn).toStdString();
    std::string question = WriteQuestion(root, device, Service.Catalog->Describe(root), size);
    WriteAnswer answer =
        Service.ConfirmWrite ? Service.ConfirmWrite(question) : AskBeforeFirstWrite(this, question);
    if (answer.Go && answer.DontAskAgain) Service.Catalog->ConfirmWrites(root);
    return answer.Go;
  }
  return true;
}

bool TMainForm::MayUnmount(TDefragThread& job) {
  for (int row = 0; row < VolumeRows->Count(); ++row) {
    if (&VolumeRows->Job(row) != &job) continue;
    return Unmounting->Prepare(VolumeRows->Item(row)->text(0).toStdString(),
                               VolumeRows->Item(row)->text(kCapacityColumn).toStdString());
  }
  return true;
}

void TMainForm::MountFinishedVolumes() {
  if (!Unmounting->Waiting()) return;
  Unmounting->MountFinished([this](const std::string& root) {
    for (int row = 0; row < VolumeRows->Count(); ++row) {
      if (VolumeRows->Item(row)->text(0).toStdString() != root) continue;
      TDefragThread& job = VolumeRows->Job(row);
      // Parked: the command is over and the job has let the volume go.
      return job.IsParked() || job.IsDead();
    }
    return true; // its row is gone
  });
}

void TMainForm::ShowPlainMessage(const std::string& text) {
  UserNotifier& boxes = Service.Messages ? *Service.Messages : PlainBoxes;
  boxes.ShowMessage(text, kProgramName);
}

void TMainForm::ShowPlainMessageLater(const std::string& text) {
  QTimer::singleShot(0, this, [this, text] { ShowPlainMessage(text); });
}

void TMainForm::ShowReportWindow() {
  if (Service.Reports) Service.Reports->ShowModalOver(*this);
}

bool TMainForm::ReportWindowVisible() const { return Service.Reports && Service.Reports->IsVisible(); }

void TMainForm::ShowPowerOffWindow() {
  if (!Service.PowerOff) return;
  std::optional<std::string> refusal = Service.PowerOff->ShowModal();
  if (refusal) ShowPlainMessage(FormatWithText(Language().Lookup(messages::kPowerOffRefused), *refusal));
}

void TMainForm::AutoDefragStep() {
  AutoDefragScheduler::SystemVolume system;
  std::optional<ThreadAutoDefragJob> job;
  // A system volume whose job died is left alone, as if it were not listed.
  if (int row = SystemVolumeRow(); row >= 0 && IsLive(VolumeRows->Job(row))) {
    job.emplace(VolumeRows->Job(row));
    system.Job = &*job;
    int letter = TSetting::DriveIndex(VolumeRows->Letter(row));
    if (letter >= 0) system.LastDefragTime = Settings->LastDefragTime[size_t(letter)];
  }
  if (AutoDefrag.Step(CpuPercent, DiskPercent, *Settings, system) ==
          AutoDefragScheduler::Outcome::Started &&
      Settings->EnableTrayPrompt)
    ShowPromptBalloon(Language().Lookup(messages::kAutoDefragBalloon));
}

int TMainForm::SystemVolumeRow() {
  return FindSystemVolumeRow(Service.Catalog->SystemVolumeLetter(), VolumeRows->ListedVolumes());
}

std::vector<TDefragThread*> TMainForm::TickedJobs() { return LiveJobs(VolumeRows->TickedJobs()); }

std::vector<ReportVolume> TMainForm::TickedReportVolumes() {
  std::vector<ReportVolume> volumes;
  for (TDefragThread* job : VolumeRows->TickedJobs())
    volumes.push_back({job->Engine().Report.get(), job->State()});
  return volumes;
}

void TMainForm::Timer_GetDefragRuntimeDataTimer() {
  try {
    Tick.Run();
  } catch (const std::exception& error) {
    ShowPlainMessage(error.what());
  }
}

void TMainForm::CpuTimerTimer() { SampleActivity(); }

void TMainForm::SampleActivity() {
  auto show = [](QLabel* image, const PixelImage& graph) {
    QImage picture(reinterpret_cast<const uchar*>(graph.Data().data()), graph.Width(),
                   graph.Height(), graph.Width() * int(sizeof(PixelColor)), QImage::Format_RGB32);
    AutoDefragPage::ShowGraph(image, picture);
  };
  try {
    CpuPercent = CpuUsage->SampleCpu();
  } catch (const std::exception&) {
    CpuPercent = 0;
  }
  autodefrag->Label2->setText(QStringLiteral("%1%").arg(CpuPercent));
  CpuUsage->DrawCpu(CpuPercent);
  show(autodefrag->cpuusageimg, CpuUsage->GetCpuGraph());
  DiskPercent = CpuUsage->SampleDisk();
  autodefrag->ioratiolabel->setText(QStringLiteral("%1%").arg(DiskPercent));
  CpuUsage->DrawDisk(DiskPercent);
  show(autodefrag->diskstatusimg, CpuUsage->GetDiskGraph());
}

void TMainForm::InstanceMessageReceived(int message) {
  switch (message) {
  case MSG_SHOW_WINDOW:
    showNormal();
    raise();
    activateWindow();
    break;
  case MSG_STOP_AND_EXIT:
    for (TDefragThread* job : LiveJobs(VolumeRows->Jobs())) {
      if (IsAtRest(job->State())) continue;
      try {
        job->StopDeal();
      } catch (const std::exception&) {
        // It died since it was asked: nothing left to stop.
      }
    }
    ExitProgram();
    break;
  case MSG_RUN_SCHEDULE:
    StartScheduledDefrag(true);
    if (Settings->EnableTrayPrompt) ShowPromptBalloon(Language().Lookup(messages::kStartSchedule));
    break;
  default:
    break;
  }
}

void TMainForm::RefreshVolumes() {
  Service.Catalog->Rescan();
  VolumeRows->ReleaseRetiredJobs();
  VolumeRows->AddArrivedVolumes();
  // A volume that arrives gets the large-file limit of the others.
  ApplySizeLimits();
  int32_t current = CurrentVolumeIndex;
  bool currentRemoved = VolumeRows->RemoveDepartedVolumes(current);
  CurrentVolumeIndex = current;
  if (currentRemoved) {
    CurrentVolumeIndex = 0;
    manualdefrag->manulistClick();
  }
}

void TMainForm::ReprobeVolumes() {
  if (VolumeRows->ReprobeWaitingVolumes()) ApplySizeLimits();
}

bool TMainForm::OutOfSight() const { return !isVisible() || isMinimized(); }

void TMainForm::HideToTray() {
  if (Tray->IsAvailable())
    hide();
  else
    showMinimized(); // no tray to come back from
}

void TMainForm::ShowPage(int tile) {
  QWidget* pages[] = {manualdefrag, autodefrag, schedule, Option};
  if (tile < 0 || tile >= int(std::size(pages))) return;
  PageControl->setCurrentWidget(pages[tile]);
  Side->LightOnly(tile);
}

void TMainForm::ExitProgram() {
  // Quitting closes the windows first and gives up when one refuses; this
  // one must not hide in the tray instead. The jobs are stopped when the
  // window is destroyed after the loop.
  Exiting = true;
  QCoreApplication::quit();
}

void TMainForm::closeEvent(QCloseEvent* event) { FormClose(event); }

void TMainForm::FormClose(QCloseEvent* event) {
  if (Exiting || !Settings || !Settings->CloseMinimize) {
    event->accept();
    return;
  }
  event->ignore();
  HideToTray();
  // Shown whatever the tray-prompt setting says.
  ShowPromptBalloon(Language().Lookup(messages::kMinimize));
}

} // namespace quillo
