// A TCP server on 127.0.0.1 that plays a fixed script on each connection it
// accepts: read a request head (recording its exact bytes), send bytes, send
// them slowly or over and over, wait, close, reset, or answer a request with
// bytes or steps computed from it. It stands in for the web hosts in tests: well-behaved, broken or
// hostile, byte for byte as the test says.
//
// The server is bounded in time: after its lifetime it closes everything by
// itself, and the destructor stops it at once. Every wait inside it is cut
// short by either.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ScriptedServer {
 public:
  // Computes an answer from the request head it answers.
  using Responder = std::function<std::string(const std::string& request_head)>;

  struct Step;
  using Script = std::vector<Step>;
  // Computes the steps that answer a request head.
  using Dispatcher = std::function<Script(const std::string& request_head)>;

  struct Step {
    enum class Kind {
      kReadRequest,
      kSend,
      kSendAndClose,
      kTrickle,
      kRepeat,
      kWait,
      kClose,
      kReset,
      kAnswer,
      kDispatch
    };
    Kind kind = Kind::kClose;
    std::string bytes;
    std::size_t piece = 0;
    std::uint64_t count = 0;
    int milliseconds = 0;
    Responder responder;
    Dispatcher dispatcher;
  };

  // Reads up to and including the empty line that ends a request head and
  // records those bytes. A peer that closes first ends the script.
  static Step ReadRequest();
  // Sends the bytes in one go.
  static Step Send(std::string bytes);
  // Sends the bytes and closes gracefully with the end of stream in the
  // segment of their last bytes, so that the peer never sees the answer
  // without the close (as it may after Send and Close under load).
  static Step SendAndClose(std::string bytes);
  // Sends the bytes piece bytes at a time with gap_ms between the pieces.
  static Step Trickle(std::string bytes, std::size_t piece, int gap_ms);
  // Sends the bytes count times back to back: a stream far longer than
  // anything held in memory. A peer that goes away ends the script.
  static Step Repeat(std::string bytes, std::uint64_t count);
  static Step Wait(int milliseconds);
  // Closes the connection gracefully (the peer reads end of stream).
  static Step Close();
  // Closes with a reset (SO_LINGER 0): the peer's next read fails.
  static Step Reset();
  // ReadRequest, then sends responder(head).
  static Step Answer(Responder responder);
  // ReadRequest, then plays the steps dispatcher(head) returns.
  static Step Dispatch(Dispatcher dispatcher);

  struct Options {
    // The server closes everything and stops after this long.
    std::chrono::milliseconds lifetime{10000};
    // Connections beyond the scripts given play the last script again;
    // otherwise they are closed at once.
    bool repeat_last_script = false;
  };

  struct Request {
    int connection = 0;  // 0 for the first connection accepted
    std::string head;    // exact bytes, up to and including CR LF CR LF
  };

  // Binds 127.0.0.1 on an ephemeral port and starts serving. The i-th
  // accepted connection plays scripts[i]. A connection whose script ends
  // without Close or Reset is closed gracefully.
  explicit ScriptedServer(std::vector<Script> scripts);
  ScriptedServer(std::vector<Script> scripts, Options options);

  // Answers what a route gives for a request target.
  using Router = std::function<Script(const std::string& target)>;
  // A server that answers every request on every connection (up to
  // kRoutedRequests a connection) with the steps route(target) gives, until
  // lifetime ends.
  static constexpr int kRoutedRequests = 64;
  ScriptedServer(const Router& route, std::chrono::milliseconds lifetime);

  // The target of a request head ("/a.png" of "GET /a.png HTTP/1.1...").
  static std::string RequestTarget(const std::string& head);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path = "/") const;

  // The request heads read so far, in the order they were read.
  std::vector<Request> Requests() const;
  std::vector<std::string> RequestHeads() const;
  // Connections accepted so far.
  int Accepted() const { return accepted_.load(); }

  // Waits until every script started so far has ended and at least
  // connections connections were accepted, or timeout passes; true when
  // they had.
  bool WaitForScripts(int connections, std::chrono::milliseconds timeout) const;

  // Stops at once: closes the listener and every connection, joins.
  void Stop();

 private:
  void AcceptLoop();
  // Plays script on the accepted socket fd, the index-th connection.
  void Play(int fd, int index, const Script& script);
  // Waits for fd to become readable (or writable); false when the server
  // stops or its lifetime ends first.
  bool WaitFor(int fd, short events, int max_ms = -1) const;
  bool Sleep(int milliseconds) const;

  std::vector<Script> scripts_;
  Options options_;
  std::chrono::steady_clock::time_point end_of_life_;
  int listener_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<int> running_{0};
  std::atomic<bool> stopped_{false};

  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace testing_support
