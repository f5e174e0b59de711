#include "control_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tovaksim {
namespace {

constexpr size_t kMaxLine = 1 << 20;

}  // namespace

ControlServer::~ControlServer() {
    if (listener_.Valid()) {
        unlink(path_.c_str());
    }
}

bool ControlServer::Listen(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "control path must be 1 to " + std::to_string(sizeof address.sun_path - 1) +
                " characters: " + path;
        return false;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        unlink(path.c_str());
    }
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.Get(), 8) != 0) {
        error = "listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    listener_ = std::move(fd);
    path_ = path;
    return true;
}

void ControlServer::AddPollFds(std::vector<pollfd>& fds) const {
    if (!listener_.Valid()) {
        return;
    }
    fds.push_back({listener_.Get(), POLLIN, 0});
    for (const Client& client : clients_) {
        fds.push_back({client.fd.Get(), POLLIN, 0});
    }
}

void ControlServer::HandlePoll(const std::vector<pollfd>& fds, size_t first,
                               std::deque<ControlLine>& lines) {
    if (!listener_.Valid() || first >= fds.size()) {
        return;
    }
    // Clients first, by the order AddPollFds gave them, before accepting changes the list.
    std::vector<int> closedIds;
    for (size_t i = 0; i < clients_.size() && first + 1 + i < fds.size(); ++i) {
        if (fds[first + 1 + i].revents == 0) {
            continue;
        }
        bool closed = false;
        ReadClient(clients_[i], lines, closed);
        if (closed) {
            closedIds.push_back(clients_[i].id);
        }
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [&](const Client& client) {
                                      return std::find(closedIds.begin(), closedIds.end(),
                                                       client.id) != closedIds.end();
                                  }),
                   clients_.end());
    if (fds[first].revents & POLLIN) {
        int accepted = accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted >= 0) {
            Client client;
            client.id = nextId_++;
            client.fd.Reset(accepted);
            clients_.push_back(std::move(client));
        }
    }
}

void ControlServer::ReadClient(Client& client, std::deque<ControlLine>& lines, bool& closed) {
    char buffer[4096];
    for (;;) {
        ssize_t count = read(client.fd.Get(), buffer, sizeof buffer);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            closed = true;
            return;
        }
        if (count < 0) {
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                if (client.overlong) {
                    client.overlong = false;
                    Reply(client.id,
                          "error line longer than " + std::to_string(kMaxLine) + " bytes");
                } else {
                    if (!client.pending.empty() && client.pending.back() == '\r') {
                        client.pending.pop_back();
                    }
                    lines.push_back({client.id, 0, std::move(client.pending)});
                }
                client.pending.clear();
            } else if (!client.overlong) {
                client.pending += c;
                if (client.pending.size() > kMaxLine) {
                    client.pending.clear();
                    client.overlong = true;
                }
            }
        }
    }
}

void ControlServer::Reply(int client, const std::string& text) {
    for (Client& candidate : clients_) {
        if (candidate.id != client) {
            continue;
        }
        std::string line = text + "\n";
        size_t sent = 0;
        while (sent < line.size()) {
            ssize_t count =
                send(candidate.fd.Get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
                    pollfd wait{candidate.fd.Get(), POLLOUT, 0};
                    if (poll(&wait, 1, 1000) > 0) {
                        continue;
                    }
                }
                return;
            }
            sent += static_cast<size_t>(count);
        }
        return;
    }
}

}  // namespace tovaksim
