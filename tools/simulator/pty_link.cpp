#include "pty_link.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace tovaksim {
namespace {

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A symlink is replaced by renaming a new one over it, so the program never
// finds the path missing while the line is re-established.
bool ReplaceSymlink(const std::string& target, const std::string& linkPath, std::string& error) {
    struct stat info {};
    if (lstat(linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = linkPath + " exists and is not a symlink";
        return false;
    }
    std::string temporary = linkPath + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        error = ErrnoText("symlink " + temporary);
        return false;
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = ErrnoText("rename to " + linkPath);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Raw: no echo back to the program, no line editing, no CR/LF translation,
// no signal characters; every byte passes as it is.
bool SetRaw(int fd, std::string& error) {
    termios mode{};
    if (tcgetattr(fd, &mode) != 0) {
        error = ErrnoText("tcgetattr");
        return false;
    }
    cfmakeraw(&mode);
    mode.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    mode.c_cflag |= CS8 | CLOCAL | CREAD;
    cfsetispeed(&mode, B115200);
    cfsetospeed(&mode, B115200);
    if (tcsetattr(fd, TCSANOW, &mode) != 0) {
        error = ErrnoText("tcsetattr");
        return false;
    }
    return true;
}

}  // namespace

bool PtyLink::OpenDevice(const std::string& path, std::string& error) {
    Close();
    UniqueFd device(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device.Valid()) {
        error = ErrnoText("cannot open " + path);
        return false;
    }
    if (!isatty(device.Get())) {
        error = path + " is not a serial device";
        return false;
    }
    if (!SetRaw(device.Get(), error)) {
        error = path + ": " + error;
        return false;
    }
    tcflush(device.Get(), TCIOFLUSH);  // nothing from before we came counts
    master_ = std::move(device);
    slavePath_ = path;
    device_ = true;
    return true;
}

bool PtyLink::Open(const std::string& linkPath, std::string& error) {
    Close(Link::kKeep);
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!master.Valid()) {
        error = ErrnoText("posix_openpt");
        return false;
    }
    if (grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0) {
        error = ErrnoText("unlockpt");
        return false;
    }
    char name[PATH_MAX] = {};
    if (ptsname_r(master.Get(), name, sizeof name) != 0) {
        error = ErrnoText("ptsname_r");
        return false;
    }
    UniqueFd slave(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid()) {
        error = ErrnoText(std::string("open ") + name);
        return false;
    }
    if (!SetRaw(slave.Get(), error)) {
        return false;
    }
    if (!ReplaceSymlink(name, linkPath, error)) {
        return false;
    }
    master_ = std::move(master);
    slave_ = std::move(slave);
    slavePath_ = name;
    linkPath_ = linkPath;
    return true;
}

void PtyLink::Close(Link link) {
    if (link == Link::kRemove && !linkPath_.empty()) {
        char target[PATH_MAX] = {};
        ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length > 0 && slavePath_ == std::string(target, static_cast<size_t>(length))) {
            unlink(linkPath_.c_str());
        }
    }
    master_.Reset();
    slave_.Reset();
    slavePath_.clear();
    linkPath_.clear();
    device_ = false;
}

}  // namespace tovaksim
