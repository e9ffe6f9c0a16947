#pragma once
// The update procedure: update-mode entry, transfer and rewrite, firmware
// backup, source-file identification, and the update attempt that the Start
// button and the command line share. Holds the state of one run.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drive/drive_commands.h"
#include "firmware/identify.h"
#include "firmware/image_file.h"
#include "transport/scsi_transport.h"
#include "update/update_host.h"
#include "update/wizard_page.h"

namespace orvel {

inline constexpr std::uint32_t kModePauseMs = 200;   // after each update-mode command, before transfer and backup
inline constexpr std::uint32_t kPollPauseMs = 580;   // top of every poll cycle
inline constexpr int kProgressMax = 120;
inline constexpr int kPollsPerCycle = 10;
inline constexpr int kMaxChunkResends = 50;          // 0x3A answers to one chunk before giving up
// How long the rewrite is followed, on the platform's clock, time-outs
// included: long enough that a slow drive still writing is not given up on.
inline constexpr std::uint32_t kRewriteFollowMinutes = 30;
inline constexpr std::uint64_t kRewriteFollowMs = std::uint64_t{kRewriteFollowMinutes} * 60 * 1000;
// Every cycle pauses kPollPauseMs, so a clock that keeps its contract reaches
// the time limit first; this ends the follow should a clock stand still.
inline constexpr int kMaxPollCycles = static_cast<int>(kRewriteFollowMs / kPollPauseMs) + 1;
inline constexpr int kBackupNameCount = 10;
// Room proved for a backup before the drive is touched: the largest plain image.
inline constexpr std::uint64_t kBackupRoomBytes = kFullImageSize;

// The one rule that differs between the two programs.
struct VariantRules {
  bool barLoaderOnDirectFamily5 = true;  // Orvel: true; Orvelin: false
};

// Why an attempt (or one of its steps) stopped, for machine-readable reports;
// `detail` says the same for people.
enum class AttemptStop {
  None,
  SourceNotIdentified,     // no file selected, or not the one identified
  SourceNotOpened,         // the file no longer opens (fileError says why)
  SourceMisfit,            // its name or size does not fit its row
  BackupNamesTaken,        // CDRWFW00..09 of the series all exist
  BackupDirectoryRefused,  // the working directory takes no backup (fileError says why)
  DriveNotHeld,            // see driveClaim
  UpdateModeRefused,       // no answer to the INQUIRY after the update-mode request
  NotALoader,              // the drive answers, but not as a known loader
  IdBlockReadFailed,
  IdBlockReadShort,
  DriveTypeUnknown,        // the identification block matches no type code
  TypeCodeRefused,
  BackupReadFailed,
  BackupReadShort,
  BackupNoMemory,
  BackupWriteFailed,       // written, flushed, named or the directory flushed: one of them failed
  SourceNotLoaded,
  ImageSizeMismatch,       // the file's image is not the drive's size
  SourceChanged,           // the file no longer carries the type code it was identified by
  ChunkFailed,
  ChunkResendsExceeded,
  TransferEndRefused,
  RewriteStartRefused,
  RewriteFailed,
  RewriteTimedOut,         // the rewrite did not end within the follow's bound
  ReadBackNotPossible,     // the drive reads only in the alternate form, which carries no address
  ImageNotForDrive,        // the file's image cannot be loaded for the drive's family, or is not its size
};

// What one attempt came to, for the command line and tests.
struct AttemptReport {
  int switchResult = 0;          // 1, -2 or 0 (or not run)
  bool switchRan = false;
  bool typeCodeAccepted = false;
  bool backupRequested = false;
  bool backupSkipped = false;    // alternate read form: backup not possible
  bool backupWritten = false;
  std::string backupFile;
  // The hold on the listed drive (NotListed when none was listed); anything
  // but Claimed means no command was sent. Empty when the attempt ended
  // before the drive was asked for (a file refused, no room for a backup).
  std::optional<DeviceClaimResult> driveClaim;
  std::string backupNameTaken;   // the name chosen before, taken meanwhile (the backup went to backupFile)
  FileError fileError = FileError::None;  // why a file of the attempt could not be used
  // The system kept the update-mode requests from the drive: a node of it is
  // among the platform's AccessProblems.
  bool driveUnreachable = false;
  int finalPage = NoPage;
  int finalProgress = 0;
  std::string detail;            // why it stopped, for people (in UpdateProcedure::detailLanguage)
  AttemptStop stop = AttemptStop::None;
  // An interruption held during the attempt (0: none), for the caller to act
  // on with Platform::ActOnInterruption once its own output is done.
  Interruption heldInterruption = 0;
};

// Where the drive's firmware and a file's image differ: byte ranges in
// address order, each starting and ending with a differing byte.
struct ByteRange {
  std::size_t offset = 0;
  std::size_t length = 0;
};
// Fewer equal bytes than this between two differences do not split a range:
// a changed firmware differs almost everywhere, with short runs of equal bytes
// that would otherwise turn one region into thousands of ranges.
inline constexpr std::size_t kRangeJoinGap = 16;
struct FirmwareComparison {
  std::size_t bytesCompared = 0;
  std::size_t bytesDiffering = 0;
  std::vector<ByteRange> ranges;
  bool Equal() const { return bytesDiffering == 0; }
};
// The two spans compared over the shorter one's length.
FirmwareComparison CompareImages(std::span<const std::uint8_t> drive, std::span<const std::uint8_t> file,
                                 std::size_t joinGap = kRangeJoinGap);

// Which CDRWFW series must have a free name when a backup is prepared.
enum class BackupSeries {
  OfSource,  // the extension of the source file's row
  Both,      // .BIN and .KVF: the form is learnt only from the drive (the `backup` command)
};

// Why a selected, identified file cannot be sent, learnt without the drive:
// its name does not fit its row, it no longer opens (*openError then says
// why), or its size does not fit its row's image. Empty when it fits.
// `language`: of the text (0 English, 1 Japanese).
std::string SourceFileMisfit(FileSystem& fs, std::string_view name, int entryIndex, FileError* openError,
                             int language = 0);

class UpdateProcedure {
 public:
  UpdateProcedure(ScsiTransport& transport, UpdateHost& host, VariantRules rules = {});
  // An attempt still open ends here, and what it held acts at once; a backup
  // file still being prepared is removed.
  ~UpdateProcedure();
  UpdateProcedure(const UpdateProcedure&) = delete;
  UpdateProcedure& operator=(const UpdateProcedure&) = delete;

