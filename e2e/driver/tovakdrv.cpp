// tovakdrv: the UI driver of the end-to-end tests. It runs in the program's Wine prefix,
// reads one command a line on stdin and answers each with exactly one line of JSON on
// stdout. It only reads the program's windows and posts to them: anything that may open
// a modal loop is posted, and queries that need the program's thread use
// SendMessageTimeout, since that thread sits in 120 ms port reads most of the time.
// The commands that take a window address the main window, or with a last word
// "adjust" the program's Adjust window.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "accessible_client.h"
#include "hook_abi.h"
#include "hook_client.h"
#include "json_text.h"
#include "win_handles.h"

namespace {

using tovak::e2e::AccessibleRead;
using tovak::e2e::AccessibleTask;
using tovak::e2e::HookClient;
using tovak::e2e::JsonArray;
using tovak::e2e::JsonNumbers;
using tovak::e2e::JsonObject;
using tovak::e2e::JsonString;
using tovak::e2e::ScreenDc;
using tovak::e2e::UniqueHandle;
namespace hook = tovak::e2e::hook;

constexpr char kMainClass[] = "NORMAL0";
constexpr char kAdjustClass[] = "NORMALDLG";
constexpr char kAdjustCaption[] = "Adjust";
constexpr char kAdjustSelector[] = "adjust";
constexpr char kBoxClass[] = "#32770";
constexpr char kButtonClass[] = "Button";
constexpr char kEditClass[] = "Edit";
constexpr int kBoxTextId = 0xFFFF;  // the static that holds a message box's text

constexpr DWORD kPollStepMs = 20;
constexpr DWORD kTextPollStepMs = 1;  // a static's text is read without the program's thread
constexpr long long kMaxWaitMs = 10LL * 60 * 1000;
constexpr DWORD kAnswerSettleMs = 2000;  // how long an answered box may take to go away
// The program's thread answers between two port reads; on a loaded machine that can
// take seconds.
constexpr UINT kGetTextTimeoutMs = 5000;
constexpr UINT kGetCheckTimeoutMs = 5000;
constexpr std::size_t kGetTextCapacity = std::size_t{64} * 1024;
constexpr std::size_t kWindowTextCapacity = std::size_t{32} * 1024;
constexpr std::size_t kClassNameCapacity = 256;
constexpr std::size_t kMaxLineLength = 4096;
constexpr int kMaxWindows = 4096;  // bound on any walk over a window list
constexpr long long kMaxControlId = 0xFFFF;
constexpr long long kMaxCoordinate = 1 << 20;
constexpr std::size_t kMaxAccessibleReads = MAXIMUM_WAIT_OBJECTS;  // read at once

// Alt+F4 as the keyboard would deliver it: F4's scan code, bit 29 says Alt is held.
constexpr WPARAM kF4Key = VK_F4;
constexpr LPARAM kF4ScanBits = LPARAM{0x3E} << 16;
constexpr LPARAM kAltHeldBit = LPARAM{1} << 29;
constexpr LPARAM kWasDownBit = LPARAM{1} << 30;
constexpr LPARAM kKeyUpBit = static_cast<LPARAM>(0x80000000u);
constexpr LPARAM kAltF4Down = 1 | kF4ScanBits | kAltHeldBit;
constexpr LPARAM kAltF4Up = 1 | kF4ScanBits | kAltHeldBit | kWasDownBit | kKeyUpBit;

// Keys a dialog's keyboard handling acts on, with their scan codes.
struct NamedKey {
    const char* name;
    WPARAM key;
    LPARAM scanCode;
};
constexpr NamedKey kNamedKeys[] = {
    {"esc", VK_ESCAPE, 0x01},
    {"enter", VK_RETURN, 0x1C},
};

using Args = std::vector<std::string_view>;

struct Answer {
    bool ok = false;
    std::string text;  // the members after "ok", or the error message

    static Answer Ok(const JsonObject& fields = {}) { return {true, fields.Members()}; }
    static Answer Fail(std::string error) { return {false, std::move(error)}; }

