// SPDX-License-Identifier: GPL-2.0-or-later
#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace quillo::test {

namespace {

constexpr int kPollMs = 50;
constexpr int kBacklog = 8;
constexpr size_t kMaxRequestBytes = 16384;
constexpr auto kGenerousWait = std::chrono::seconds(30);

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Binds a socket to a free loopback port; returns the socket and the port.
int BindLoopback(uint16_t& port) {
  int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketFd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(socketFd);
    throw std::runtime_error("bind failed");
  }
  port = ntohs(address.sin_port);
  return socketFd;
}

bool WaitReadable(int fd, const std::atomic<bool>& stop) {
  pollfd entry{fd, POLLIN, 0};
  while (!stop.load()) {
    int ready = ::poll(&entry, 1, kPollMs);
    if (ready > 0) return true;
    if (ready < 0) return false;
  }
  return false;
}

void SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += size_t(n);
  }
}

} // namespace

LocalHttpServer::LocalHttpServer() {
  Listener = BindLoopback(Port);
  if (::listen(Listener, kBacklog) != 0) {
    ::close(Listener);
    throw std::runtime_error("listen failed");
  }
  Worker = std::thread([this] { Run(); });
}

LocalHttpServer::~LocalHttpServer() {
  Stop = true;
  Worker.join();
  for (int held : HeldConnections) ::close(held);
  ::close(Listener);
}

void LocalHttpServer::Serve(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> guard(Lock);
  Bodies[path] = body;
}

void LocalHttpServer::HoldAnswers() {
  std::lock_guard<std::mutex> guard(Lock);
  Holding = true;
}

std::string LocalHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(Port) + path;
}

std::vector<std::string> LocalHttpServer::Requests() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Paths;
}

bool LocalHttpServer::WaitForRequests(size_t count) const {
  std::unique_lock<std::mutex> lock(Lock);
  return Arrived.wait_for(lock, kGenerousWait, [&] { return Paths.size() >= count; });
}

uint16_t LocalHttpServer::ClosedPort() {
  // Bound but never listening: connections are refused.
  uint16_t port = 0;
  int socketFd = BindLoopback(port);
  ::close(socketFd);
  return port;
}

void LocalHttpServer::Run() {
  while (WaitReadable(Listener, Stop)) {
    int connection = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0) Answer(connection);
  }
}

void LocalHttpServer::Answer(int connection) {
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
    if (!WaitReadable(connection, Stop)) break;
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, size_t(n));
  }
  // "GET /path HTTP/1.1"
  size_t start = request.find(' ');
  size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
  std::string path = end == std::string::npos ? "" : request.substr(start + 1, end - start - 1);

  std::string reply;
  {
    std::lock_guard<std::mutex> guard(Lock);
    Paths.push_back(path);
    Arrived.notify_all();
    if (Holding) {
      HeldConnections.push_back(connection);
      return;
    }
    auto found = Bodies.find(path);
    if (found == Bodies.end()) {
      reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    } else {
      reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
              std::to_string(found->second.size()) + "\r\nConnection: close\r\n\r\n" + found->second;
    }
  }
  SendAll(connection, reply);
  ::close(connection);
}

} // namespace quillo::test
