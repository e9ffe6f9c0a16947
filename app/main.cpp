// The GUI programs orvel and orvelin: one source, the variant chosen by a
// compile definition.
//
// Start-up order: --help and --version need no display and are answered
// first; then QApplication takes Qt's own options (-platform, -style, ...)
// out of the command line, and the rest is ours. When Qt finds no display it
// would abort the process; the programs say so in one line and exit with
// kExitNoDisplay instead.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/download_directory.h"
#include "app/program_options.h"
#include "app/update_app.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "sim/machine_state.h"
#include "sim/real_time_platform.h"
#include "sim/scenarios.h"
#include "ui/qt/qt_window_system.h"

namespace {

#if defined(ORVEL_VARIANT_ORVELIN)
constexpr const orvel::Variant& kVariant = orvel::kOrvelinVariant;
constexpr const char* kProgramName = "orvelin";
#else
constexpr const orvel::Variant& kVariant = orvel::kOrvelVariant;
constexpr const char* kProgramName = "orvel";
#endif

constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;
constexpr int kExitScreenshotFailed = 3;
constexpr const char* kCurrentDirectory = ".";

// -C DIR, the download folder for --downloads (the desktop entry's choice), or ".".
std::string WorkingDirectory(const orvel::ProgramOptions& options) {
  if (!options.directory.empty()) return options.directory;
  if (!options.downloads) return kCurrentDirectory;
  return orvel::DownloadDirectory([](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  });
}

// Qt's messages while QApplication starts: held back, because a start that
// fails ends in one line of our own instead of Qt's advice to reinstall.
std::vector<std::pair<QtMsgType, QString>>& HeldMessages() {
  static std::vector<std::pair<QtMsgType, QString>> held;
  return held;
}

QtMessageHandler previousHandler = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    HeldMessages().emplace_back(type, message);
    return;
  }
  static_cast<void>(context);
  // The only fatal message of QApplication's start: no platform plugin could
  // be initialised, which on a desktop system means no display to talk to.
  std::cerr << kProgramName << ": no display found (DISPLAY or WAYLAND_DISPLAY); orvel-cli works without one\n";
  std::_Exit(kExitNoDisplay);  // not abort(): this is an outcome, not a crash
}

void ReleaseHeldMessages() {
  qInstallMessageHandler(previousHandler);
  for (const auto& [type, message] : HeldMessages()) {
    const QMessageLogContext context;
    if (previousHandler != nullptr) {
      previousHandler(type, context, message);
    } else {
      std::cerr << message.toLocal8Bit().constData() << '\n';
    }
  }
  HeldMessages().clear();
}

std::vector<std::string_view> ArgsOf(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

// 0 when help or version was asked for and shown, -1 otherwise.
int AnswerHelpOrVersion(const orvel::ProgramOptions& options) {
  if (options.help) {
    std::cout << orvel::ProgramUsage(kProgramName) << '\n' << orvel::sim::ScenarioHelp();
    return 0;
  }
  if (options.version) {
    std::cout << kVariant.title << ' ' << ORVEL_VERSION << '\n';
    return 0;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  orvel::ProgramOptions options;
  std::string error;
  // Without Qt's options the command line parses as it is: help and version
  // are answered before any display is needed.
  if (orvel::ParseProgramOptions(ArgsOf(argc, argv), &options, &error) == 1) {
    if (const int shown = AnswerHelpOrVersion(options); shown >= 0) return shown;
  }

  previousHandler = qInstallMessageHandler(&StartupMessageHandler);
  QApplication qt(argc, argv);  // removes the options it knows from argc/argv
  ReleaseHeldMessages();
  QApplication::setApplicationName(QString::fromUtf8(kVariant.title.data(), static_cast<int>(kVariant.title.size())));

  options = orvel::ProgramOptions{};
  if (orvel::ParseProgramOptions(ArgsOf(argc, argv), &options, &error) == 0) {
    std::cerr << kProgramName << ": " << error << '\n' << orvel::ProgramUsage(kProgramName);
    return kExitUsage;
  }
  if (const int shown = AnswerHelpOrVersion(options); shown >= 0) return shown;

  orvel::SetInterruptionNotice(std::string(kProgramName) +
                               ": the update cannot be stopped safely now: the drive is in its update mode. " +
                               kProgramName + " stops as soon as the attempt has ended.\n");

  const std::string workingDirectory = WorkingDirectory(options);
  std::error_code ec;
  if (!std::filesystem::is_directory(workingDirectory, ec)) {
    std::cerr << kProgramName << ": -C " << workingDirectory << ": not a directory\n";
    return kExitUsage;
  }

  std::unique_ptr<orvel::Platform> platform;
  if (options.simulate) {
    // state=DIR keeps the machine between runs, as for orvel-cli.
    const auto report = [](const std::string& message) { std::cerr << kProgramName << ": " << message << '\n'; };
    auto machine = orvel::sim::OpenScenarioMachine(
        options.scenario.empty() ? "default" : options.scenario, workingDirectory, report, &error);
    if (machine == nullptr) {
      std::cerr << kProgramName << ": --simulate=" << options.scenario << ": " << error << '\n';
      return kExitUsage;
    }
    // A dry run at the drive's real pace, so the operator sees the steps go by.
    platform = std::make_unique<orvel::RealTimePlatform>(std::move(machine));
  } else {
    platform = orvel::MakeNativePlatform(workingDirectory);
  }

  // Wayland matches the window to its desktop entry (and so its icon) by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral(ORVEL_DESKTOP_ID));
  orvel::ui::QtWindowSystem windows(qt);
  orvel::CUpdateApp app(windows, *platform, kVariant);
  bool screenshotWritten = false;
  if (!options.screenshot.empty()) {
    // The first page as it painted, then the end: nobody is there to answer a
    // message box, so its text goes to standard error and OK is pressed.
    windows.SetModalStartHook(orvel::kUpdateDialogId, [&](orvel::ui::QtDialogWindow& w) {
      screenshotWritten = w.SaveScreenshot(options.screenshot);
      if (orvel::CUpdateDlg* dlg = app.MainWindow(); dlg != nullptr) dlg->EndDialog(orvel::ui::IDCANCEL);
    });
    windows.SetMessageBoxHook([](QMessageBox& box) {
      std::cerr << kProgramName << ": " << box.text().toLocal8Bit().constData() << '\n';
      box.button(QMessageBox::Ok)->click();
    });
  }
  app.InitInstance();
  if (!options.screenshot.empty() && !screenshotWritten) {
    std::cerr << kProgramName << ": could not write " << options.screenshot << '\n';
    return kExitScreenshotFailed;
  }
  return 0;
}