    std::string Line() const {
        if (!ok) {
            return "{\"ok\": false, \"error\": " + JsonString(text) + "}";
        }
        return text.empty() ? "{\"ok\": true}" : "{\"ok\": true, " + text + "}";
    }
};

enum class Target { kMain, kAdjust };

// The value changes the program has announced since they were last taken: the
// control ids, in order, as an out-of-context event hook hears of them.
struct ValueChanges {
    HWINEVENTHOOK hook = nullptr;
    std::vector<int> controls;
};

struct Driver {
    HWND main = nullptr;
    DWORD pid = 0;            // the program's process, from the last main window seen
    std::vector<HWND> boxes;  // open message boxes, oldest first
    HookClient hook;
    ValueChanges valueChanges;
    tovak::e2e::HeldAccessible held;
    int heldId = 0;
    bool quit = false;
    Target target = Target::kMain;  // the window the command being run addresses
};

// The hook's callback has no context of its own: the one watch of the driver.
ValueChanges* valueWatch = nullptr;

void CALLBACK OnValueChange(HWINEVENTHOOK, DWORD, HWND control, LONG object, LONG child, DWORD,
                            DWORD) {
    if (valueWatch != nullptr && object == OBJID_CLIENT && child == CHILDID_SELF) {
        valueWatch->controls.push_back(GetDlgCtrlID(control));
    }
}

// ---- small readers ---------------------------------------------------------------

long long HandleNumber(HWND window) {
    return static_cast<long long>(reinterpret_cast<UINT_PTR>(window));
}

// For another process's window this reads the caption Windows keeps, without a message,
// so it is instant; an edit control's contents need WM_GETTEXT instead.
std::string WindowText(HWND window) {
    std::string text(kWindowTextCapacity, '\0');
    const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(length > 0 ? strnlen(text.c_str(), text.size()) : 0);
    return text;
}

std::string ClassName(HWND window) {
    char name[kClassNameCapacity] = {};
    const int length = GetClassNameA(window, name, static_cast<int>(sizeof(name)));
    return std::string(name, length > 0 ? strnlen(name, sizeof(name)) : 0);
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

bool ProcessAlive(DWORD pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD);
         child && children.size() < static_cast<std::size_t>(kMaxWindows);
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

struct WindowSearch {
    const char* className;
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(context);
    if (IsWindowVisible(window) && (search.pid == 0 || ProcessOf(window) == search.pid) &&
        lstrcmpiA(ClassName(window).c_str(), search.className) == 0) {
        search.found.push_back(window);
    }
    return search.found.size() < static_cast<std::size_t>(kMaxWindows);
}

// Visible top-level windows of one class, topmost first; pid 0 takes any process.
// EnumWindows works on a snapshot: a FindWindowEx walk breaks off when the
// window it stands on is destroyed meanwhile (a second instance that exits).
std::vector<HWND> TopLevelWindows(const char* className, DWORD pid) {
    WindowSearch search{className, pid, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ParseNumber(std::string_view text, long long min, long long max, long long& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    long long parsed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || error != std::errc() || stop != end || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

Answer BadNumber(std::string_view what, std::string_view text, long long min, long long max) {
    return Answer::Fail(std::string(what) + " must be a whole number from " + std::to_string(min) +
                        " to " + std::to_string(max) + ", not '" + std::string(text) + "'");
}

// Polls `found` every few milliseconds until it holds or `timeoutMs` has passed.
template <typename Found>
bool WaitFor(long long timeoutMs, DWORD stepMs, Found found) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (found()) {
            return true;
        }
        // Unsigned difference: right across the tick counter's wrap.
        if (static_cast<long long>(GetTickCount() - start) >= timeoutMs) {
            return false;
        }
        Sleep(stepMs);
    }
}

template <typename Found>
bool WaitFor(long long timeoutMs, Found found) {
    return WaitFor(timeoutMs, kPollStepMs, found);
}

struct HookStatusName {
    hook::Status status;
    const char* text;
};

constexpr HookStatusName kHookStatusNames[] = {
    {hook::Status::Pending, "the hook did not run"},
    {hook::Status::BadRequest, "the hook did not understand the request"},
    {hook::Status::NoWindow, "the main window has gone"},
    {hook::Status::NoMenu, "the main window has no menu bar"},
    {hook::Status::NoItem, "no such menu item"},
    {hook::Status::MenuUnreadable, "the menu could not be read"},
    {hook::Status::TooDeep, "the menu nests too deeply"},
    {hook::Status::TextTooLong, "the menu's description is too long"},
    {hook::Status::OutOfMemory, "out of memory in the program"},
};

const char* HookStatusText(std::uint32_t status) {
    for (const HookStatusName& name : kHookStatusNames) {
        if (static_cast<std::uint32_t>(name.status) == status) {
            return name.text;
        }
    }
    return "the hook answered with an unknown status";
}

// ---- the main window -------------------------------------------------------------

bool LocateMain(Driver& driver) {
    const std::vector<HWND> mains = TopLevelWindows(kMainClass, 0);
    if (mains.empty()) {
        return false;
    }
    driver.main = mains.front();
    driver.pid = ProcessOf(driver.main);
    return true;
}

// The main window found last, or one found now if that one has gone (the program may
// have been started again); never waits.
bool RequireMain(Driver& driver, Answer& failure) {
    if ((driver.main && IsWindow(driver.main)) || LocateMain(driver)) {
        return true;
    }
    driver.main = nullptr;
    failure = Answer::Fail(std::string("no main window (class ") + kMainClass + ") is open");
    return false;
}

struct AdjustSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchAdjust(HWND window, LPARAM context) {
    AdjustSearch& search = *reinterpret_cast<AdjustSearch*>(context);
    if (ProcessOf(window) == search.pid &&
        lstrcmpiA(ClassName(window).c_str(), kAdjustClass) == 0 &&
        WindowText(window) == kAdjustCaption) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// The program's Adjust window, hidden ones too: while it closes it is hidden but still
// there, and whether the main window is enabled by then is worth seeing.
HWND FindAdjust(DWORD pid) {
    AdjustSearch search{pid, nullptr};
    EnumWindows(MatchAdjust, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

const char* TargetName(const Driver& driver) {
    return driver.target == Target::kAdjust ? "the Adjust window" : "the main window";
}

// The window the command addresses: the main window, or the Adjust window of the
// same process.
bool RequireTarget(Driver& driver, HWND& window, Answer& failure) {
    if (!RequireMain(driver, failure)) {
        return false;
    }
    if (driver.target == Target::kMain) {
        window = driver.main;
        return true;
    }
    window = FindAdjust(driver.pid);
    if (!window) {
        failure = Answer::Fail(std::string("no Adjust window (class ") + kAdjustClass +
                               ", caption " + kAdjustCaption + ") is open");
        return false;
    }
    return true;
}

bool RequireControl(const Driver& driver, HWND window, std::string_view idText, HWND& control,
                    Answer& failure) {
    long long id = 0;
    if (!ParseNumber(idText, 0, kMaxControlId, id)) {
        failure = BadNumber("a control id", idText, 0, kMaxControlId);
        return false;
    }
    control = GetDlgItem(window, static_cast<int>(id));
    if (!control) {
        failure = Answer::Fail(std::string(TargetName(driver)) + " has no control with id " +
                               std::to_string(id));
        return false;
    }
    return true;
}

// An edit keeps its contents itself, not as its window text.
bool IsEdit(HWND control) {
    return lstrcmpiA(ClassName(control).c_str(), kEditClass) == 0;
}

// Radio buttons and check boxes keep a check state; push buttons and the rest do not.
bool HasCheckState(HWND control) {
    if (lstrcmpiA(ClassName(control).c_str(), kButtonClass) != 0) {
        return false;
    }
    switch (static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_AUTORADIOBUTTON:
            return true;
        default:
            return false;
    }
}

// ---- message boxes ---------------------------------------------------------------

// Boxes are told apart from the program's by process once the program is known; before
// that (a box shown before the main window) any process's box counts.
DWORD BoxOwner(const Driver& driver) {
    if (driver.main && IsWindow(driver.main)) {
        return ProcessOf(driver.main);
    }
    return driver.pid != 0 && ProcessAlive(driver.pid) ? driver.pid : 0;
}

// Updates the oldest-first list: a box stays where it was first seen; boxes seen for the
// first time together go in from the bottom of the z-order up, the newest being on top.
const std::vector<HWND>& CurrentBoxes(Driver& driver) {
    const std::vector<HWND> open = TopLevelWindows(kBoxClass, BoxOwner(driver));
    auto& known = driver.boxes;
    known.erase(std::remove_if(known.begin(), known.end(),
                               [&open](HWND box) {
                                   return std::find(open.begin(), open.end(), box) == open.end();
                               }),
                known.end());
    for (auto box = open.rbegin(); box != open.rend(); ++box) {
        if (std::find(known.begin(), known.end(), *box) == known.end()) {
            known.push_back(*box);
        }
    }
    return known;
}

std::vector<HWND> ButtonsOf(HWND box) {
    std::vector<HWND> buttons;
    for (HWND child : ChildrenOf(box)) {
        if (IsWindowVisible(child) && lstrcmpiA(ClassName(child).c_str(), kButtonClass) == 0) {
            buttons.push_back(child);
        }
    }
    return buttons;
}

std::string DescribeBox(HWND box) {
    JsonArray buttons;
    for (HWND button : ButtonsOf(box)) {
        buttons.AddRaw(JsonObject()
                           .AddNumber("id", GetDlgCtrlID(button))
                           .AddText("text", WindowText(button))
                           .Text());
    }
    const HWND textControl = GetDlgItem(box, kBoxTextId);
    return JsonObject()
        .AddNumber("hwnd", HandleNumber(box))
        .AddText("caption", WindowText(box))
        .AddText("text", textControl ? WindowText(textControl) : std::string())
        .AddRaw("buttons", buttons.Text())
        .Text();
}

Answer BoxesAnswer(const std::vector<HWND>& boxes) {
    JsonArray list;
    for (HWND box : boxes) {
        list.AddRaw(DescribeBox(box));
    }
    return Answer::Ok(JsonObject().AddRaw("boxes", list.Text()));
}

// ---- commands --------------------------------------------------------------------

// The main window: visible, of any process. The Adjust window: visible, of the process
// of the main window found first.
bool LocateTarget(Driver& driver) {
    if (!LocateMain(driver)) {
        return false;
    }
    if (driver.target == Target::kMain) {
        return true;
    }
    const HWND adjust = FindAdjust(driver.pid);
    return adjust && IsWindowVisible(adjust);
}

Answer CmdFind(Driver& driver, const Args& args) {
    long long timeoutMs = 0;
    if (!ParseNumber(args[0], 0, kMaxWaitMs, timeoutMs)) {
        return BadNumber("the time-out", args[0], 0, kMaxWaitMs);
    }
    if (!WaitFor(timeoutMs, [&driver] { return LocateTarget(driver); })) {
        const std::string what = driver.target == Target::kAdjust
                                     ? std::string("Adjust window")
                                     : std::string("window of class ") + kMainClass;
        return Answer::Fail("no visible " + what + " within " + std::to_string(timeoutMs) + " ms");
    }
    const HWND found = driver.target == Target::kAdjust ? FindAdjust(driver.pid) : driver.main;
    return Answer::Ok(
        JsonObject().AddNumber("hwnd", HandleNumber(found)).AddNumber("pid", driver.pid));
}

Answer CmdWindow(Driver& driver, const Args&) {
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    RECT outer{};
    RECT client{};
    POINT origin{0, 0};
    if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client) ||
        !ClientToScreen(window, &origin)) {
        return Answer::Fail(std::string(TargetName(driver)) + " went away while being read");
    }
    return Answer::Ok(
        JsonObject()
            .AddNumber("hwnd", HandleNumber(window))
            .AddText("class", ClassName(window))
            .AddText("caption", WindowText(window))
            .AddNumber("style", static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)))
            .AddNumber("exstyle", static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)))
            .AddRaw("rect", JsonNumbers({outer.left, outer.top, outer.right, outer.bottom}))
            .AddRaw("client", JsonNumbers({client.right - client.left, client.bottom - client.top}))
            .AddRaw("clientorigin", JsonNumbers({origin.x, origin.y}))
            .AddNumber("owner", HandleNumber(GetWindow(window, GW_OWNER)))
            .AddBool("enabled", IsWindowEnabled(window) != FALSE)
            .AddBool("visible", IsWindowVisible(window) != FALSE));
}

