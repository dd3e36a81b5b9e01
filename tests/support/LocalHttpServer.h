// SPDX-License-Identifier: GPL-2.0-or-later
// A small HTTP server on 127.0.0.1 for tests: it answers GET requests from a
// table of paths, or holds every connection open without answering.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

class LocalHttpServer {
public:
  // Listens on a free port of 127.0.0.1 at once.
  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // 200 with the body for that path; other paths get 404.
  void Serve(const std::string& path, const std::string& body);
  // Connections are accepted and their requests read, but never answered.
  void HoldAnswers();

  std::string Url(const std::string& path) const;
  // The paths requested so far, in order.
  std::vector<std::string> Requests() const;
  // Waits until `count` requests have arrived; false after a generous while.
  bool WaitForRequests(size_t count) const;

  // A port of 127.0.0.1 on which nothing listens.
  static uint16_t ClosedPort();

private:
  void Run();
  void Answer(int connection);

  int Listener = -1;
  uint16_t Port = 0;
  std::atomic<bool> Stop{false};
  mutable std::mutex Lock;
  mutable std::condition_variable Arrived;
  std::map<std::string, std::string> Bodies;
  bool Holding = false;
  std::vector<int> HeldConnections;
  std::vector<std::string> Paths;
  std::thread Worker;
};

} // namespace quillo::test
