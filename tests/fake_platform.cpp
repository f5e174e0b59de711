#include "fake_platform.h"

#include <algorithm>
#include <cstring>

#include "app/ids.h"
#include "app/state.h"
#include "link/port.h"
#include "monitor/poll.h"

FakePlatform fake;

void ResetFake() {
    fake = FakePlatform{};
    InitialiseState();
}

void ResetConnected(const std::set<std::string>& devices) {
    ResetFake();
    fake.devices = devices;
    ConnectPort("COM1");
    fake.writes.clear();
    fake.timerLog.clear();
    fake.timeline.clear();
}

void ReadTick(const std::string& bytes) {
    fake.reads.push_back(bytes);
    PollTick(id::kPollTimer);
}

std::string FakePlatform::Wire() const {
    std::string all;
    for (const FakeWrite& write : writes) {
        all += write.bytes;
    }
    return all;
}

void FakePlatform::Unplug(const std::string& device) {
    devices.erase(device);
    for (const auto& open : openPorts) {
        if (open.second == device) {
            goneHandles.insert(open.first);
        }
    }
}

void FakePlatform::Plug(const std::string& device) {
    devices.insert(device);
}

std::string FakePlatform::Text(int id) const {
    auto found = controlTexts.find(id);
    return found == controlTexts.end() ? std::string() : found->second;
}

std::string FakePlatform::AdjustText(int id) const {
    auto found = adjustTexts.find(id);
    return found == adjustTexts.end() ? std::string() : found->second;
}