Answer CmdControls(Driver& driver, const Args&) {
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    JsonArray list;
    for (HWND child : ChildrenOf(window)) {
        RECT box{};
        GetWindowRect(child, &box);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&box), 2);
        JsonObject control;
        control.AddNumber("id", GetDlgCtrlID(child))
            .AddText("class", ClassName(child))
            .AddText("text", WindowText(child))
            .AddNumber("style", static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)))
            .AddNumber("exstyle", static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)))
            .AddNumber("x", box.left)
            .AddNumber("y", box.top)
            .AddNumber("w", box.right - box.left)
            .AddNumber("h", box.bottom - box.top)
            .AddBool("visible", IsWindowVisible(child) != FALSE)
            .AddBool("enabled", IsWindowEnabled(child) != FALSE)
            .AddNumber("hwnd", HandleNumber(child));
        // The check state lives in the program: asking needs its thread.
        if (HasCheckState(child)) {
            DWORD_PTR state = 0;
            if (!SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kGetCheckTimeoutMs,
                                     &state)) {
                return Answer::Fail("control " + std::to_string(GetDlgCtrlID(child)) +
                                    " did not give its check state within " +
                                    std::to_string(kGetCheckTimeoutMs) + " ms");
            }
            control.AddBool("checked", state == BST_CHECKED);
        }
        list.AddRaw(control.Text());
    }
    return Answer::Ok(JsonObject().AddRaw("controls", list.Text()));
}

