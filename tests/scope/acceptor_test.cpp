// The acceptor every server of the scope admits its connections through:
// places are bounded, the connection silent longest gives way unless busy
// or not silent long enough, a refused one reads the refusal, a connection
// moves between kinds of places, and Stop ends every connection. Clients
// and server on loopback, each client answered byte by byte so that the
// order of who was heard last is the test's.
#include "net/acceptor.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace rk350::scope {
namespace {

using namespace std::chrono_literals;

// A connected client socket; closed at the end.
class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { ::close(fd_); }
  // Sends one byte; the server's answer to it, 0 when none came.
  char Ask(char c) {
    char back = 0;
    const bool ok = connected_ && ::send(fd_, &c, 1, MSG_NOSIGNAL) == 1 && WaitFor(fd_, POLLIN, 5s) &&
                    ::recv(fd_, &back, 1, 0) == 1;
    return ok ? back : 0;
  }
  // The server echoes the byte once it has heard it.
  bool Say(char c) { return Ask(c) == c; }
  // What the server sent until it closed the connection (within 5 s).
  std::string ReadToClose() {
    std::string got;
    char buffer[256];
    while (WaitFor(fd_, POLLIN, 5s)) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return got;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got + "<still open>";
  }
  bool Closed() { return ReadToClose().empty(); }

 private:
  int fd_;
  bool connected_ = false;
};

// Echoes each byte after marking the connection heard; 'b' makes it busy,
// 'm' moves it to the second kind of place ('y' or 'n' answers whether it could).
class Server {
 public:
  Server(std::vector<PlaceRule> rules, std::string refusal = "no place\n") : acceptor_(std::move(rules)) {
    std::string error;
    port_ = acceptor_.Listen("127.0.0.1", 0, {.refusal = std::move(refusal)}, error);
    EXPECT_GT(port_, 0) << error;
    thread_ = std::thread([this] {
      acceptor_.Run([this](Connection& c) {
        char b;
        while (::recv(c.Fd(), &b, 1, 0) == 1) {
          c.Heard();
          if (b == 'b') c.SetBusy(true);
          if (b == 'm') b = acceptor_.Move(c, 1) ? 'y' : 'n';
          ::send(c.Fd(), &b, 1, MSG_NOSIGNAL);
        }
      });
      ran_ = true;
    });
  }
  ~Server() { Stop(); }
  void Stop() {
    acceptor_.Stop();
    if (thread_.joinable()) thread_.join();
  }
  int Port() const { return port_; }
  bool Ran() const { return ran_; }

 private:
  Acceptor acceptor_;
  int port_ = -1;
  std::atomic<bool> ran_{false};
  std::thread thread_;
};

TEST(Acceptor, WhenFullTheConnectionSilentLongestGivesWayUnlessBusy) {
  Server server({{.count = 2, .evictAfter = 0ms}});
  Client a(server.Port()), b(server.Port());
  ASSERT_TRUE(a.Say('x'));
  ASSERT_TRUE(b.Say('x'));
  ASSERT_TRUE(a.Say('x'));  // now b is the silent one
  Client c(server.Port());
  ASSERT_TRUE(c.Say('x'));
  EXPECT_TRUE(b.Closed());
  ASSERT_TRUE(a.Say('b'));
  ASSERT_TRUE(c.Say('b'));
  Client d(server.Port());  // both busy: refused, with the refusal to read
  EXPECT_EQ(d.ReadToClose(), "no place\n");
  EXPECT_TRUE(a.Say('x'));
  EXPECT_TRUE(c.Say('x'));
}

TEST(Acceptor, OnlyASilenceOfTheRulesLengthMakesRoom) {
  Server server({{.count = 1, .evictAfter = 300ms}});
  Client a(server.Port());
  ASSERT_TRUE(a.Say('x'));
  Client early(server.Port());
  EXPECT_EQ(early.ReadToClose(), "no place\n");
  std::this_thread::sleep_for(400ms);
  Client late(server.Port());
  EXPECT_TRUE(late.Say('x'));
  EXPECT_TRUE(a.Closed());
}

TEST(Acceptor, WithoutEvictionANewcomerIsRefused) {
  Server server({{.count = 1}}, "");
  Client a(server.Port());
  ASSERT_TRUE(a.Say('x'));
  std::this_thread::sleep_for(100ms);
  Client b(server.Port());
  EXPECT_TRUE(b.Closed());
  EXPECT_TRUE(a.Say('x'));
}

TEST(Acceptor, AConnectionMovesToAnotherKindOfPlaceIfOneIsFreeOrMadeFree) {
  Server server({{.count = 4, .evictAfter = 0ms}, {.count = 1, .evictAfter = 300ms}});
  Client a(server.Port()), b(server.Port());
  ASSERT_EQ(a.Ask('m'), 'y');
  EXPECT_EQ(b.Ask('m'), 'n') << "the place is a's, not silent long enough";
  EXPECT_TRUE(b.Say('x')) << "b keeps its first place";
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(b.Ask('m'), 'y') << "a was silent long enough to give way";
  EXPECT_TRUE(a.Closed());
}

TEST(Acceptor, StopEndsEveryConnectionAndRun) {
  Server server(std::vector<PlaceRule>{{.count = 8}});
  Client a(server.Port()), b(server.Port());
  ASSERT_TRUE(a.Say('b'));
  ASSERT_TRUE(b.Say('x'));
  server.Stop();
  EXPECT_TRUE(server.Ran());
  EXPECT_TRUE(a.Closed());
  EXPECT_TRUE(b.Closed());
}

}  // namespace
}  // namespace rk350::scope
