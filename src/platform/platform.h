// The one seam between the program's rules and the machine they run on.
//
// The core calls only these operations; src/platform/win32/ implements them
// with Win32 calls and the unit tests link a recording fake instead. Every
// operation is silent on failure unless its result says otherwise: the
// program's rules decide what a failure means, not the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An open serial port, or kInvalidPort.
using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPort = -1;

// The serial line as the controller expects it; mirrors the fields of a DCB.
struct PortSettings {
    std::uint32_t baudRate;
    std::uint32_t flags;  // the DCB's bit-field word (fBinary, fRtsControl, ...)
    std::uint16_t xonLim;
    std::uint16_t xoffLim;
    std::uint8_t byteSize;
    std::uint8_t parity;
    std::uint8_t stopBits;
    char xonChar;
    char xoffChar;
    char errorChar;
    char eofChar;
    char evtChar;
};

// Milliseconds, as in COMMTIMEOUTS.
struct PortTimeouts {
    std::uint32_t readIntervalTimeout;
    std::uint32_t readTotalTimeoutMultiplier;
    std::uint32_t readTotalTimeoutConstant;
    std::uint32_t writeTotalTimeoutMultiplier;
    std::uint32_t writeTotalTimeoutConstant;
};

struct LocalTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Main window: controls by id, menu items by command id, caption, timers.
void SetControlText(int id, const std::string& text);
std::string GetControlText(int id, int maxCount);  // at most maxCount - 1 characters
void SetControlImage(int id, int bitmapId);        // one of the images loaded at session start
void CheckMenuItem(int id, bool checked);
void EnableMenuItem(int id, bool enabled);  // grayed when not enabled
void SetMainCaption(const std::string& text);
void StartTimer(int id, std::uint32_t intervalMs);
void StopTimer(int id);
void CloseMainWindow();  // as the close box does; returns once the window is gone
// Tells screen readers that what a main-window control shows has changed; they
// ask for the new value themselves.
void AnnounceValueChange(int id);

// The Adjust window, modal over the main window. RunDialog creates the named
// window, runs its message loop with the main window disabled and returns its
// exit code once it has closed; a name it does not know gives 0 at once. The
// other operations address that window's controls and timers while it is open
// and do nothing once it has gone.
int RunDialog(const std::string& name);
void SetAdjustText(int id, const std::string& text);
void EnableAdjustControl(int id, bool enabled);
bool IsAdjustChecked(int id);
void CheckAdjustChoice(int id);
void StartAdjustTimer(int id, std::uint32_t intervalMs);
void StopAdjustTimer(int id);

// A modal box without an owner; its message loop keeps the main window's
// timers and commands running. Returns the button pressed (IDOK, IDYES, ...).
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style);
// The same, owned by the main window, which stays disabled while it is open
// (its timers still run in the box's loop). Only the About box is shown so.
int ShowOwnedMessageBox(const std::string& text, const std::string& caption, unsigned style);

// Brushes the core makes, and deletes once it has replaced them.
using BrushHandle = std::intptr_t;
constexpr BrushHandle kNoBrush = 0;
BrushHandle CreateBrush(std::uint32_t colour);  // COLORREF 0x00BBGGRR
void DeleteBrush(BrushHandle brush);
// The display panel's background from now on, repainted at once; kNoBrush for
// the system's own.
void UseDisplayBrush(BrushHandle brush);

// Window resources made at session start and released at shutdown.
void LoadStatusImages();
void ReleaseWindowResources();  // status images, menus, fonts, background brush
void PostQuit(int exitCode);

// Serial port: synchronous, exclusive open. A handle stays valid when its
// device goes (a USB adapter pulled out); only the calls on it fail then.
PortHandle OpenPort(const std::string& deviceName);
void ClosePort(PortHandle port);
void SetPortState(PortHandle port, const PortSettings& settings);
void SetPortTimeouts(PortHandle port, const PortTimeouts& timeouts);
void SetPortQueues(PortHandle port, std::uint32_t inputBytes, std::uint32_t outputBytes);
// What has arrived, up to maxBytes, within the read time-outs. False when the
// read itself failed; count is then 0.
bool ReadPort(PortHandle port, char* buffer, std::size_t maxBytes, std::size_t& count);
bool WritePort(PortHandle port, const std::string& bytes);  // false when the write failed
// The line's status query: false once the device behind the handle has gone.
bool PortPresent(PortHandle port);

// Clock.
std::uint32_t TickCount();
LocalTime CurrentLocalTime();
void SleepFor(std::uint32_t ms);

// Files and environment.
bool ReadEnvironment(const std::string& name, std::string& value);  // false when unset
void CreateFolder(const std::string& path);
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize);  // at most bufferSize - 1 characters
void WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);
// Opened and closed each time; all the bytes are added or none (a disk that
// fills up part way does not keep a part).
void AppendToFile(const std::string& path, const std::string& bytes);
std::uint64_t FileBytes(const std::string& path);  // its size; 0 when there is none
// The room left on the disk that holds the file's folder; false when it cannot
// be told.
bool FreeDiskBytes(const std::string& path, std::uint64_t& bytes);

// Process.
bool AnotherInstanceRuns(const std::string& mutexName);  // creates and keeps the named mutex
void ExitProgram(int exitCode);                          // ends the process (the fake only records)

}  // namespace platform