Answer CmdText(Driver& driver, const Args& args) {
    Answer failure;
    HWND window = nullptr;
    HWND control = nullptr;
    if (!RequireTarget(driver, window, failure) ||
        !RequireControl(driver, window, args[0], control, failure)) {
        return failure;
    }
    // A static's or a button's text is the window text the program set, read without
    // its thread, which may be busy in a port read or one of its blocking waits. Only
    // an edit holds its text itself.
    if (!IsEdit(control)) {
        return Answer::Ok(JsonObject().AddText("text", WindowText(control)));
    }
    // One WM_GETTEXT into a large buffer: a length query first would wait for the
    // program's thread twice.
    std::string text(kGetTextCapacity, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, text.size(),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kGetTextTimeoutMs, &copied)) {
        return Answer::Fail("control " + std::string(args[0]) + " did not give its text within " +
                            std::to_string(kGetTextTimeoutMs) + " ms");
    }
    text.resize(std::min<std::size_t>(copied, strnlen(text.c_str(), text.size())));
    return Answer::Ok(JsonObject().AddText("text", text));
}

bool ParseHexText(std::string_view hex, std::string& text) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    text.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto [stop, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (error != std::errc() || stop != hex.data() + i + 2) {
            return false;
        }
        text += static_cast<char>(value);
    }
    return true;
}

