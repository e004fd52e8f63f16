// A loopback TCP relay that holds every byte for a fixed time each way: PostgreSQL "across a
// network" on one machine. Each connection gets a reader and a writer per direction; data keeps
// its order and leaves `delay` after it arrived.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kvtbench {

class DelayProxy {
 public:
  /// Listens on a free loopback port and relays to 127.0.0.1:`target_port`.
  DelayProxy(int target_port, std::chrono::milliseconds delay)
      : target_port_(target_port), delay_(delay) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
      throw std::runtime_error("delay proxy: cannot listen");
    }
    port_ = ntohs(at.sin_port);
    accepter_ = std::thread([this] { Accept(); });
  }
  ~DelayProxy() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    accepter_.join();
    for (auto& l : links_) l->Stop();
    links_.clear();
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }

 private:
  using Clock = std::chrono::steady_clock;

  // One direction: bytes read from `from` are written to `to` `delay` later.
  struct Pipe {
    int from, to;
    std::chrono::milliseconds delay;
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    bool closed = false;
    std::thread reader, writer;

    void Start() {
      reader = std::thread([this] {
        char buffer[65536];
        for (;;) {
          const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
          std::lock_guard lock(m);
          if (n <= 0) {
            closed = true;
            cv.notify_all();
            return;
          }
          queue.emplace_back(Clock::now() + delay,
                             std::string(buffer, static_cast<std::size_t>(n)));
          cv.notify_all();
        }
      });
      writer = std::thread([this] {
        for (;;) {
          std::unique_lock lock(m);
          cv.wait(lock, [&] { return closed || !queue.empty(); });
          if (queue.empty()) {
            ::shutdown(to, SHUT_WR);
            return;
          }
          auto [when, bytes] = std::move(queue.front());
          queue.pop_front();
          lock.unlock();
          std::this_thread::sleep_until(when);
          for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
          }
        }
      });
    }
    void Join() {
      reader.join();
      writer.join();
    }
  };

  struct Link {
    int client, server;
    Pipe up, down;
    Link(int c, int s, std::chrono::milliseconds delay)
        : client(c), server(s), up{c, s, delay, {}, {}, {}, false, {}, {}}, down{s,     c,  delay,
                                                                                 {},    {}, {},
                                                                                 false, {}, {}} {
      up.Start();
      down.Start();
    }
    void Stop() {
      ::shutdown(client, SHUT_RDWR);
      ::shutdown(server, SHUT_RDWR);
      up.Join();
      down.Join();
      ::close(client);
      ::close(server);
    }
  };

  void Accept() {
    while (!stop_) {
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      const int server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(static_cast<std::uint16_t>(target_port_));
      if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      const int on = 1;  // small messages leave at once, as on a real network
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      links_.push_back(std::make_unique<Link>(client, server, delay_));
    }
  }

  int target_port_;
  std::chrono::milliseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread accepter_;
  std::vector<std::unique_ptr<Link>> links_;  // touched by the accepter until it stops
};

}  // namespace kvtbench