  // The span of an attempt on the drive, from before its first update-mode
  // command until it ends (Platform::BeginAttempt and EndAttempt): the host
  // hears when the machine is not kept awake. RunUpdateAttempt marks its own;
  // a caller that switches the drive itself marks the span around its work.
  void BeginAttempt();
  // Ends an open span: lastAttempt.heldInterruption is what it held.
  void EndAttempt();

  // 1: known loader; -2: known loader with blank flash; 0: not in update mode.
  int SwitchDriveToUpdateMode();
  // 1 when the drive signalled the end of the rewrite; 0 on any failure.
  int RunFirmwareUpdate();
  // 1 when the backup file has been written completely; 0 otherwise (no file left behind).
  // Prepares the backup file first when PrepareBackupFile has not.
  int BackUpFirmware();
  // Proves, without any drive command, that the working directory takes a
  // backup: a temporary file (CDRWFW00.TMP, or the next free such name) is
  // created exclusively with kBackupRoomBytes allocated, and `series` has a
  // free CDRWFW name (for OfSource: backupFileName when still free, else the
  // first free one, which then replaces it and is pushed to the controls).
  // 1 with the file held for BackUpFirmware; 0 with lastAttempt.detail, and
  // lastAttempt.fileError when the file system refused (0 with None: every
  // name is taken). Nothing is left behind on 0.
  int PrepareBackupFile(BackupSeries series);
  // Closes and removes a prepared backup file that was not used.
  void DiscardBackupFile();
  bool HoldsBackupFile() const { return backupTemp_ != kNoFile; }
  // Reads the drive's whole firmware (the image size of driveFamily) from
  // address 0 into `image`, moving the bar a step per block; the rest of
  // `image` is left as it was. 1 when every block arrived whole; 0 with
  // lastAttempt.stop and detail (a failed or short read).
  int ReadDriveFirmware(ImageBuffer& image);
  // After the switch to update mode: the selected file's plain image, loaded
  // as an update would load it for this drive, against the drive's firmware
  // read back whole. 1 with *result filled (equal or not); 0 with
  // lastAttempt.stop and detail (the drive reads only in the alternate form,
  // the file does not load for the drive, or a read failed). Nothing is written.
  int CompareDriveFirmware(FirmwareComparison* result);
  // Picks the first free CDRWFW00..09 name (or clears the box and shows NoBackupFileName).
  void ChooseBackupFileName();
  // A backup with no source file (the command line's `backup`): after the switch
  // to update mode, the drive's family stands in for the file's, so the first
  // TypeCodeTable row of that family decides the backup's name and form.
  // 1 when set; 0 when the family has no row (the members are left alone).
  int TakeBackupFormFromDrive();
  // Identifies the selected source file and updates the members.
  void IdentifySourceFile();
  // The type-code decision on the current members and the host's Pass Type state.
  bool CheckTypeCodeNow();