// Waits inside the driver until a control's text holds (or, with "absent", no longer
// holds) a text, reading it with GetWindowTextA about every millisecond: instant for a
// static or a button, so the wait adds no round trip of its own. The answer gives the
// time from the command to the match, for latency measurements, and the text then.
Answer CmdWaitText(Driver& driver, const Args& args) {
    Answer failure;
    HWND control = nullptr;
    long long timeoutMs = 0;
    std::string wanted;
    if (!ParseNumber(args[1], 0, kMaxWaitMs, timeoutMs)) {
        return BadNumber("the time-out", args[1], 0, kMaxWaitMs);
    }
    if (!ParseHexText(args[2], wanted)) {
        return Answer::Fail("the text must be given as hex digits, two a byte");
    }
    const bool absent = args.size() > 3;
    if (absent && args[3] != "absent") {
        return Answer::Fail("usage: waittext <id> <timeout_ms> <hex_text> [absent]");
    }
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!RequireMain(driver, failure) ||
        !RequireControl(driver, driver.main, args[0], control, failure)) {
        return failure;
    }
    long long polls = 0;
    std::string text;
    const bool found = WaitFor(timeoutMs, kTextPollStepMs, [&] {
        ++polls;
        text = WindowText(control);
        return (text.find(wanted) != std::string::npos) != absent;
    });
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const long long elapsedUs = (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    if (!found) {
        return Answer::Fail("control " + std::string(args[0]) + (absent ? " still" : " never") +
                            " showed the text within " + std::to_string(timeoutMs) +
                            " ms; it shows '" + text + "'");
    }
    return Answer::Ok(
        JsonObject().AddNumber("us", elapsedUs).AddNumber("polls", polls).AddText("text", text));
}

Answer CmdMenu(Driver& driver, const Args&) {
    Answer failure;
    if (!RequireMain(driver, failure)) {
        return failure;
    }
    auto request = std::make_unique<hook::Request>();
    request->op = static_cast<std::uint32_t>(hook::Op::DescribeMenu);
    const std::string error = driver.hook.Call(driver.main, *request);
    if (!error.empty()) {
        return Answer::Fail(error);
    }
    if (request->status != static_cast<std::uint32_t>(hook::Status::Ok)) {
        return Answer::Fail("reading the menu bar failed: " +
                            std::string(HookStatusText(request->status)));
    }
    return Answer::Ok(
        JsonObject().AddRaw("menu", std::string_view(request->text, request->textLength)));
}

Answer CmdMenuState(Driver& driver, const Args& args) {
    Answer failure;
    long long id = 0;
    if (!ParseNumber(args[0], 0, kMaxControlId, id)) {
        return BadNumber("a menu command id", args[0], 0, kMaxControlId);
    }
    if (!RequireMain(driver, failure)) {
        return failure;
    }
    auto request = std::make_unique<hook::Request>();
    request->op = static_cast<std::uint32_t>(hook::Op::MenuState);
    request->commandId = static_cast<std::uint32_t>(id);
    const std::string error = driver.hook.Call(driver.main, *request);
    if (!error.empty()) {
        return Answer::Fail(error);
    }
    if (request->status != static_cast<std::uint32_t>(hook::Status::Ok)) {
        return Answer::Fail("menu item " + std::to_string(id) + ": " +
                            HookStatusText(request->status));
    }
    const UINT state = request->state;
    return Answer::Ok(JsonObject()
                          .AddBool("checked", (state & MF_CHECKED) != 0)
                          .AddBool("grayed", (state & MF_GRAYED) != 0)
                          .AddBool("disabled", (state & MF_DISABLED) != 0)
                          .AddNumber("state", state));
}

Answer CmdCommand(Driver& driver, const Args& args) {
    long long id = 0;
    long long code = 0;
    if (!ParseNumber(args[0], 0, kMaxControlId, id)) {
        return BadNumber("a command id", args[0], 0, kMaxControlId);
    }
    if (args.size() > 1 && !ParseNumber(args[1], 0, 0xFFFF, code)) {
        return BadNumber("a notification code", args[1], 0, 0xFFFF);
    }
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    // A control's notification carries its handle; a menu command carries none.
    const HWND control = GetDlgItem(window, static_cast<int>(id));
    if (!PostMessageA(window, WM_COMMAND,
                      MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code)),
                      reinterpret_cast<LPARAM>(control))) {
        return Answer::Fail("cannot post the command: error " + std::to_string(GetLastError()));
    }
    return Answer::Ok();
}

Answer CmdClick(Driver& driver, const Args& args) {
    Answer failure;
    HWND window = nullptr;
    HWND control = nullptr;
    if (!RequireTarget(driver, window, failure) ||
        !RequireControl(driver, window, args[0], control, failure)) {
        return failure;
    }
    if (!PostMessageA(control, BM_CLICK, 0, 0)) {
        return Answer::Fail("cannot post the click: error " + std::to_string(GetLastError()));
    }
    return Answer::Ok();
}

Answer CmdClose(Driver& driver, const Args&) {
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
        return Answer::Fail("cannot post WM_CLOSE: error " + std::to_string(GetLastError()));
    }
    return Answer::Ok();
}

