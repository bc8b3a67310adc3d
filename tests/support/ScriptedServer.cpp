#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// A request head longer than this is not a request the scripts expect.
constexpr std::size_t kMaxRequestHead = 1024 * 1024;
// How long a graceful close keeps reading what the peer still sends, so
// that closing with unread bytes does not turn into a reset.
constexpr int kDrainMs = 1000;

}  // namespace

ScriptedServer::Step ScriptedServer::ReadRequest() {
  Step step;
  step.kind = Step::Kind::kReadRequest;
  return step;
}

ScriptedServer::Step ScriptedServer::Send(std::string bytes) {
  Step step;
  step.kind = Step::Kind::kSend;
  step.bytes = std::move(bytes);
  return step;
}

ScriptedServer::Step ScriptedServer::SendAndClose(std::string bytes) {
  Step step;
  step.kind = Step::Kind::kSendAndClose;
  step.bytes = std::move(bytes);
  return step;
}

ScriptedServer::Step ScriptedServer::Trickle(std::string bytes, std::size_t piece, int gap_ms) {
  Step step;
  step.kind = Step::Kind::kTrickle;
  step.bytes = std::move(bytes);
  step.piece = std::max<std::size_t>(piece, 1);
  step.milliseconds = gap_ms;
  return step;
}

ScriptedServer::Step ScriptedServer::Repeat(std::string bytes, std::uint64_t count) {
  Step step;
  step.kind = Step::Kind::kRepeat;
  step.bytes = std::move(bytes);
  step.count = count;
  return step;
}

ScriptedServer::Step ScriptedServer::Wait(int milliseconds) {
  Step step;
  step.kind = Step::Kind::kWait;
  step.milliseconds = milliseconds;
  return step;
}

ScriptedServer::Step ScriptedServer::Close() {
  Step step;
  step.kind = Step::Kind::kClose;
  return step;
}

ScriptedServer::Step ScriptedServer::Reset() {
  Step step;
  step.kind = Step::Kind::kReset;
  return step;
}

ScriptedServer::Step ScriptedServer::Answer(Responder responder) {
  Step step;
  step.kind = Step::Kind::kAnswer;
  step.responder = std::move(responder);
  return step;
}

ScriptedServer::Step ScriptedServer::Dispatch(Dispatcher dispatcher) {
  Step step;
  step.kind = Step::Kind::kDispatch;
  step.dispatcher = std::move(dispatcher);
  return step;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts)
    : ScriptedServer(std::move(scripts), Options()) {}

namespace {

std::vector<ScriptedServer::Script> RoutedScripts(const ScriptedServer::Router& route) {
  ScriptedServer::Script script;
  for (int i = 0; i < ScriptedServer::kRoutedRequests; ++i) {
    script.push_back(ScriptedServer::Dispatch(
        [route](const std::string& head) { return route(ScriptedServer::RequestTarget(head)); }));
  }
  return {script};
}

ScriptedServer::Options RoutedOptions(std::chrono::milliseconds lifetime) {
  ScriptedServer::Options options;
  options.lifetime = lifetime;
  options.repeat_last_script = true;
  return options;
}

}  // namespace

ScriptedServer::ScriptedServer(const Router& route, std::chrono::milliseconds lifetime)
    : ScriptedServer(RoutedScripts(route), RoutedOptions(lifetime)) {}

