// tovakbase: the least program the monitor's design allows, the measuring stick
// of the benchmark command. One window with one static, the port opened with the
// program's settings and time-outs, and a 100 ms one-shot timer whose tick reads
// once and shows what it read. Nothing is interpreted.
//
//     tovakbase.exe [PORT [LOGFILE]]
//
// PORT defaults to COM1. With LOGFILE every read that brought bytes is appended
// to it as one line (the bytes, CR LF), the file opened and closed per read as
// the program's debug log is. Built beside the program, never shipped.
#include <windows.h>

#include <array>
#include <cstdlib>

namespace {

// The UI driver finds the program's main window by its class and reads the
// display panel by its id; the baseline answers to both.
constexpr char kWindowClass[] = "NORMAL0";
constexpr char kWindowTitle[] = "Tovak Remote baseline";
constexpr DWORD kWindowStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kWindowWidth = 765;
constexpr int kWindowHeight = 287;
constexpr int kReadsShownId = 1017;

constexpr char kDefaultPort[] = "COM1";
constexpr UINT_PTR kPollTimer = 0;
constexpr UINT kPollIntervalMs = 100;
constexpr DWORD kReadLimit = 4095;
constexpr DWORD kQueueBytes = 1048576;
constexpr DWORD kLineTimeoutMs = 120;
constexpr char kLineEnd[] = "\r\n";

struct UniqueHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE opened) : handle(opened) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(INVALID_HANDLE_VALUE); }
    void Reset(HANDLE opened) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        handle = opened;
    }
};

struct Baseline {
    const char* portName = kDefaultPort;
    const char* logPath = nullptr;
    UniqueHandle port;
    HWND readsShown = nullptr;
};

Baseline baseline;

// 115200 8N1, RTS toggle, DTR off, no flow control: the program's line.
void OpenPort() {
    baseline.port.Reset(CreateFileA(baseline.portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DCB line{};
    line.DCBlength = sizeof line;
    line.BaudRate = CBR_115200;
    line.fBinary = TRUE;
    line.fRtsControl = RTS_CONTROL_TOGGLE;
    line.fDtrControl = DTR_CONTROL_DISABLE;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    SetCommState(baseline.port.handle, &line);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kLineTimeoutMs;
    timeouts.ReadTotalTimeoutConstant = kLineTimeoutMs;
    timeouts.WriteTotalTimeoutConstant = kLineTimeoutMs;
    SetCommTimeouts(baseline.port.handle, &timeouts);
    SetupComm(baseline.port.handle, kQueueBytes, kQueueBytes);
}

void AppendRead(const char* bytes, DWORD count) {
    UniqueHandle log(CreateFileA(baseline.logPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log.handle == INVALID_HANDLE_VALUE) {
        return;
    }
    SetFilePointer(log.handle, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(log.handle, bytes, count, &written, nullptr);
    WriteFile(log.handle, kLineEnd, sizeof kLineEnd - 1, &written, nullptr);
}

// One-shot, as the program's poll: stopped at once, re-armed when the tick is done.
void PollTick(HWND window) {
    KillTimer(window, kPollTimer);
    std::array<char, kReadLimit + 1> buffer{};
    DWORD count = 0;
    if (!ReadFile(baseline.port.handle, buffer.data(), kReadLimit, &count, nullptr)) {
        count = 0;
    }
    SetWindowTextA(baseline.readsShown, buffer.data());
    if (count > 0 && baseline.logPath != nullptr) {
        AppendRead(buffer.data(), count);
    }
    SetTimer(window, kPollTimer, kPollIntervalMs, nullptr);
}

void OnCreate(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    baseline.readsShown = CreateWindowExA(
        0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, client.right, client.bottom, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kReadsShownId)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)), nullptr);
    OpenPort();
    SetTimer(window, kPollTimer, kPollIntervalMs, nullptr);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_TIMER:
            PollTick(window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, kPollTimer);
            baseline.port.Reset(INVALID_HANDLE_VALUE);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc > 1) {
        baseline.portName = __argv[1];
    }
    if (__argc > 2) {
        baseline.logPath = __argv[2];
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass);
    // A measuring stick without a window would only wait for nothing.
    if (CreateWindowExA(0, kWindowClass, kWindowTitle, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, instance,
                        nullptr) == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