Answer CmdAltF4(Driver& driver, const Args&) {
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    // DefWindowProc turns the key with Alt held into SC_CLOSE, as a real Alt+F4 does.
    if (!PostMessageA(window, WM_SYSKEYDOWN, kF4Key, kAltF4Down) ||
        !PostMessageA(window, WM_SYSKEYUP, kF4Key, kAltF4Up)) {
        return Answer::Fail("cannot post Alt+F4: error " + std::to_string(GetLastError()));
    }
    return Answer::Ok();
}

// A key pressed and released while the window has the focus. Posted to the window
// itself, as the keyboard would deliver it: a modal loop with IsDialogMessage turns
// Esc and Enter into its commands.
Answer CmdKey(Driver& driver, const Args& args) {
    const NamedKey* key = nullptr;
    for (const NamedKey& named : kNamedKeys) {
        if (args[0] == named.name) {
            key = &named;
        }
    }
    if (key == nullptr) {
        return Answer::Fail("unknown key '" + std::string(args[0]) + "' (esc, enter)");
    }
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    const LPARAM down = 1 | (key->scanCode << 16);
    const LPARAM up = down | kWasDownBit | kKeyUpBit;
    if (!PostMessageA(window, WM_KEYDOWN, key->key, down) ||
        !PostMessageA(window, WM_KEYUP, key->key, up)) {
        return Answer::Fail("cannot post the key: error " + std::to_string(GetLastError()));
    }
    return Answer::Ok();
}

Answer CmdBoxes(Driver& driver, const Args&) {
    return BoxesAnswer(CurrentBoxes(driver));
}

Answer CmdWaitBox(Driver& driver, const Args& args) {
    long long timeoutMs = 0;
    if (!ParseNumber(args[0], 0, kMaxWaitMs, timeoutMs)) {
        return BadNumber("the time-out", args[0], 0, kMaxWaitMs);
    }
    if (!WaitFor(timeoutMs, [&driver] { return !CurrentBoxes(driver).empty(); })) {
        return Answer::Fail("no message box within " + std::to_string(timeoutMs) + " ms");
    }
    return BoxesAnswer(driver.boxes);
}

Answer CmdAnswer(Driver& driver, const Args& args) {
    long long id = 0;
    if (!ParseNumber(args[0], 0, kMaxControlId, id)) {
        return BadNumber("a button id", args[0], 0, kMaxControlId);
    }
    const std::vector<HWND>& boxes = CurrentBoxes(driver);
    if (boxes.empty()) {
        return Answer::Fail("no message box is open");
    }
    // The oldest box with that button: an error box over a question takes the OK, the
    // question under it Yes or No.
    HWND box = boxes.front();
    for (HWND open : boxes) {
        const HWND candidate = GetDlgItem(open, static_cast<int>(id));
        if (candidate && IsWindowVisible(candidate)) {
            box = open;
            break;
        }
    }
    const HWND button = GetDlgItem(box, static_cast<int>(id));
    if (!button || !IsWindowVisible(button)) {
        std::string present;
        for (HWND other : ButtonsOf(box)) {
            present += (present.empty() ? "" : ", ") + std::to_string(GetDlgCtrlID(other));
        }
        return Answer::Fail("the box '" + WindowText(box) + "' has no button " +
                            std::to_string(id) + " (its buttons: " + present + ")");
    }
    const std::string caption = WindowText(box);
    if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        return Answer::Fail("cannot post the answer: error " + std::to_string(GetLastError()));
    }
    // Wait for the box to go, so that the next boxes/waitbox/answer sees the box (if any)
    // that the program shows next rather than this one once more.
    const bool closed =
        WaitFor(kAnswerSettleMs, [box] { return !IsWindow(box) || !IsWindowVisible(box); });
    CurrentBoxes(driver);
    return Answer::Ok(JsonObject()
                          .AddNumber("hwnd", HandleNumber(box))
                          .AddText("caption", caption)
                          .AddBool("closed", closed));
}

Answer CmdPixel(Driver& driver, const Args& args) {
    long long x = 0;
    long long y = 0;
    if (!ParseNumber(args[0], -kMaxCoordinate, kMaxCoordinate, x)) {
        return BadNumber("x", args[0], -kMaxCoordinate, kMaxCoordinate);
    }
    if (!ParseNumber(args[1], -kMaxCoordinate, kMaxCoordinate, y)) {
        return BadNumber("y", args[1], -kMaxCoordinate, kMaxCoordinate);
    }
    Answer failure;
    HWND window = nullptr;
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    POINT point{static_cast<LONG>(x), static_cast<LONG>(y)};
    if (!ClientToScreen(window, &point)) {
        return Answer::Fail(std::string(TargetName(driver)) + " went away while being read");
    }
    const ScreenDc screen;
    if (!screen.Get()) {
        return Answer::Fail("cannot read the screen");
    }
    const COLORREF colour = GetPixel(screen.Get(), point.x, point.y);
    if (colour == CLR_INVALID) {
        return Answer::Fail("the point " + std::to_string(x) + "," + std::to_string(y) +
                            " lies off the screen");
    }
    return Answer::Ok(JsonObject().AddRaw(
        "rgb", JsonNumbers({GetRValue(colour), GetGValue(colour), GetBValue(colour)})));
}

