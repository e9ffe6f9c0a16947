#pragma once
// Runs the wizard dialog on the headless window system against a simulated
// machine in a temporary working directory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/update_dlg.h"
#include "firmware/sample_firmware.h"
#include "resources/resources.h"
#include "sim/scenarios.h"
#include "ui/headless/headless.h"
#include "tests/support/scratch_dir.h"
#include "update/page_texts.h"

namespace orvel::testing {

// What the operator saw at one repaint.
struct Frame {
  int page = NoPage;
  std::string info;
  int progress = 0;
  bool nextEnabled = false;
  bool closeEnabled = false;
  bool backEnabled = false;
  std::string nextCaption;
};

// The dialog with every repaint recorded (the refresh repaints at once).
class RecordingDlg : public CUpdateDlg {
 public:
  using CUpdateDlg::CUpdateDlg;
  void OnPaint(ui::PaintContext& pc) override {
    CUpdateDlg::OnPaint(pc);
    ui::DialogWindow* w = Window();
    if (w == nullptr) return;
    frames.push_back(Frame{page, w->Text(kIdInfoText), w->ProgressPosition(kIdProgressBar), w->IsEnabled(kIdNextButton),
                           w->IsEnabled(kIdCloseButton), w->IsEnabled(kIdBackButton), w->Text(kIdNextButton)});
    if (onFrame) onFrame(frames.back());
  }
  std::vector<Frame> frames;
  std::function<void(const Frame&)> onFrame;  // runs inside the repaint
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orvel::testing::MakeScratchDir("orvel-app");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    dlg_.reset();
    machine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void WriteSamples() {
    auto files = MakeNativeFileSystem(dir_);
    std::string error;
    ASSERT_EQ(sim::WriteSampleFirmware(*files, nullptr, &error), 1) << error;
  }
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(std::filesystem::path(dir_) / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(std::filesystem::path(dir_) / name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::set<std::string> FilesInDir() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  void MakeMachine(const std::string& scenario) {
    std::string error;
    machine_ = sim::MakeScenario(scenario, dir_, &error);
    ASSERT_NE(machine_, nullptr) << error;
  }
  // Builds the dialog and runs its start-up; returns its window.
  ui::HeadlessWindow* Start(const Variant& variant = kOrvelVariant) {
    dlg_ = std::make_unique<RecordingDlg>(ws_, *machine_, variant);
    started_ = dlg_->Create();
    return ws_.Window(kUpdateDialogId);
  }
  ui::HeadlessWindow& W() { return *ws_.Window(kUpdateDialogId); }

  // Selects a drive by its index in the list and a source file by name.
  void Choose(int driveIndex, const std::string& file) {
    ASSERT_TRUE(W().Select(kIdDriveList, driveIndex));
    ASSERT_TRUE(W().SelectItem(kIdSourceList, file));
  }
  // Next on the selection page, then Start.
  void NextAndStart() {
    ASSERT_TRUE(W().Click(kIdNextButton));
    ASSERT_EQ(dlg_->page, ReadyToStart);
    ASSERT_TRUE(W().Click(kIdNextButton));
  }
  std::size_t VendorCommandsTo(int drive) const {
    std::size_t n = 0;
    for (const auto& e : machine_->GetTrace().Entries()) {
      if (e.drive == drive && e.opcode() >= 0xE0) ++n;
    }
    return n;
  }
  std::vector<std::uint8_t> FlashOf(std::size_t drive) {
    auto flash = machine_->Drive(drive).Flash();
    return std::vector<std::uint8_t>(flash.begin(), flash.end());
  }

  std::string dir_;
  ui::HeadlessWindowSystem ws_;
  std::unique_ptr<sim::SimMachine> machine_;
  std::unique_ptr<RecordingDlg> dlg_;
  bool started_ = false;
};

}  // namespace orvel::testing
