// The record file: one line per event on the line, flushed at once so a test can
// read it while the simulator runs. Each line is "<ms since start> <kind> <detail>":
// "rx <hex>" for bytes the program wrote (one line per read), "tx <hex>" for bytes
// sent to it, and "hangup", "relink <slave>", "error <text>" for what happened.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tovaksim {

class Recorder {
  public:
    // Without a file nothing is recorded.
    bool Open(const std::string& path, std::string& error);
    void Write(double elapsedMs, const char* kind, const std::string& detail);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace tovaksim