// A part of an accessible object's answer: its text, or null when the object
// did not give it, with the result code either way.
void AddAccessiblePart(JsonObject& fields, const char* key, HRESULT result,
                       const std::wstring& text) {
    if (result == S_OK) {
        fields.AddWideText(key, text);
    } else {
        fields.AddRaw(key, "null");
    }
    fields.AddNumber(std::string(key) + "result", static_cast<unsigned long>(result));
}

std::string DescribeAccessible(int id, const AccessibleRead& read) {
    JsonObject fields;
    fields.AddNumber("id", id);
    AddAccessiblePart(fields, "name", read.nameResult, read.name);
    if (read.roleResult == S_OK) {
        fields.AddNumber("role", read.role).AddWideText("roletext", read.roleText);
    } else {
        fields.AddRaw("role", "null").AddRaw("roletext", "null");
    }
    AddAccessiblePart(fields, "value", read.valueResult, read.value);
    if (read.stateResult == S_OK) {
        fields.AddNumber("state", read.state);
    } else {
        fields.AddRaw("state", "null");
    }
    return fields.Text();
}

// Controls as a screen reader reads them, through oleacc from this process: each
// one's name, role (the number and the system's word for it), value and state.
Answer CmdAccessible(Driver& driver, const Args& args) {
    Answer failure;
    HWND window = nullptr;
    std::vector<AccessibleTask> tasks(args.size());
    if (!RequireTarget(driver, window, failure)) {
        return failure;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!RequireControl(driver, window, args[i], tasks[i].control, failure)) {
            return failure;
        }
    }
    tovak::e2e::ReadAccessibleAll(tasks);
    JsonArray list;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (FAILED(tasks[i].found)) {
            return Answer::Fail("control " + std::string(args[i]) + " gave no accessible object: " +
                                std::to_string(static_cast<unsigned long>(tasks[i].found)));
        }
        list.AddRaw(DescribeAccessible(GetDlgCtrlID(tasks[i].control), tasks[i].read));
    }
    return Answer::Ok(JsonObject().AddRaw("controls", list.Text()));
}

// Keeps a control's accessible object for `held`, as a reader keeps the one it
// stands on; the object held before is let go.
Answer CmdHold(Driver& driver, const Args& args) {
    Answer failure;
    HWND window = nullptr;
    HWND control = nullptr;
    if (!RequireTarget(driver, window, failure) ||
        !RequireControl(driver, window, args[0], control, failure)) {
        return failure;
    }
    const HRESULT found = driver.held.Hold(control);
    if (FAILED(found)) {
        return Answer::Fail("control " + std::string(args[0]) + " gave no accessible object: " +
                            std::to_string(static_cast<unsigned long>(found)));
    }
    driver.heldId = GetDlgCtrlID(control);
    return Answer::Ok();
}

// The object kept by `hold`, read again now: once its control has gone, each part
// is null with the error the object answers.
Answer CmdHeld(Driver& driver, const Args&) {
    AccessibleRead read;
    if (!driver.held.Read(read)) {
        return Answer::Fail("no accessible object is held");
    }
    return Answer::Ok(JsonObject().AddRaw("control", DescribeAccessible(driver.heldId, read)));
}

// The value changes the program has announced since the last call, heard by an
// out-of-context event hook on its process (set by the first call) while the
// driver pumps its messages for the given time.
Answer CmdValueChanges(Driver& driver, const Args& args) {
    long long waitMs = 0;
    if (!ParseNumber(args[0], 0, kMaxWaitMs, waitMs)) {
        return BadNumber("the time to listen", args[0], 0, kMaxWaitMs);
    }
    Answer failure;
    if (!RequireMain(driver, failure)) {
        return failure;
    }
    ValueChanges& changes = driver.valueChanges;
    if (changes.hook == nullptr) {
        valueWatch = &changes;
        changes.hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                       OnValueChange, driver.pid, 0, WINEVENT_OUTOFCONTEXT);
        if (changes.hook == nullptr) {
            return Answer::Fail("cannot hook value changes: error " +
                                std::to_string(GetLastError()));
        }
    }
    WaitFor(waitMs, [] {
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        return false;
    });
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    JsonArray controls;
    for (const int id : changes.controls) {
        controls.AddRaw(std::to_string(id));
    }
    changes.controls.clear();
    return Answer::Ok(JsonObject().AddRaw("controls", controls.Text()));
}

Answer CmdQuit(Driver& driver, const Args&) {
    driver.quit = true;
    return Answer::Ok();
}

