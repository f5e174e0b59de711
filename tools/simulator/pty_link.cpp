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

}  // namespace

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
    // Raw: no echo back to the program, no line editing, no CR/LF translation,
    // no signal characters; every byte passes as it is.
    termios mode{};
    if (tcgetattr(slave.Get(), &mode) != 0) {
        error = ErrnoText("tcgetattr");
        return false;
    }
    cfmakeraw(&mode);
    cfsetispeed(&mode, B115200);
    cfsetospeed(&mode, B115200);
    if (tcsetattr(slave.Get(), TCSANOW, &mode) != 0) {
        error = ErrnoText("tcsetattr");
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
}

}  // namespace tovaksim
