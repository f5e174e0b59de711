// The simulator's command line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tovaksim {

struct Options {
    std::string link;    // a fresh pty, its slave under this symlink
    std::string device;  // or an existing serial device
    std::string record;
    std::string script;
    std::string control;
    std::string replay;  // a debug log whose reads are played back
    double replaySpeed = 1;
    bool relink = false;
    bool model = false;
    bool help = false;
    unsigned seed = 1;
    std::vector<std::pair<std::string, std::string>> settings;  // the model's, in order
};

// Returns false with a one-line reason on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

std::string Usage();

}  // namespace tovaksim