// Whether a command takes the window selector "adjust" as its last word.
enum class Selector { kNone, kWindow };

struct Command {
    const char* name;
    std::size_t minArgs;  // not counting the selector
    std::size_t maxArgs;
    Selector selector;
    const char* usage;
    Answer (*run)(Driver&, const Args&);
};

constexpr Selector kWin = Selector::kWindow;
constexpr Selector kNone = Selector::kNone;

constexpr Command kCommands[] = {
    {"find", 1, 1, kWin, "find <timeout_ms> [adjust]", CmdFind},
    {"window", 0, 0, kWin, "window [adjust]", CmdWindow},
    {"controls", 0, 0, kWin, "controls [adjust]", CmdControls},
    {"text", 1, 1, kWin, "text <id> [adjust]", CmdText},
    {"waittext", 3, 4, kNone, "waittext <id> <timeout_ms> <hex_text> [absent]", CmdWaitText},
    {"menu", 0, 0, kNone, "menu", CmdMenu},
    {"menustate", 1, 1, kNone, "menustate <id>", CmdMenuState},
    {"command", 1, 2, kWin, "command <id> [code] [adjust]", CmdCommand},
    {"click", 1, 1, kWin, "click <id> [adjust]", CmdClick},
    {"key", 1, 1, kWin, "key esc|enter [adjust]", CmdKey},
    {"close", 0, 0, kWin, "close [adjust]", CmdClose},
    {"altf4", 0, 0, kWin, "altf4 [adjust]", CmdAltF4},
    {"boxes", 0, 0, kNone, "boxes", CmdBoxes},
    {"waitbox", 1, 1, kNone, "waitbox <timeout_ms>", CmdWaitBox},
    {"answer", 1, 1, kNone, "answer <button_id>", CmdAnswer},
    {"pixel", 2, 2, kWin, "pixel <x> <y> [adjust]", CmdPixel},
    {"accessible", 1, kMaxAccessibleReads, kWin, "accessible <id> [<id> ...] [adjust]",
     CmdAccessible},
    {"hold", 1, 1, kWin, "hold <id> [adjust]", CmdHold},
    {"held", 0, 0, kNone, "held", CmdHeld},
    {"valuechanges", 1, 1, kNone, "valuechanges <listen_ms>", CmdValueChanges},
    {"quit", 0, 0, kNone, "quit", CmdQuit},
};

Args SplitWords(std::string_view line) {
    Args words;
    constexpr std::string_view kBlanks = " \t\r";
    std::size_t start = line.find_first_not_of(kBlanks);
    while (start != std::string_view::npos) {
        const std::size_t end = line.find_first_of(kBlanks, start);
        words.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        start = end == std::string_view::npos ? end : line.find_first_not_of(kBlanks, end);
    }
    return words;
}

Answer Execute(Driver& driver, std::string_view line) {
    const Args words = SplitWords(line);
    if (words.empty()) {
        return Answer::Fail("empty command");
    }
    for (const Command& command : kCommands) {
        if (words[0] != command.name) {
            continue;
        }
        Args args(words.begin() + 1, words.end());
        driver.target = Target::kMain;
        if (command.selector == Selector::kWindow && !args.empty() &&
            args.back() == kAdjustSelector) {
            driver.target = Target::kAdjust;
            args.pop_back();
        }
        if (args.size() < command.minArgs || args.size() > command.maxArgs) {
            return Answer::Fail(std::string("usage: ") + command.usage);
        }
        try {
            return command.run(driver, args);
        } catch (const std::bad_alloc&) {
            return Answer::Fail("out of memory");
        }
    }
    return Answer::Fail("unknown command '" + std::string(words[0]) + "'");
}

// One line of stdin, without its end. A line longer than the driver takes is read to
// its end and reported, so the next command still starts on its own line.
enum class LineRead { Line, TooLong, End };

LineRead ReadLine(std::string& line) {
    line.clear();
    bool tooLong = false;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (line.size() < kMaxLineLength) {
            line += static_cast<char>(c);
        } else {
            tooLong = true;
        }
    }
    if (c == EOF && line.empty() && !tooLong) {
        return LineRead::End;
    }
    return tooLong ? LineRead::TooLong : LineRead::Line;
}

void WriteAnswer(const Answer& answer) {
    const std::string line = answer.Line() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);  // the runtime buffers a pipe fully
}

}  // namespace

int main() {
    // Binary mode: answers end in "\n" alone and a "\r" sent with a command is a blank.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    Driver driver;
    std::string line;
    while (!driver.quit) {
        const LineRead read = ReadLine(line);
        if (read == LineRead::End) {
            break;
        }
        if (read == LineRead::TooLong) {
            WriteAnswer(Answer::Fail("command longer than " + std::to_string(kMaxLineLength) +
                                     " characters"));
            continue;
        }
        WriteAnswer(Execute(driver, line));
    }
    return 0;
}
