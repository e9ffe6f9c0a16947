#pragma once
// The operating system as the transport and the update procedure see it: the
// platform id, the ASPI library, events with a bounded wait, device names with
// the pass-through call, sleeping and a clock, and the span of an attempt on
// a drive (interruptions held, the machine kept awake). The transport builds
// the very request blocks it would hand to the system (their layouts:
// platform/request_blocks.h); a backend carries them out (platform/linux:
// SG_IO on real drives; sim/: simulated machine and drives).
// LoadLibrary and CreateEvent are the system's own names, kept: a Windows
// backend includes <windows.h> only through platform/win32/windows_shim.h,
// which undefines the macros of those names.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace orvel {

// Platform ids as the version query reports them.
inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWindows = 1;  // 95/98/Me: ASPI
inline constexpr std::uint32_t kPlatformNt = 2;       // NT family: pass-through

// The route of every command, chosen once at start-up.
enum class TransportMode : std::uint8_t { Aspi = 0, DriveLetter = 1, CdromDevice = 2 };

// An ASPI for Win32 library as loaded at run time.
class AspiLibrary {
 public:
  virtual ~AspiLibrary() = default;
  // Whether the named entry point ("GetASPI32SupportInfo", "SendASPI32Command") resolves.
  virtual bool HasEntryPoint(std::string_view name) = 0;
  // Bits 8..15 status (1 = SS_COMP), bits 0..7 host adapter count.
  virtual std::uint32_t GetASPI32SupportInfo() = 0;
  // Starts the request held in the 80-byte SRB_ExecSCSICmd block. The block's
  // 32-bit pointer fields hold handles: SRB_BufPointer one from
  // Platform::RegisterBuffer, SRB_PostProc one from Platform::CreateEvent.
  // Sets SRB_Status to SS_PENDING while the request runs, then to its final
  // status, signalling the event when it is finished.
  virtual void SendASPI32Command(std::span<std::uint8_t> srb) = 0;
};

enum class WaitResult { Signalled, TimedOut };

// Outcome of the pass-through control call itself (not of the SCSI command).
enum class PassThroughResult {
  Done,      // the call returned; ScsiStatus and sense are in the block
  Failed,    // the call failed; ScsiStatus left as it was
  TimedOut,  // the device time-out passed; ScsiStatus left as it was
};

// How long an ASPI request may run before it counts as timed out.
inline constexpr std::uint32_t kAspiWaitLimitMs = 5000;

using EventHandle = std::uint32_t;  // 0 = none
using DeviceHandle = int;           // -1 = none

// Something from outside that would end or stop the program at once: a
// signal's number on a POSIX system, a console control event on Windows (the
// backend's own code). 0 is none.
using Interruption = int;

// Why the machine is not kept awake during an attempt, as a kind that the
// command line words in the run's language.
enum class AwakeGap : std::uint8_t {
  Unnamed,
  NoLogindLock,       // logind was not reached or gave no lock (whyNot says how)
  SimulatedNoLogind,  // the simulated machine has none
  WindowsIdleOnly,    // idle sleep is held off, a suspend asked for is not
  WindowsCannotAsk,   // SetThreadExecutionState is missing or refused
};

// What an attempt on a drive was given when it began.
struct AttemptHold {
  // Suspend, hibernation and shutdown are held off until the attempt ends.
  bool machineKeptAwake = false;
  // When they are not: why, in one line for the operator (English).
  std::string whyNot;
  AwakeGap gap = AwakeGap::Unnamed;
};

// What claiming a listed device for an update attempt came to.
enum class DeviceClaimResult {
  Claimed,     // the device recorded at discovery, held until released
  NotListed,   // nothing is recorded for the name (not listed, or its identity could not be learnt)
  Changed,     // the name leads to another device now, or to none: the drive list is out of date
  NotOptical,  // the device is no CD/DVD device (peripheral type other than 5)
  Mounted,     // a medium of the drive is mounted
  InUse,       // another program holds the device
  NoAccess,    // the system does not let this user hold the device
};

// How many device numbers a route has where the system's names are fixed (0..9).
inline constexpr std::uint16_t kFixedRouteNumbers = 10;

// The nodes of one drive; an empty text where there is none.
struct DeviceNodes {
  std::string block;    // the block node (/dev/sr0)
  std::string generic;  // the SCSI generic node (/dev/sg1)
};

