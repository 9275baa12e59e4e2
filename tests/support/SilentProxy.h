// A TCP proxy on 127.0.0.1 in front of a server on 127.0.0.1: it forwards both ways until the
// client sends a word it watches for (e.g. "INSERT"), then goes silent for good. The client's
// bytes are still taken (its writes succeed, as with a server that hangs), nothing reaches
// either side any more, and no connection is closed while the proxy lives.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class SilentProxy {
public:
    SilentProxy(int upstreamPort, std::string silentAt)
        : m_upstream(upstreamPort), m_word(std::move(silentAt)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Address(0);
        socklen_t size = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~SilentProxy() {
        m_quit = true;
        if (m_thread.joinable()) m_thread.join();
        for (const Pair& p : m_pairs) {
            ::close(p.client);
            ::close(p.server);
        }
        if (m_listen >= 0) ::close(m_listen);
    }
    SilentProxy(const SilentProxy&) = delete;
    SilentProxy& operator=(const SilentProxy&) = delete;

    int Port() const { return m_port; } // 0 when the proxy could not listen
    bool WentSilent() const { return m_silent; }

private:
    struct Pair {
        int client, server;
        bool clientGone = false, serverGone = false;
    };

    static sockaddr_in Address(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }

    void Run() {
        while (!m_quit) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
            std::vector<std::pair<std::size_t, bool>> whose; // pair, from the client
            for (std::size_t i = 0; i < m_pairs.size(); ++i) {
                if (!m_pairs[i].clientGone) {
                    fds.push_back({m_pairs[i].client, POLLIN, 0});
                    whose.emplace_back(i, true);
                }
                if (!m_pairs[i].serverGone) {
                    fds.push_back({m_pairs[i].server, POLLIN, 0});
                    whose.emplace_back(i, false);
                }
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                Pair& p = m_pairs[whose[i - 1].first];
                const bool fromClient = whose[i - 1].second;
                char buffer[65536];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) { // a side that left stays open on ours
                    (fromClient ? p.clientGone : p.serverGone) = true;
                    continue;
                }
                if (fromClient && std::string(buffer, static_cast<std::size_t>(n)).find(m_word) !=
                                      std::string::npos)
                    m_silent = true;
                if (m_silent) continue;
                const int to = fromClient ? p.server : p.client;
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t w =
                        ::write(to, buffer + sent, static_cast<std::size_t>(n - sent));
                    if (w <= 0) break;
                    sent += w;
                }
            }
            if (fds[0].revents & POLLIN) Accept();
        }
    }

    void Accept() {
        const int client = ::accept(m_listen, nullptr, nullptr);
        if (client < 0) return;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = Address(m_upstream);
        if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            if (server >= 0) ::close(server);
            return;
        }
        m_pairs.push_back({client, server});
    }

    int m_upstream;
    std::string m_word;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_silent{false};
    std::vector<Pair> m_pairs;
    std::thread m_thread;
};