std::string ScriptedServer::RequestTarget(const std::string& head) {
  const std::size_t start = head.find(' ') + 1;
  return head.substr(start, head.find(' ', start) - start);
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, Options options)
    : scripts_(std::move(scripts)), options_(options) {
  end_of_life_ = Clock::now() + options_.lifetime;
  if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Stop();
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedServer::Stop() {
  if (!stopped_.exchange(true) && stop_pipe_[1] >= 0) {
    char byte = 1;
    (void)!::write(stop_pipe_[1], &byte, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
  for (int* fd : {&listener_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

std::vector<ScriptedServer::Request> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::RequestHeads() const {
  std::vector<std::string> heads;
  for (const Request& request : Requests()) heads.push_back(request.head);
  return heads;
}

bool ScriptedServer::WaitForScripts(int connections, std::chrono::milliseconds timeout) const {
  auto until = Clock::now() + timeout;
  while (Clock::now() < until) {
    if (accepted_.load() >= connections && running_.load() == 0) return true;
    if (!Sleep(5)) break;
  }
  return accepted_.load() >= connections && running_.load() == 0;
}

bool ScriptedServer::WaitFor(int fd, short events, int max_ms) const {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_of_life_ - Clock::now());
    if (left.count() <= 0) return false;
    int wait = static_cast<int>(left.count());
    if (max_ms >= 0) wait = std::min(wait, max_ms);
    pollfd entries[2] = {{stop_pipe_[0], POLLIN, 0}, {fd, events, 0}};
    int count = fd >= 0 ? 2 : 1;
    int ready = ::poll(entries, static_cast<nfds_t>(count), wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entries[0].revents != 0) return false;
    if (ready == 0) return false;
    return true;
  }
}

bool ScriptedServer::Sleep(int milliseconds) const {
  auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return true;
    // A wait on no socket ends only by time, stop or end of life.
    WaitFor(-1, 0, static_cast<int>(left.count()));
    if (stopped_.load() || Clock::now() >= end_of_life_) return false;
  }
}

void ScriptedServer::AcceptLoop() {
  while (WaitFor(listener_, POLLIN)) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    int index = accepted_.fetch_add(1);
    const Script* script = nullptr;
    if (index < static_cast<int>(scripts_.size())) {
      script = &scripts_[static_cast<std::size_t>(index)];
    } else if (options_.repeat_last_script && !scripts_.empty()) {
      script = &scripts_.back();
    }
    if (script == nullptr) {
      ::close(fd);
      continue;
    }
    running_.fetch_add(1);
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back([this, fd, index, script] { Play(fd, index, *script); });
  }
}

void ScriptedServer::Play(int fd, int index, const Script& script) {
  std::string pending;
  char buffer[65536];

  auto send_all = [&](const char* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
      ssize_t count = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (count > 0) {
        sent += static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitFor(fd, POLLOUT)) return false;
      } else {
        return false;
      }
    }
    return true;
  };

  auto read_head = [&](std::string* head) {
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      if (pending.size() > kMaxRequestHead || !WaitFor(fd, POLLIN)) return false;
      ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
      if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (count <= 0) return false;
      pending.append(buffer, static_cast<std::size_t>(count));
    }
    *head = pending.substr(0, end + 4);
    pending.erase(0, end + 4);
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(Request{index, *head});
    return true;
  };

  auto close_gracefully = [&] {
    // Send the end of stream first, then read until the peer closes too:
    // closing with unread bytes would reset the connection instead.
    ::shutdown(fd, SHUT_WR);
    auto until = Clock::now() + std::chrono::milliseconds(kDrainMs);
    while (Clock::now() < until) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (!WaitFor(fd, POLLIN, static_cast<int>(left.count()))) break;
      ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
      if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (count <= 0) break;
    }
    ::close(fd);
    fd = -1;
  };

  bool going = true;
  // Dispatched steps are played in place, so this calls itself.
  std::function<void(const Script&)> play_steps = [&](const Script& steps) {
    for (const Step& step : steps) {
      if (!going || fd < 0) break;
      switch (step.kind) {
        case Step::Kind::kReadRequest: {
          std::string head;
          going = read_head(&head);
          break;
        }
        case Step::Kind::kAnswer: {
          std::string head;
          going = read_head(&head);
          if (going) {
            std::string answer = step.responder(head);
            going = send_all(answer.data(), answer.size());
          }
          break;
        }
        case Step::Kind::kDispatch: {
          std::string head;
          going = read_head(&head);
          if (going) play_steps(step.dispatcher(head));
          break;
        }
        case Step::Kind::kSend:
          going = send_all(step.bytes.data(), step.bytes.size());
          break;
        case Step::Kind::kSendAndClose: {
          // Corked, the last bytes wait for the end of stream, which the
          // shutdown of the graceful close appends to them.
          int on = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
          going = send_all(step.bytes.data(), step.bytes.size());
          if (going) close_gracefully();
          break;
        }
        case Step::Kind::kTrickle:
          for (std::size_t offset = 0; going && offset < step.bytes.size(); offset += step.piece) {
            if (offset > 0) going = Sleep(step.milliseconds);
            if (going)
              going = send_all(step.bytes.data() + offset,
                               std::min(step.piece, step.bytes.size() - offset));
          }
          break;
        case Step::Kind::kRepeat:
          for (std::uint64_t i = 0; going && i < step.count; ++i)
            going = send_all(step.bytes.data(), step.bytes.size());
          break;
        case Step::Kind::kWait:
          going = Sleep(step.milliseconds);
          break;
        case Step::Kind::kClose:
          close_gracefully();
          break;
        case Step::Kind::kReset: {
          linger option{1, 0};
          ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
          ::close(fd);
          fd = -1;
          break;
        }
      }
    }
  };
  play_steps(script);
  if (fd >= 0) {
    if (stopped_.load()) {
      ::close(fd);
    } else {
      close_gracefully();
    }
  }
  running_.fetch_sub(1);
}

}  // namespace testing_support