// Why a node is refused and what would let the user in, as kinds that the
// command line words in the run's language; Unnamed where only the English
// text beside it says it (a recording made before the kinds, say).
enum class AccessReason : std::uint8_t {
  Unnamed,
  PermissionDenied,        // "permission denied"
  NotPermitted,            // "operation not permitted"
  VendorCommandsFiltered,  // the kernel filters vendor commands on block nodes
  AccessDenied,            // Windows: "access denied"
  NotSupported,            // Windows: "not supported"
};
enum class AccessRemedy : std::uint8_t {
  Unnamed,
  JoinCdromGroup,       // join group 'cdrom' and log in again, or run as root
  GenericNodeOrGroup,   // read-write access to the SCSI generic node, by group 'cdrom' or as root
  RunElevated,          // Windows: run as administrator
  OtherRoute,           // Windows: the route is not supported for the drive
  LiftSimulatedRefusal, // the simulator's no-access
};

// A drive node this user may not use.
struct NodeAccessProblem {
  std::string node;    // as the system names it
  std::string reason;  // "permission denied"
  std::string remedy;  // what would let the user in
  AccessReason reasonKind = AccessReason::Unnamed;
  AccessRemedy remedyKind = AccessRemedy::Unnamed;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The platform id of the version query (kPlatformWindows, kPlatformNt, or other).
  virtual std::uint32_t PlatformId() = 0;

  // Loads the named library; nullptr when it does not load. The library stays
  // valid until FreeLibrary, or until the platform is destroyed.
  virtual AspiLibrary* LoadLibrary(std::string_view name) = 0;
  virtual void FreeLibrary(AspiLibrary* lib) = 0;

  // A 32-bit handle standing for `buffer` in a request block's pointer field.
  virtual std::uint32_t RegisterBuffer(std::span<std::uint8_t> buffer) = 0;

  // Auto-reset events, created not signalled; 0 when none can be created.
  virtual EventHandle CreateEvent() = 0;
  // Waits at most `milliseconds` for the event.
  virtual WaitResult WaitEvent(EventHandle ev, std::uint32_t milliseconds) = 0;
  virtual void ResetEvent(EventHandle ev) = 0;
  virtual void CloseEvent(EventHandle ev) = 0;
  // The longest wait for an ASPI request's event, that of a request the
  // library still holds after a time-out included (tests of a real backend
  // make it short).
  virtual std::uint32_t AspiWaitMilliseconds() { return kAspiWaitLimitMs; }

