// The simulator's end of the serial line: a pseudo-terminal whose slave the
// program opens through a symlink (the Wine prefix maps a COM port to it), or an
// existing serial device that the other side reaches by a cable.
#pragma once

#include <string>

#include "unique_fd.h"

namespace tovaksim {

class PtyLink {
  public:
    PtyLink() = default;
    ~PtyLink() { Close(); }
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Opens a fresh pty in raw mode and points linkPath at its slave, replacing an
    // existing symlink there (never a regular file). Returns false with a reason.
    bool Open(const std::string& linkPath, std::string& error);

    // Opens an existing serial device (or another program's pty) and sets it raw,
    // 115200 baud, 8N1, modem lines ignored. Returns false with a one-line reason.
    bool OpenDevice(const std::string& path, std::string& error);

    // Closes both ends, so whoever holds the slave sees a hang-up. The symlink is
    // removed if it still points at this pty, unless the caller is about to
    // re-establish the line under the same path.
    enum class Link { kRemove, kKeep };
    void Close(Link link = Link::kRemove);

    bool IsOpen() const { return master_.Valid(); }
    bool IsDevice() const { return device_; }
    int MasterFd() const { return master_.Get(); }  // our end: the master or the device
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& LinkPath() const { return linkPath_; }

  private:
    UniqueFd master_;
    // Held open for the pty's lifetime: without an open slave, reads on the master
    // fail with EIO whenever the program has the port closed.
    UniqueFd slave_;
    std::string slavePath_;
    std::string linkPath_;
    bool device_ = false;
};

}  // namespace tovaksim
