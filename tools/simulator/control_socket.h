// The control channel: a Unix stream socket on which a test driver sends steps,
// one per line, and gets one answer line per step once it has run: "ok" or
// "error <reason>". Any number of clients may connect; their steps run in the
// order they arrive, after the script's.
#pragma once

#include <poll.h>

#include <deque>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace tovaksim {

struct ControlLine {
    static constexpr int kNoClient = -1;  // a script line: nobody waits for its answer
    int client = kNoClient;
    int lineNumber = 0;
    std::string text;
};

class ControlServer {
  public:
    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Replaces a stale socket at path (never another kind of file).
    bool Listen(const std::string& path, std::string& error);

    // Adds the descriptors to wait on; HandlePoll reads them back from index first.
    void AddPollFds(std::vector<pollfd>& fds) const;
    void HandlePoll(const std::vector<pollfd>& fds, size_t first, std::deque<ControlLine>& lines);

    // The answer is dropped if the client has gone.
    void Reply(int client, const std::string& text);

  private:
    struct Client {
        int id = 0;
        UniqueFd fd;
        std::string pending;
        bool overlong = false;  // discarding the rest of a line that was too long
    };
    void ReadClient(Client& client, std::deque<ControlLine>& lines, bool& closed);

    UniqueFd listener_;
    std::string path_;
    std::vector<Client> clients_;
    int nextId_ = 1;
};

}  // namespace tovaksim