namespace {

// A window's timers and their log: "start 0 100", "stop 2".
void RecordTimerStart(std::map<int, std::uint32_t>& timers, std::vector<std::string>& log, int id,
                      std::uint32_t intervalMs) {
    timers[id] = intervalMs;
    log.push_back("start " + std::to_string(id) + " " + std::to_string(intervalMs));
}

void RecordTimerStop(std::map<int, std::uint32_t>& timers, std::vector<std::string>& log, int id) {
    timers.erase(id);
    log.push_back("stop " + std::to_string(id));
}

std::string PortName(platform::PortHandle port) {
    auto found = fake.openPorts.find(port);
    return found == fake.openPorts.end() ? std::string("?") : found->second;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

namespace platform {

void SetControlText(int id, const std::string& text) {
    fake.controlTexts[id] = text;
    if (id == id::kDisplayPanel) {
        fake.timeline.push_back("panel " + text);
    }
}

std::string GetControlText(int id, int maxCount) {
    std::string text = fake.Text(id);
    if (maxCount <= 0) {
        return std::string();
    }
    if (text.size() > static_cast<std::size_t>(maxCount - 1)) {
        text.resize(static_cast<std::size_t>(maxCount - 1));
    }
    return text;
}

void SetControlImage(int id, int bitmapId) {
    fake.controlImages[id] = bitmapId;
    ++fake.imageSets[id];
}

void CheckMenuItem(int id, bool checked) {
    fake.menuChecks[id] = checked;
}

void EnableMenuItem(int id, bool enabled) {
    fake.menuEnabled[id] = enabled;
}

void SetMainCaption(const std::string& text) {
    fake.caption = text;
}

void StartTimer(int id, std::uint32_t intervalMs) {
    RecordTimerStart(fake.timers, fake.timerLog, id, intervalMs);
}

void StopTimer(int id) {
    RecordTimerStop(fake.timers, fake.timerLog, id);
}

void CloseMainWindow() {
    ++fake.closeRequests;
}

void AnnounceValueChange(int id) {
    fake.valueChanges.push_back(id);
}

namespace {

int ShowBox(const std::string& text, const std::string& caption, unsigned style, bool owned) {
    fake.boxes.push_back(FakeBox{text, caption, style, owned});
    fake.timeline.push_back(std::string(owned ? "owned box " : "box ") + caption + " " +
                            std::to_string(style) + ": " + text);
    const FakeBox shown = fake.boxes.back();
    return fake.onBox ? fake.onBox(shown) : 1;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return ShowBox(text, caption, style, false);
}

int ShowOwnedMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return ShowBox(text, caption, style, true);
}

int RunDialog(const std::string& name) {
    fake.dialogs.push_back(name);
    return fake.onDialog ? fake.onDialog() : 0;
}

void SetAdjustText(int id, const std::string& text) {
    fake.adjustTexts[id] = text;
}

void EnableAdjustControl(int id, bool enabled) {
    fake.adjustEnabled[id] = enabled;
}

bool IsAdjustChecked(int id) {
    return fake.adjustChecked == id;
}

void CheckAdjustChoice(int id) {
    fake.adjustChecked = id;
}

void StartAdjustTimer(int id, std::uint32_t intervalMs) {
    RecordTimerStart(fake.adjustTimers, fake.adjustTimerLog, id, intervalMs);
}

void StopAdjustTimer(int id) {
    RecordTimerStop(fake.adjustTimers, fake.adjustTimerLog, id);
}

BrushHandle CreateBrush(std::uint32_t colour) {
    static BrushHandle next = 1;
    fake.displayBrushes.push_back(colour);
    fake.liveBrushes.insert(next);
    return next++;
}

void DeleteBrush(BrushHandle brush) {
    if (fake.liveBrushes.erase(brush) == 0 || brush == fake.panelBrush) {
        ++fake.badReleases;
    }
}

void UseDisplayBrush(BrushHandle brush) {
    if (brush != kNoBrush && fake.liveBrushes.count(brush) == 0) {
        ++fake.badReleases;
    }
    fake.panelBrush = brush;
}

void LoadStatusImages() {
    fake.statusImagesLoaded = true;
    fake.liveStatusImages += 9;
}

void ReleaseWindowResources() {
    if (fake.resourcesReleased) {
        ++fake.badReleases;
    }
    fake.resourcesReleased = true;
    fake.liveStatusImages = 0;
}

void PostQuit(int exitCode) {
    fake.quitCode = exitCode;
}

PortHandle OpenPort(const std::string& deviceName) {
    const bool exists = fake.devices.count(deviceName) != 0;
    bool heldAlready = false;
    for (const auto& open : fake.openPorts) {
        // A handle left on a device that has gone holds nothing.
        heldAlready = heldAlready || (Upper(open.second) == Upper(deviceName) &&
                                      fake.goneHandles.count(open.first) == 0);
    }
    fake.portLog.push_back("open " + deviceName);
    // Exclusive open, as on Windows: a device held by a handle cannot be opened again.
    if (!exists || heldAlready) {
        return kInvalidPort;
    }
    if (fake.failSecondOpen.count(deviceName) != 0 &&
        std::count(fake.portLog.begin(), fake.portLog.end(), "open " + deviceName) > 1) {
        return kInvalidPort;
    }
    const PortHandle handle = fake.nextHandle++;
    fake.openPorts[handle] = deviceName;
    return handle;
}

void ClosePort(PortHandle port) {
    fake.portLog.push_back("close " + PortName(port));
    if (fake.openPorts.erase(port) == 0) {
        ++fake.badReleases;
    }
}

void SetPortState(PortHandle port, const PortSettings& settings) {
    fake.portLog.push_back("state " + PortName(port));
    fake.lastSettings = settings;
}

void SetPortTimeouts(PortHandle port, const PortTimeouts& timeouts) {
    fake.portLog.push_back("timeouts " + PortName(port));
    fake.lastTimeouts = timeouts;
}

void SetPortQueues(PortHandle port, std::uint32_t inputBytes, std::uint32_t outputBytes) {
    fake.portLog.push_back("queues " + PortName(port));
    fake.lastQueueIn = inputBytes;
    fake.lastQueueOut = outputBytes;
}

bool ReadPort(PortHandle port, char* buffer, std::size_t maxBytes, std::size_t& count) {
    ++fake.readCalls;
    count = 0;
    if (fake.goneHandles.count(port) != 0) {
        return !fake.gone.readsFail;
    }
    if (fake.openPorts.count(port) == 0 || fake.reads.empty()) {
        return true;
    }
    std::string& next = fake.reads.front();
    count = std::min(maxBytes, next.size());
    std::memcpy(buffer, next.data(), count);
    next.erase(0, count);
    if (next.empty()) {
        fake.reads.pop_front();
    }
    return true;
}

bool WritePort(PortHandle port, const std::string& bytes) {
    if (fake.goneHandles.count(port) != 0 && fake.gone.writesFail) {
        fake.timeline.push_back("failed write " + bytes);
        return false;
    }
    fake.writes.push_back(FakeWrite{PortName(port), bytes, fake.tick});
    fake.timeline.push_back("write " + bytes);
    return true;
}

bool PortPresent(PortHandle port) {
    return fake.goneHandles.count(port) == 0 || !fake.gone.statusFails;
}

std::uint32_t TickCount() {
    return fake.tick;
}

LocalTime CurrentLocalTime() {
    return fake.now;
}

void SleepFor(std::uint32_t ms) {
    fake.sleeps.push_back(ms);
    fake.timeline.push_back("sleep " + std::to_string(ms));
    fake.tick += ms;
}

bool ReadEnvironment(const std::string& name, std::string& value) {
    auto found = fake.environment.find(name);
    if (found == fake.environment.end()) {
        value.clear();
        return false;
    }
    value = found->second;
    return true;
}

void CreateFolder(const std::string& path) {
    fake.foldersCreated.push_back(path);
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize) {
    (void)section;
    std::string value = defaultValue;
    auto file = fake.profiles.find(path);
    if (file != fake.profiles.end() && file->second.count(key) != 0) {
        value = file->second.at(key);
    }
    if (bufferSize == 0) {
        return std::string();
    }
    if (value.size() > bufferSize - 1) {
        value.resize(bufferSize - 1);
    }
    return value;
}

void WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    (void)section;
    fake.profiles[path][key] = value;
    fake.profileWrites.push_back(key + "=" + value);
}

void AppendToFile(const std::string& path, const std::string& bytes) {
    ++fake.fileOpens;
    if (fake.lockedFiles.count(path) != 0) {
        return;
    }
    fake.files[path] += bytes;
}

std::uint64_t FileBytes(const std::string& path) {
    auto found = fake.fileSizes.find(path);
    return found == fake.fileSizes.end() ? 0 : found->second;
}

bool FreeDiskBytes(const std::string& path, std::uint64_t& bytes) {
    (void)path;
    bytes = fake.diskFree.value_or(0);
    return fake.diskFree.has_value();
}

bool AnotherInstanceRuns(const std::string& mutexName) {
    (void)mutexName;
    return fake.mutexHeld;
}

void ExitProgram(int exitCode) {
    fake.exitCode = exitCode;
}

}  // namespace platform