  // The device name of a pass-through mode and number.
  virtual std::string DeviceName(TransportMode mode, std::uint16_t number) = 0;
  // The numbers the route probes and discovery walks, in order: 0..9 where
  // the system's names are fixed; the Linux backend enumerates the nodes
  // sysfs knows, so sr10 and above are reached too.
  virtual std::vector<std::uint16_t> RouteDeviceNumbers(TransportMode) {
    std::vector<std::uint16_t> numbers;
    for (std::uint16_t n = 0; n < kFixedRouteNumbers; ++n) numbers.push_back(n);
    return numbers;
  }
  // The nodes through which a device name reaches its drive, as the user
  // would name them (Linux: /dev/sr0 and /dev/sg1); empty where none is known.
  virtual DeviceNodes NodesOf(std::string_view) { return {}; }
  // A path the user gave for a drive, with links followed, so that it
  // compares equal to NodesOf's nodes and DeviceName's names of the same node.
  virtual std::string ResolveNodePath(std::string_view path) { return std::string(path); }
  // Opens a device name for reading and writing; -1 when it does not open.
  virtual DeviceHandle OpenDevice(std::string_view name) = 0;
  // Carries out the pass-through block (44-byte header, sense at 48, data at
  // 80; block.size() is 80 + transfer length). Writes ScsiStatus, the sense
  // area and DataTransferLength (the bytes that really moved) back into it.
  virtual PassThroughResult PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) = 0;
  virtual void CloseDevice(DeviceHandle dev) = 0;

  // Pauses the caller (the simulator advances its virtual clock instead).
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // The working directory.
  virtual FileSystem& Files() = 0;

  // A message for the operator when drives exist that the system does not let
  // this user reach (empty when there is nothing to say).
  virtual std::string AccessProblem() { return {}; }
  // The same, node by node, for scripts; in the order they were met.
  virtual std::vector<NodeAccessProblem> AccessProblems() { return {}; }

  // Device numbers of the mode whose nodes exist, learnt without opening them
  // (for the shell's completion, which must never disturb a drive); empty
  // where the system cannot tell.
  virtual std::vector<std::uint16_t> PresentDeviceNumbers(TransportMode) { return {}; }

  // Milliseconds on the platform's own clock: it never goes back, and every
  // Sleep and every wait moves it on by at least its length (the simulator's
  // clock is virtual; a command's duration and its time-out move it too).
  // Only differences mean anything.
  virtual std::uint64_t MonotonicMilliseconds() = 0;

  // An attempt on a drive begins: called once before its first update-mode
  // command, and EndAttempt once when it ends. Meanwhile the interruptions
  // that would end or stop the program are held (a broken pipe is ignored),
  // and the machine is kept from suspending, hibernating and shutting down
  // as far as the system lets a program ask; the result says whether it is.
  virtual AttemptHold BeginAttempt() = 0;
  // The attempt has ended: the machine may sleep again, and interruptions act
  // at once again. Returns the one held meanwhile that matters (the first
  // that ends the program, else the first that stops it; 0: none), which the
  // caller hands to ActOnInterruption once its own output is done.
  virtual Interruption EndAttempt() = 0;
  // Does what `interruption` would have done had it not been held (a signal's
  // default action: the program normally ends here; after a stop it goes on
  // once continued). 0 does nothing.
  virtual void ActOnInterruption(Interruption interruption) = 0;
  // --- a listed device, by its pass-through device name; no SCSI command is sent for any of these ---
  // Records which device `name` led to when it last opened (Linux: its device
  // number and SCSI address). Discovery calls it right after the device
  // answered as a drive it lists. 1 recorded; 0 the system does not tell, and
  // the device cannot be claimed.
  virtual int RememberListedDevice(std::string_view name) = 0;
  // Before an attempt's first command: confirms that `name` still leads to the
  // device recorded, that it is a CD/DVD device and that none of its media is
  // mounted, and holds it so that no other program reaches it until
  // ReleaseListedDevice. Meanwhile OpenDevice of the name hands out the held
  // device, checked again each time (-1 when it fails), and CloseDevice keeps
  // it held. Claimed, or why not (then nothing is held). A claim of another
  // name first lets the held one go.
  virtual DeviceClaimResult ClaimListedDevice(std::string_view name) = 0;
  // Lets the device claimed under `name` go; nothing when it holds none.
  virtual void ReleaseListedDevice(std::string_view name) = 0;

  // A value that differs from run to run, for patterns that a drive's data
  // must not be taken for (the simulator and tests give fixed ones).
  virtual std::uint64_t RandomSeed() = 0;
};

// The seam to the machine the program runs on. Exactly one backend defines
// these, the one the build selects for the target system
// (platform/CMakeLists.txt: platform/linux with platform/posix, or
// platform/win32); nothing above platform/ names a backend.

// The platform of this machine's real drives, working in `workingDirectory`.
std::unique_ptr<Platform> MakeNativePlatform(std::string workingDirectory = ".");

enum class StandardStream { Input, Output, Error };
// Whether the stream is a terminal (a console on Windows) rather than a file or pipe.
bool IsTerminal(StandardStream stream);
// Readies the console for the program's UTF-8 output where the system needs it.
void PrepareConsoleOutput();

// The program's own side of an attempt, for the backends' BeginAttempt and
// EndAttempt (the native one and the simulator alike: it is this process that
// must not be interrupted). Called from the program's one thread.
// Holds SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN and SIGTTOU (those
// not ignored already) and ignores SIGPIPE; on Windows, holds the console's
// Ctrl-C, Ctrl-Break and close. The notice is written on standard error when
// the first one arrives. Nested holds count; only the outermost acts.
void HoldInterruptions();
// Ends the hold: everything acts at once again, as before the hold. Returns
// the interruption that matters among those held (see EndAttempt), or 0.
Interruption ReleaseInterruptions();
// The interruption's default action (see ActOnInterruption).
void RaiseInterruption(Interruption interruption);
// The line HoldInterruptions writes, once per hold, when the first interruption
// is held (a complete line; empty: nothing is written). Longer lines are cut.
void SetInterruptionNotice(std::string_view line);

}  // namespace orvel
