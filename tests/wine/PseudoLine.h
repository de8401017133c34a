// A serial line for Wine's COM port: a pseudo-terminal, raw at 4800 baud,
// whose other end the test holds as the receiver. What the receiver sends is
// paced as a line carries it and begins when a program opens the line, so
// nothing piles up before and no burst follows.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace winetest {

class PseudoLine {
 public:
  PseudoLine();
  ~PseudoLine();
  bool Open() const { return master_ >= 0; }
  // The terminal's host path, for BindPort.
  const std::string& Path() const { return path_; }

  // Bytes waiting in the line when the program opens it.
  bool Send(const std::string& bytes);
  // Sends the bytes from the first open of the line on, bytesPerTenth every
  // tenth of a second, on a thread of its own; before the first part,
  // ready(), when given, may hold the sending back; after each part,
  // sent(bytes sent so far), when given, may hold the next part back.
  void SendWhenOpened(const std::string& bytes, size_t bytesPerTenth, std::function<void(size_t)> sent = nullptr,
                      std::function<void()> ready = nullptr);
  // Everything programs wrote to the line so far.
  std::string Written();

 private:
  int master_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread sender_;
};

}  // namespace winetest
