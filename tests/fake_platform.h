// A recording stand-in for the platform seam: the unit tests drive the core
// against it and read back every effect.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakeBox {
    std::string text;
    std::string caption;
    unsigned style;
    bool owned;  // owned by the main window (the About box)
};

struct FakeWrite {
    std::string port;
    std::string bytes;
    std::uint32_t tick;  // the clock when it was written
};

struct FakePlatform {
    // Main window.
    std::map<int, std::string> controlTexts;
    std::map<int, int> controlImages;
    std::map<int, int> imageSets;  // how often each control was given an image
    std::map<int, bool> menuChecks;
    std::map<int, bool> menuEnabled;  // only the items the program enabled or grayed
    std::string caption;
    std::map<int, std::uint32_t> timers;  // running timers and their periods
    std::vector<std::string> timerLog;    // "start 0 100", "stop 2"
    int closeRequests = 0;
    std::vector<int> valueChanges;              // the controls announced, in order
    std::vector<std::uint32_t> displayBrushes;  // the colour of every brush made, in order
    bool statusImagesLoaded = false;
    bool resourcesReleased = false;
    // What the program made and has not released; a release of something it
    // does not hold (twice, or never made), or of the brush the panel still
    // paints with, counts as a fault.
    std::set<platform::BrushHandle> liveBrushes;
    platform::BrushHandle panelBrush = platform::kNoBrush;
    int liveStatusImages = 0;
    int badReleases = 0;
    std::optional<int> quitCode;

    // Message boxes: each one is recorded, then `onBox` runs while it is
    // "open" (as a real box's message loop would run timers and commands)
    // and gives the answer.
    std::vector<FakeBox> boxes;
    std::function<int(const FakeBox&)> onBox;

    // What the user and the controller see, in order: "panel <display text>",
    // "write <bytes>", "sleep <ms>", "box <caption> <style>: <text>" ("owned
    // box ..." for a box owned by the main window).
    std::vector<std::string> timeline;
    // The Adjust window: RunDialog records the name, then `onDialog` runs
    // while the window is "open" (as its nested message loop would run the
    // window's messages) and gives the exit code. Its controls and timers are
    // kept apart from the main window's: ids 1001 to 1003 and 1017 are reused.
    std::vector<std::string> dialogs;
    std::function<int()> onDialog;
    std::map<int, std::string> adjustTexts;
    std::map<int, bool> adjustEnabled;
    int adjustChecked = 0;  // the one checked choice, 0 for none
    std::map<int, std::uint32_t> adjustTimers;
    std::vector<std::string> adjustTimerLog;  // "start 1 1500", "stop 0"

    // Serial ports: the devices that exist, the handles open on them, what was
    // written and what the next reads return.
    std::set<std::string> devices;
    std::set<std::string> failSecondOpen;  // trial open succeeds, the real one fails
    std::map<platform::PortHandle, std::string> openPorts;
    platform::PortHandle nextHandle = 100;
    std::vector<std::string> portLog;  // "open COM1", "close COM1", "state COM1", ...
    std::vector<FakeWrite> writes;
    std::deque<std::string> reads;  // one entry per ReadPort call; empty when silent
    int readCalls = 0;
    // Handles whose device has gone (Unplug), and how calls on them fail: by
    // default as under Wine, where the status query and writes fail but reads
    // only come back empty.
    std::set<platform::PortHandle> goneHandles;
    struct {
        bool statusFails = true;
        bool readsFail = false;
        bool writesFail = true;
    } gone;
    platform::PortSettings lastSettings{};
    platform::PortTimeouts lastTimeouts{};
    std::uint32_t lastQueueIn = 0;
    std::uint32_t lastQueueOut = 0;

    // Clock.
    std::uint32_t tick = 1000000;
    platform::LocalTime now{2026, 1, 7, 9, 5, 3};
    std::vector<std::uint32_t> sleeps;

    // Files and environment.
    std::map<std::string, std::string> environment;
    std::vector<std::string> foldersCreated;
    std::map<std::string, std::map<std::string, std::string>> profiles;  // path -> key -> value
    std::vector<std::string> profileWrites;                              // "KEY=value"
    std::map<std::string, std::string> files;
    std::set<std::string> lockedFiles;  // held open elsewhere without sharing
    int fileOpens = 0;
    std::map<std::string, std::uint64_t> fileSizes;                  // FileBytes; 0 for the others
    std::optional<std::uint64_t> diskFree = std::uint64_t{1} << 40;  // none: cannot be told

    // Process.
    bool mutexHeld = false;
    std::optional<int> exitCode;

    // The adapter behind a device pulled out: its handles stay open but dead,
    // and the device cannot be opened until it is plugged back.
    void Unplug(const std::string& device);
    void Plug(const std::string& device);

    // Everything the port received, in order, as one text.
    std::string Wire() const;
    std::string Text(int id) const;
    bool TimerRunning(int id) const { return timers.count(id) != 0; }
    std::string AdjustText(int id) const;
};

extern FakePlatform fake;

// Fresh fake and fresh application state, as at the start of the program.
void ResetFake();

// A fresh program connected to COM1 (the devices given exist), with the status
// request of the connection and its timers taken off the record.
void ResetConnected(const std::set<std::string>& devices = {"COM1"});

// One poll tick of timer 0 that reads bytes from the controller.
void ReadTick(const std::string& bytes);
