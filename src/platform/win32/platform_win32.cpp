// The platform seam carried out with Win32 calls, for the real program.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/ids.h"
#include "app/menu_tree.h"
#include "app/win32/shell.h"
#include "platform/platform.h"

namespace platform {

namespace {

// The older MENUITEMINFO layout, the record up to hbmpItem: enough for check
// marks and understood by every Windows version (44 bytes in a 32-bit build,
// 72 in a 64-bit one).
constexpr UINT kMenuItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);

// Status images, in the order session start loads them.
constexpr int kStatusImageIds[kStatusImageCount] = {
    id::kBitmapLedOff,   id::kBitmapLedOrange, id::kBitmapLedBlue,
    id::kBitmapLedGreen, id::kBitmapStepNone,  id::kBitmapStep10k,
    id::kBitmapStep20k,  id::kBitmapStep40k,   id::kBitmapStep50k,
};

// The caption is at most 255 characters; one more tells a longer one apart.
constexpr std::size_t kCaptionCapacity = 258;

HWND Control(int controlId) {
    return GetDlgItem(shell.mainWindow, controlId);
}

HWND AdjustControl(int controlId) {
    return shell.adjustWindow == nullptr ? nullptr : GetDlgItem(shell.adjustWindow, controlId);
}

HANDLE ToHandle(PortHandle port) {
    return reinterpret_cast<HANDLE>(port);
}

// From the control table, not from the window: the receive field is set on
// every poll tick.
bool IsStatic(int controlId) {
    const ControlEntry* control = FindMainControl(controlId);
    return control != nullptr && lstrcmpA(control->className, "STATIC") == 0;
}

// A static control breaks lines only at CR LF; the program separates its
// display lines with a lone CR.
std::string WithLineFeeds(const std::string& text) {
    std::string result;
    result.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
            result += '\n';
        }
    }
    return result;
}

}  // namespace

void SetControlText(int controlId, const std::string& text) {
    const std::string shown = IsStatic(controlId) ? WithLineFeeds(text) : text;
    SetWindowTextA(Control(controlId), shown.c_str());
}

std::string GetControlText(int controlId, int maxCount) {
    if (maxCount <= 0) {
        return std::string();
    }
    std::vector<char> buffer(static_cast<std::size_t>(maxCount) + 1, '\0');
    const int length = GetWindowTextA(Control(controlId), buffer.data(), maxCount);
    return std::string(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

void SetControlImage(int controlId, int bitmapId) {
    for (std::size_t i = 0; i < kStatusImageCount; ++i) {
        if (kStatusImageIds[i] == bitmapId) {
            // Every frequency report sets nine images; repainting the ones that
            // already show cost the program most of its intake at full line rate.
            const HWND control = Control(controlId);
            const auto image = reinterpret_cast<LPARAM>(shell.statusImages[i]);
            if (SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0) != image) {
                SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, image);
            }
            return;
        }
    }
}

void CheckMenuItem(int commandId, bool checked) {
    MENUITEMINFOA item{};
    item.cbSize = kMenuItemInfoSize;
    item.fMask = MIIM_STATE;
    item.fState = checked ? MFS_CHECKED : 0;
    SetMenuItemInfoA(GetMenu(shell.mainWindow), static_cast<UINT>(commandId), FALSE, &item);
}