  // Steps 4..11 of the Next / Start handler on the confirmation pages: the
  // listed drive's address (nullptr when no drive is listed: nothing is sent,
  // UpdateModeFailed), its hold for the attempt, update-mode entry, type-code
  // decision, backup or its notice, update. Returns the page to show.
  // Before the first drive command the file is checked (SourceFileMisfit:
  // TypeCodeMismatch) and, with the backup box ticked, the backup prepared
  // (PrepareBackupFile: the file error is shown, then NoBackupFileName).
  int RunUpdateAttempt(const DriveAddress* listedDrive);

  // Addresses the listed drive (nullptr: none is listed) and holds it for the
  // attempt, without a command to it: it must still be the device that
  // discovery listed, a CD/DVD drive with no medium mounted, and no other
  // program may reach it until LetDriveGo. 1 held; 0 with lastAttempt.detail
  // and lastAttempt.driveClaim telling why (then nothing may be sent).
  int HoldListedDrive(const DriveAddress* listedDrive);
  // Ends the hold (every end of an attempt).
  void LetDriveGo() { hold_.reset(); }

  // --- state of the run ---
  int driveFamily = 0;
  TypeCode driveTypeCode{};
  int loaderUpdateForced = 0;
  int loaderUpdateBarred = 0;
  int alternateReadForm = 0;
  int progressPos = 0;
  // Where the bar stands: progressPos clamped as the bar was last moved (the
  // member may count ahead of it, as the rewrite's follow does).
  int ShownProgress() const { return shownProgress_; }
  std::unique_ptr<ImageBuffer> imageBuffer;  // released by the owner's window destruction

  TypeCode sourceTypeCode{};
  std::string sourceDescription;
  PassKey typePassKey{};
  int sourceEntryIndex = 0;
  std::uint8_t sourceFamily = 0;
  std::string backupFileName;

  // The file that was last identified, and whether the current selection is it.
  std::string identifiedName;
  bool selectionIdentified = false;

  AttemptReport lastAttempt;
  // The language of lastAttempt.detail (0 English, 1 Japanese).
  int detailLanguage = 0;

  ScsiTransport& Transport() { return transport_; }

 private:
  // A detail for people in detailLanguage.
  std::string Say(std::string_view english, std::string_view japanese) const {
    return std::string(detailLanguage == 1 ? japanese : english);
  }
  // The steps of RunFirmwareUpdate, in order; each 1 on success, 0 with lastAttempt.detail set.
  // The selected file into imageBuffer, checked to be what was identified and of the drive's size.
  int LoadImageForDrive(const FamilyTraits& traits);
  // Page Transferring, the full chunks and the last one.
  int SendImage(const FamilyTraits& traits);
  // One full chunk: sent again unchanged on 0x3A; a failure in the 12-byte form
  // switches `form` to the 10-byte form for it and every later chunk.
  int SendFullChunk(std::span<const std::uint8_t> chunk, int index, ChunkForm& form);
  // FinishTransfer (variants 0, 1, 2), then StartRewrite with the Update Loader box read now.
  int EndTransferAndStartRewrite();
  // Poll cycles until ten end answers in one, following the phases on the page and the bar.
  int FollowRewrite(const FamilyTraits& traits);
  int Fail(AttemptStop stop, std::string why);
  // Sets progressPos and moves the bar to it.
  void MoveBar(int position);
  // The failed block read's stop: short when the drive answered with fewer bytes.
  static AttemptStop ReadStop(const ScsiTransport& t, AttemptStop failed, AttemptStop shortRead);
  // The held backup file, complete and flushed, under a free CDRWFW name of the
  // source row's series (backupFileName first); then the directory flushed.
  int PlaceBackupFile();
  // A drive-free refusal before the switch: the selection, or the backup file.
  int CheckBeforeTheDrive();

  ScsiTransport& transport_;
  UpdateHost& host_;
  VariantRules rules_;
  bool attemptOpen_ = false;
  std::optional<DriveClaim> hold_;
  FileHandle backupTemp_ = kNoFile;  // the prepared backup file, until it is placed or discarded
  std::string backupTempName_;
  int shownProgress_ = 0;
};

// Why an attempt's drive could not be held, for people (in `language`); names the
// device. Empty for Claimed.
std::string DriveClaimText(DeviceClaimResult result, std::string_view device, int language = 0);
// "claimed", "changed", ...: the result for machine-readable reports.
std::string_view DriveClaimName(DeviceClaimResult result);

}  // namespace orvel
