#include "recorder.h"

#include <cerrno>
#include <cstring>

namespace tovaksim {

bool Recorder::Open(const std::string& path, std::string& error) {
    file_.reset(std::fopen(path.c_str(), "w"));
    if (!file_) {
        error = "open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void Recorder::Write(double elapsedMs, const char* kind, const std::string& detail) {
    if (!file_) {
        return;
    }
    std::fprintf(file_.get(), "%.3f %s%s%s\n", elapsedMs, kind, detail.empty() ? "" : " ",
                 detail.c_str());
    std::fflush(file_.get());
}

}  // namespace tovaksim