void EnableMenuItem(int commandId, bool enabled) {
    ::EnableMenuItem(GetMenu(shell.mainWindow), static_cast<UINT>(commandId),
                     MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    // "Adjust(&J)" stands on the menu bar itself, which is not redrawn by itself.
    DrawMenuBar(shell.mainWindow);
}

void SetMainCaption(const std::string& text) {
    // Set again after every read: redraw the title bar only when it changes.
    char shown[kCaptionCapacity] = {};
    const int length = GetWindowTextA(shell.mainWindow, shown, static_cast<int>(sizeof shown));
    if (length <= 0 ||
        text.compare(0, std::string::npos, shown, static_cast<std::size_t>(length)) != 0) {
        SetWindowTextA(shell.mainWindow, text.c_str());
    }
}

void StartTimer(int timerId, std::uint32_t intervalMs) {
    SetTimer(shell.mainWindow, static_cast<UINT_PTR>(timerId), intervalMs, nullptr);
}

void StopTimer(int timerId) {
    KillTimer(shell.mainWindow, static_cast<UINT_PTR>(timerId));
}

void CloseMainWindow() {
    SendMessageA(shell.mainWindow, WM_CLOSE, 0, 0);
}

// AnnounceValueChange lives with the controls' accessible objects
// (src/app/win32/accessible_object.cpp).

// RunDialog, the Adjust window's modal host, lives with that window
// (src/adjust/win32/adjust_window.cpp).

void SetAdjustText(int controlId, const std::string& text) {
    SetWindowTextA(AdjustControl(controlId), text.c_str());
}

void EnableAdjustControl(int controlId, bool enabled) {
    EnableWindow(AdjustControl(controlId), enabled ? TRUE : FALSE);
}

bool IsAdjustChecked(int controlId) {
    return SendMessageA(AdjustControl(controlId), BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

void CheckAdjustChoice(int controlId) {
    SendMessageA(AdjustControl(controlId), BM_SETCHECK, BST_CHECKED, 0);
}

// A timer without a window would be a thread timer that nothing ever stops:
// a poll that ends after its window has gone arms nothing.
void StartAdjustTimer(int timerId, std::uint32_t intervalMs) {
    if (shell.adjustWindow != nullptr) {
        SetTimer(shell.adjustWindow, static_cast<UINT_PTR>(timerId), intervalMs, nullptr);
    }
}

void StopAdjustTimer(int timerId) {
    if (shell.adjustWindow != nullptr) {
        KillTimer(shell.adjustWindow, static_cast<UINT_PTR>(timerId));
    }
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

int ShowOwnedMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return MessageBoxA(shell.mainWindow, text.c_str(), caption.c_str(), style);
}

BrushHandle CreateBrush(std::uint32_t colour) {
    return reinterpret_cast<BrushHandle>(CreateSolidBrush(colour));
}

void DeleteBrush(BrushHandle brush) {
    DeleteObject(reinterpret_cast<HBRUSH>(brush));
}

void UseDisplayBrush(BrushHandle brush) {
    shell.displayBrush = reinterpret_cast<HBRUSH>(brush);
    // The panel's background is painted only when the panel is; repaint it now
    // so the new colour shows without waiting for the next text.
    InvalidateRect(Control(id::kDisplayPanel), nullptr, TRUE);
}

void LoadStatusImages() {
    for (std::size_t i = 0; i < kStatusImageCount; ++i) {
        shell.statusImages[i] =
            static_cast<HBITMAP>(LoadImageA(shell.instance, MAKEINTRESOURCEA(kStatusImageIds[i]),
                                            IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE));
    }
}

void ReleaseWindowResources() {
    for (HBITMAP& image : shell.statusImages) {
        DeleteObject(image);
        image = nullptr;
    }
    for (HMENU& menu : shell.menus) {
        DestroyMenu(menu);
        menu = nullptr;
    }
    DeleteObject(shell.panelFont);
    DeleteObject(shell.smallFont);
    DeleteObject(shell.backgroundBrush);
    shell.panelFont = nullptr;
    shell.smallFont = nullptr;
    shell.backgroundBrush = nullptr;
}

void PostQuit(int exitCode) {
    PostQuitMessage(exitCode);
}

PortHandle OpenPort(const std::string& deviceName) {
    HANDLE port = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<PortHandle>(port);
}

void ClosePort(PortHandle port) {
    CloseHandle(ToHandle(port));
}

void SetPortState(PortHandle port, const PortSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    const std::uint32_t f = settings.flags;
    dcb.fBinary = f & 1;
    dcb.fParity = (f >> 1) & 1;
    dcb.fOutxCtsFlow = (f >> 2) & 1;
    dcb.fOutxDsrFlow = (f >> 3) & 1;
    dcb.fDtrControl = (f >> 4) & 3;
    dcb.fDsrSensitivity = (f >> 6) & 1;
    dcb.fTXContinueOnXoff = (f >> 7) & 1;
    dcb.fOutX = (f >> 8) & 1;
    dcb.fInX = (f >> 9) & 1;
    dcb.fErrorChar = (f >> 10) & 1;
    dcb.fNull = (f >> 11) & 1;
    dcb.fRtsControl = (f >> 12) & 3;
    dcb.fAbortOnError = (f >> 14) & 1;
    dcb.XonLim = settings.xonLim;
    dcb.XoffLim = settings.xoffLim;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.XonChar = settings.xonChar;
    dcb.XoffChar = settings.xoffChar;
    dcb.ErrorChar = settings.errorChar;
    dcb.EofChar = settings.eofChar;
    dcb.EvtChar = settings.evtChar;
    SetCommState(ToHandle(port), &dcb);
}

void SetPortTimeouts(PortHandle port, const PortTimeouts& timeouts) {
    COMMTIMEOUTS commTimeouts{};
    commTimeouts.ReadIntervalTimeout = timeouts.readIntervalTimeout;
    commTimeouts.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
    commTimeouts.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
    commTimeouts.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
    commTimeouts.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
    SetCommTimeouts(ToHandle(port), &commTimeouts);
}

void SetPortQueues(PortHandle port, std::uint32_t inputBytes, std::uint32_t outputBytes) {
    SetupComm(ToHandle(port), inputBytes, outputBytes);
}

bool ReadPort(PortHandle port, char* buffer, std::size_t maxBytes, std::size_t& count) {
    DWORD got = 0;
    const BOOL read = ReadFile(ToHandle(port), buffer, static_cast<DWORD>(maxBytes), &got, nullptr);
    count = read ? got : 0;
    return read != FALSE;
}

bool WritePort(PortHandle port, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(ToHandle(port), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) != FALSE;
}

bool PortPresent(PortHandle port) {
    // Fails once the device has gone, on Windows and under Wine alike; Wine's
    // reads on a hung-up line never fail, they only wait out their time-out.
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(ToHandle(port), &errors, &status) != FALSE;
}

std::uint32_t TickCount() {
    return GetTickCount();
}

LocalTime CurrentLocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void SleepFor(std::uint32_t ms) {
    Sleep(ms);
}

bool ReadEnvironment(const std::string& name, std::string& value) {
    value.clear();
    const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) {
        return false;
    }
    std::vector<char> buffer(needed + 1, '\0');
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), needed + 1);
    if (length == 0 || length > needed) {
        return false;
    }
    value.assign(buffer.data(), length);
    return true;
}

void CreateFolder(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize + 1, '\0');
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                 static_cast<DWORD>(bufferSize), path.c_str());
    return std::string(buffer.data(), length < bufferSize ? length : bufferSize - 1);
}

void WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

void AppendToFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    LARGE_INTEGER end{};
    SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END);
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    // A disk that fills up part way keeps the start of the bytes, and the next
    // line would run on from it: cut the file back to where it ended.
    if (!wrote || written != bytes.size()) {
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    CloseHandle(file);
}

std::uint64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool FreeDiskBytes(const std::string& path, std::uint64_t& bytes) {
    const std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    ULARGE_INTEGER available{};
    if (folder.empty() || !GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) {
        return false;
    }
    bytes = available.QuadPart;
    return true;
}

bool AnotherInstanceRuns(const std::string& mutexName) {
    // Held, never closed, until the process ends.
    static HANDLE instanceMutex = nullptr;
    instanceMutex = CreateMutexA(nullptr, FALSE, mutexName.c_str());
    return instanceMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

void ExitProgram(int exitCode) {
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace platform
