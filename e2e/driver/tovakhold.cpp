// tovakhold: holds one existing file open without sharing, so that the program's own
// opens of it fail as they do when another program keeps it, until its stdin closes.
//
//     tovakhold <file>
//
// Prints "held" once the file is open, or "error <code>" and exits 1 if it cannot be
// opened. Runs in the program's Wine prefix: sharing is enforced among Wine processes only.
#include <windows.h>

#include <string>

#include "win_handles.h"

namespace {

using tovak::e2e::UniqueHandle;

constexpr char kHeld[] = "held\n";
constexpr char kError[] = "error ";
constexpr DWORD kNoSharing = 0;
constexpr DWORD kInputChunk = 256;
constexpr int kExitHeld = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr char kUsage[] = "usage: tovakhold <file>\n";

void Print(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

// Returns at end of input or when the input cannot be read any more.
void WaitForInputEnd() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[kInputChunk];
    DWORD count = 0;
    while (ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count != 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        Print(kUsage);
        return kExitUsage;
    }
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, kNoSharing, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Print(kError + std::to_string(GetLastError()) + "\n");
        return kExitFailed;
    }
    const UniqueHandle held(file);
    Print(kHeld);
    WaitForInputEnd();
    return kExitHeld;
}
