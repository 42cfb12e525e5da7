// Remote requests: the wire format against garbage, the server and client over real Unix sockets in a private
// temporary runtime folder, what each request does to a session on the fake platform, and quillet-cli's commands.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "manual_loop.h"
#include "model/cp949.h"
#include "platform/fake/fake_platform.h"
#include "remote/endpoint.h"
#include "remote/protocol.h"
#include "remote/remote_client.h"
#include "remote/remote_commands.h"
#include "remote/remote_server.h"
#include "session/event_loop.h"
#include "session/session.h"

namespace quillet::remote {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// --- The wire format ------------------------------------------------------------------------------------------------

TEST(RemoteProtocol, EveryRequestRoundTripsAndParsesBackToTheSameBytes) {
    const std::vector<Request> requests = {
        {Command::Show, ""},
        {Command::Status, ""},
        {Command::StopAll, ""},
        {Command::Start, "one"},
        {Command::Stop, "두 번째 매크로"},
        {Command::Mode, "run"},
        {Command::Mode, "edit"},
        {Command::Start, std::string(4000, 'x')},
    };
    for (const Request& r : requests) {
        const std::optional<std::string> bytes = FormatRequest(r);
        ASSERT_TRUE(bytes) << CommandName(r.command);
        EXPECT_EQ(ParseRequest(*bytes), r) << *bytes;
    }
    EXPECT_EQ(*FormatRequest({Command::Start, "a b"}), "quillet1\tstart\ta b\n");
    // The longest request that fits, and one byte more.
    const std::size_t room = kMaxRequestBytes - std::string("quillet1\tstart\t\n").size();
    EXPECT_TRUE(FormatRequest({Command::Start, std::string(room, 'n')}));
    EXPECT_FALSE(FormatRequest({Command::Start, std::string(room + 1, 'n')}));
}

TEST(RemoteProtocol, AnythingButOneWellFormedRequestIsNotARequest) {
    const std::string tooLong = "quillet1\tstart\t" + std::string(kMaxRequestBytes, 'x') + "\n";
    const std::vector<std::string> garbage = {
        "",
        "\n",
        "quillet1\n",
        "quillet1\tstatus",           // no line end
        "quillet1\tstatus\r\n",       // CR is a control character in the command word
        "quillet1\tstatus\n\n",       // a second line
        "quillet1\tstatus\nstatus\n", // two requests
        "quillet1\tstatus\t\n",
        "quillet1\tstatus\tx\n", // an argument where none belongs
        "quillet1\tshow\tnow\n",
        "quillet1\tstart\n", // a name missing
        "quillet1\tstart\t\n",
        "quillet1\tstart\ta\tb\n", // TAB inside the name
        "quillet1\tstart\ta\rb\n",
        std::string("quillet1\tstart\ta\0b\n", 19),
        "quillet1\tstart\t\xff\n",         // not UTF-8
        "quillet1\tstart\t\xc0\xaf\n",     // overlong '/'
        "quillet1\tstart\t\xed\xa0\x80\n", // a surrogate
        "quillet1\tstart\t\xe2\x82\n",     // cut inside a character
        "quillet1\tmode\tfly\n",
        "quillet1\tmode\tRUN\n",
        "quillet1\tSTATUS\n",
        "quillet1\tstop all\n",
        "quillet2\tstatus\n",
        "quillet1 status\n",
        "quillet1status\n",
        "status\n",
        "GET / HTTP/1.0\r\n",
        tooLong,
    };
    for (const std::string& g : garbage) EXPECT_FALSE(ParseRequest(g)) << '"' << g << '"';
    // The client refuses to send what the server would drop.
    EXPECT_FALSE(FormatRequest({Command::Start, ""}));
    EXPECT_FALSE(FormatRequest({Command::Start, "two\nlines"}));
    EXPECT_FALSE(FormatRequest({Command::Status, "extra"}));
    EXPECT_FALSE(FormatRequest({Command::Mode, "fly"}));
    EXPECT_FALSE(FormatRequest({Command::Stop, "\xff"}));
}

TEST(RemoteProtocol, RandomDamageNeverYieldsARequestThatIsNotItsOwnCanonicalForm) {
    // Whatever the parser accepts it must give back byte for byte: no two byte strings mean the same request, and
    // nothing is accepted by being read loosely.
    std::mt19937 random(1234);
    const std::vector<std::string> seeds = {*FormatRequest({Command::Start, "매크로 1"}),
                                            *FormatRequest({Command::Mode, "edit"}),
                                            *FormatRequest({Command::StopAll, ""})};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % (bytes.size() + 1);
            switch (random() % 3) {
            case 0:
                if (at < bytes.size()) bytes[at] = static_cast<char>(random() % 256);
                break;
            case 1:
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(random() % 256));
                break;
            default:
                if (at < bytes.size()) bytes.erase(at, 1);
                break;
            }
        }
        const std::optional<Request> r = ParseRequest(bytes);
        if (!r) continue;
        ++accepted;
        EXPECT_EQ(FormatRequest(*r), bytes);
    }
    EXPECT_GT(accepted, 0); // changed names are still names
}

TEST(RemoteProtocol, RepliesCarryTheirLengthAndAreCutAtACharacterBoundary) {
    for (const Reply& r : {Reply{ReplyStatus::Done, ""}, Reply{ReplyStatus::Refused, "no macro named '하나'"},
                           Reply{ReplyStatus::Done, "mode: run\nrunning: a\nrunning: b\n"}}) {
        const std::string bytes = FormatReply(r);
        EXPECT_EQ(ReplySize(bytes), bytes.size());
        EXPECT_EQ(ParseReply(bytes), r);
        // Every prefix of the header is "not yet"; with the header in, the size is known.
        const std::size_t lf = bytes.find('\n');
        for (std::size_t n = 0; n < lf; ++n) EXPECT_FALSE(ReplySize(bytes.substr(0, n))) << n;
        EXPECT_FALSE(ParseReply(bytes.substr(0, bytes.size() - 1)) && !r.text.empty());
        EXPECT_FALSE(ParseReply(bytes + "x"));
    }
    EXPECT_EQ(FormatReply({ReplyStatus::Refused, "why"}), "quillet1\t1\t3\nwhy");

    // 3-byte characters: the cut must not leave half of one.
    const std::string korean = [] {
        std::string s;
        while (s.size() < kMaxReplyText + 10) s += "가";
        return s;
    }();
    const std::optional<Reply> cut = ParseReply(FormatReply({ReplyStatus::Done, korean}));
    ASSERT_TRUE(cut);
    EXPECT_LE(cut->text.size(), kMaxReplyText);
    EXPECT_GT(cut->text.size(), kMaxReplyText - 3);
    EXPECT_TRUE(IsValidUtf8(cut->text));

    // Headers that can never be right are given up at once, not waited for.
    for (const std::string& bad :
         {std::string("HTTP/1.0 200 OK\n"), std::string("quillet1\t2\t0\n"), std::string("quillet1\t0\t-1\n"),
          std::string("quillet1\t0\t\n"), std::string("quillet1\t0\t99999999999\n"),
          "quillet1\t0\t" + std::to_string(kMaxReplyText + 1) + "\n", std::string(kMaxReplyHeader, 'q')})
        EXPECT_EQ(ReplySize(bad), 0u) << bad;
    EXPECT_FALSE(ParseReply("quillet1\t0\t1\n\xff"));
}

// --- Endpoints -------------------------------------------------------------------------------------------------------

TEST(RemoteEndpoint, EachFolderHasItsOwnSocketThatFitsAUnixSocketAddress) {
    const std::string dir = "/run/user/1000";
    EXPECT_EQ(SocketPathIn(dir, "/home/ann/macros"), dir + "/quillet-_home_ann_macros.sock");
    EXPECT_EQ(SocketPathIn(dir, "/home/ann/macros/"), SocketPathIn(dir, "/home/ann/macros"));
    EXPECT_EQ(SocketPathIn(dir, "/home/ann/./macros"), SocketPathIn(dir, "/home/ann/macros"));
    // Names that a loose escaping would merge stay apart.
    const std::vector<std::string> folders = {"/a/b",
                                              "/a_b",
                                              "/a%5Fb",
                                              "/a b",
                                              "/a/b/",
                                              "/",
                                              "/매크로",
                                              "/" + std::string(200, 'x'),
                                              "/" + std::string(201, 'x')};
    std::vector<std::string> paths;
    for (const std::string& f : folders) {
        const std::string p = SocketPathIn(dir, f);
        EXPECT_LT(p.size(), sizeof(sockaddr_un{}.sun_path)) << f;
        EXPECT_EQ(p.rfind(dir + "/quillet-", 0), 0u) << p;
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
    }
    EXPECT_EQ(paths.size(), folders.size() - 1); // "/a/b/" is "/a/b"
    EXPECT_EQ(SocketPathIn(dir, "/" + std::string(200, 'x')).find("quillet-h"), dir.size() + 1);
}

// A private runtime folder of the test's own, as XDG_RUNTIME_DIR, for the tests that go through EndpointForFolder.
class RuntimeFolder {
public:
    RuntimeFolder() {
        // Short: the socket's whole path must fit a Unix socket address.
        static int made = 0;
        root = fs::temp_directory_path() / ("qr-" + std::to_string(getpid()) + "-" + std::to_string(++made));
        fs::remove_all(root);
        fs::create_directories(root / "work");
        runtime = (root / "rt").string();
        fs::create_directory(runtime);
        chmod(runtime.c_str(), 0700);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old != nullptr) previous = old;
        hadPrevious = old != nullptr;
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~RuntimeFolder() {
        if (hadPrevious)
            setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        fs::remove_all(root);
    }
    fs::path work() const { return fs::canonical(root / "work"); }
    Endpoint endpoint() const {
        std::string problem;
        return *EndpointForFolder(work(), problem);
    }

    fs::path root;
    std::string runtime;
    std::string previous;
    bool hadPrevious = false;
};

TEST(RemoteEndpoint, TheRuntimeFolderIsThePrivateXdgRuntimeDir) {
    RuntimeFolder folder;
    std::string problem;
    const std::optional<Endpoint> e = EndpointForFolder(folder.work(), problem);
    ASSERT_TRUE(e) << problem;
    EXPECT_EQ(e->address, SocketPathIn(folder.runtime, folder.work()));
}

// --- Server and client ------------------------------------------------------------------------------------------

// A ThreadEventLoop on a thread of its own, as the session's loop; remembers the thread.
class LoopThread {
public:
    LoopThread() {
        thread_ = std::thread([this] {
            id_ = std::this_thread::get_id();
            started_ = true;
            loop.RunUntil([this] { return done_.load(); });
        });
        while (!started_) std::this_thread::yield();
    }
    ~LoopThread() {
        done_ = true;
        loop.Post([] {});
        thread_.join();
    }
    std::thread::id id() const { return id_; }

    ThreadEventLoop loop;

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> started_{false};
    std::thread::id id_;
    std::thread thread_;
};

// Handles requests by echoing them, on the loop's thread, and counts them.
struct EchoHandler {
    Reply operator()(const Request& r) {
        std::lock_guard lock(mutex);
        requests.push_back(r);
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
        return {r.command == Command::Mode ? ReplyStatus::Refused : ReplyStatus::Done,
                std::string(CommandName(r.command)) + ":" + r.argument};
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return requests.size();
    }
    std::mutex mutex;
    std::vector<Request> requests;
    std::thread::id loopThread;
    bool onLoopThread = true;
};

// A raw connection, for clients that misbehave.
int RawConnect(const Endpoint& e) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, e.address.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// What the server sends before it closes the connection, waiting up to 10 s; "<open>" if it never closes.
std::string ReadUntilClosed(int fd) {
    std::string got;
    char buffer[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return "<open>";
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return got;
        got.append(buffer, static_cast<std::size_t>(n));
    }
}

class RemoteServerTest : public ::testing::Test {
protected:
    RemoteServer::Handler Handler() {
        echo.loopThread = loop.id();
        return [this](const Request& r) { return echo(r); };
    }
    ClientResult Send(const Request& r, std::chrono::milliseconds timeout = 5000ms) {
        return SendRequest(folder.endpoint(), r, timeout);
    }

    RuntimeFolder folder;
    LoopThread loop;
    EchoHandler echo;
};

TEST_F(RemoteServerTest, AnswersEachRequestFromTheLoopThreadAndRemovesItsSocketAtTheEnd) {
    const Endpoint e = folder.endpoint();
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::NotRunning);
    {
        RemoteServer server(e, loop.loop, Handler());
        ASSERT_TRUE(server.listening()) << server.problem();
        struct stat st {};
        ASSERT_EQ(lstat(e.address.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        ClientResult r = Send({Command::Start, "매크로"});
        ASSERT_EQ(r.outcome, ClientOutcome::Answered) << r.problem;
        EXPECT_EQ(r.reply, (Reply{ReplyStatus::Done, "start:매크로"}));
        r = Send({Command::Mode, "edit"});
        ASSERT_EQ(r.outcome, ClientOutcome::Answered) << r.problem;
        EXPECT_EQ(r.reply.status, ReplyStatus::Refused);
        EXPECT_TRUE(echo.onLoopThread);

        // A second server for the same folder does not take the endpoint from the one that answers.
        RemoteServer second(e, loop.loop, Handler());
        EXPECT_FALSE(second.listening());
        EXPECT_NE(second.problem().find("answers"), std::string::npos) << second.problem();
    }
    EXPECT_FALSE(fs::exists(e.address));
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::NotRunning);
}

TEST_F(RemoteServerTest, ASocketLeftByAProgramThatEndedMeansNothingRunsAndIsReplaced) {
    const Endpoint e = folder.endpoint();
    // Bound and closed without removing it, as a killed program leaves it.
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, e.address.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        close(fd);
    }
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::NotRunning);
    RemoteServer server(e, loop.loop, Handler());
    ASSERT_TRUE(server.listening()) << server.problem();
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::Answered);
}

TEST_F(RemoteServerTest, SilentHalfSentAndNonReadingClientsHoldUpNoOneAndAreDroppedAtTheDeadline) {
    RemoteServerOptions options;
    options.requestDeadline = 1500ms;
    RemoteServer server(folder.endpoint(), loop.loop, Handler(), options);
    ASSERT_TRUE(server.listening()) << server.problem();
    const int silent = RawConnect(folder.endpoint());
    const int halfSent = RawConnect(folder.endpoint());
    const int deaf = RawConnect(folder.endpoint()); // sends a request, never reads
    ASSERT_GE(silent, 0);
    ASSERT_EQ(write(halfSent, "quillet1\tsta", 12), 12);
    const std::string request = *FormatRequest({Command::StopAll, ""});
    ASSERT_EQ(write(deaf, request.data(), request.size()), static_cast<ssize_t>(request.size()));

    // Each in less than the deadline, all of them in less than the deadline: served while the others hang.
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        const ClientResult r = Send({Command::Stop, "m" + std::to_string(i)}, 1000ms);
        ASSERT_EQ(r.outcome, ClientOutcome::Answered) << i << ": " << r.problem;
        EXPECT_EQ(r.reply.text, "stop:m" + std::to_string(i));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, options.requestDeadline);
    EXPECT_EQ(ReadUntilClosed(silent), "");
    EXPECT_EQ(ReadUntilClosed(halfSent), "");
    close(silent);
    close(halfSent);
    close(deaf);
    EXPECT_EQ(echo.count(), 6u); // the five and the deaf client's stop-all
}

TEST_F(RemoteServerTest, AClientBeyondTheLimitWaitsUntilASilentOneIsDropped) {
    RemoteServerOptions options;
    options.maxConnections = 2;
    options.requestDeadline = 400ms;
    RemoteServer server(folder.endpoint(), loop.loop, Handler(), options);
    ASSERT_TRUE(server.listening()) << server.problem();
    const int first = RawConnect(folder.endpoint());
    const int second = RawConnect(folder.endpoint());
    const auto begin = std::chrono::steady_clock::now();
    const ClientResult r = Send({Command::Status, ""}, 5000ms);
    EXPECT_EQ(r.outcome, ClientOutcome::Answered) << r.problem;
    // Not turned away while the two held every place: it waited for the first of them to be dropped.
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    close(first);
    close(second);
}

TEST_F(RemoteServerTest, GarbageAndOversizedRequestsAreDroppedWithoutEffect) {
    RemoteServer server(folder.endpoint(), loop.loop, Handler());
    ASSERT_TRUE(server.listening()) << server.problem();
    const std::string valid = *FormatRequest({Command::StopAll, ""});
    const std::vector<std::string> sends = {
        "GET / HTTP/1.1\r\nHost: x\r\n\r\n",
        "quillet1\tformat\tc:\n",
        valid + valid, // two requests on one connection
        valid + "x",
        "quillet1\tstart\t" + std::string(1 << 20, 'a'), // a megabyte without a line end
        std::string(5000, '\n'),
    };
    for (const std::string& bytes : sends) {
        const int fd = RawConnect(folder.endpoint());
        ASSERT_GE(fd, 0);
        // The server may close before everything is written; that is the point.
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        EXPECT_EQ(ReadUntilClosed(fd), "") << bytes.substr(0, 40);
        close(fd);
    }
    EXPECT_EQ(echo.count(), 0u);
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::Answered);
}

TEST_F(RemoteServerTest, ManyClientsAtOnceEachGetTheirOwnReply) {
    RemoteServer server(folder.endpoint(), loop.loop, Handler());
    ASSERT_TRUE(server.listening()) << server.problem();
    std::atomic<int> right{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 6; ++t)
        clients.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                const std::string name = std::to_string(t) + "-" + std::to_string(i);
                const ClientResult r = Send({Command::Start, name});
                if (r.outcome == ClientOutcome::Answered && r.reply.text == "start:" + name) ++right;
            }
        });
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(right, 90);
}

TEST_F(RemoteServerTest, AnotherUsersPeerIsDisconnectedUnread) {
    RemoteServerOptions options;
    options.acceptedUid = static_cast<long>(geteuid()) + 1;
    RemoteServer server(folder.endpoint(), loop.loop, Handler(), options);
    ASSERT_TRUE(server.listening()) << server.problem();
    const ClientResult r = Send({Command::StopAll, ""});
    EXPECT_EQ(r.outcome, ClientOutcome::NoAnswer);
    EXPECT_EQ(echo.count(), 0u);
}

TEST_F(RemoteServerTest, ARealProcessOfAnotherUserIsDisconnectedUnread) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as nobody";
    RemoteServer server(folder.endpoint(), loop.loop, Handler());
    ASSERT_TRUE(server.listening()) << server.problem();
    const std::string socketPath = folder.endpoint().address;
    // Let nobody reach the socket at all, so that only the peer check stands in its way.
    chmod(folder.root.c_str(), 0711);
    chmod(folder.runtime.c_str(), 0711);
    chmod(socketPath.c_str(), 0666);
    const std::string request = *FormatRequest({Command::StopAll, ""});
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, socketPath.c_str());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls from here: the parent has threads.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(11);
        // Already closed: also a refusal.
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) _exit(0);
        char byte;
        // The end of the connection, or a reset because what was sent was never read.
        _exit(read(fd, &byte, 1) <= 0 ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no setuid, 11: no connection, 12: got a reply";
    chmod(folder.runtime.c_str(), 0700);
    EXPECT_EQ(echo.count(), 0u);
    EXPECT_EQ(Send({Command::Status, ""}).outcome, ClientOutcome::Answered);
}

// A loop that holds what is posted (from any thread) until the test runs it: a loop that is stuck.
class HeldLoop final : public EventLoop {
public:
    void Post(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
    }
    void StartTimer(int, uint32_t, std::function<void()>) override {}
    void StopTimer(int) override {}
    int TimerInterval(int) const override { return -1; }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return posted_.size();
    }
    void RunPosted() {
        std::vector<std::function<void()>> run;
        {
            std::lock_guard lock(mutex_);
            run.swap(posted_);
        }
        for (auto& fn : run) fn();
    }

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
};

TEST_F(RemoteServerTest, AStuckLoopGivesNoAnswerAndAHandlerStillQueuedAfterTheEndNeverRuns) {
    HeldLoop stuck;
    bool called = false;
    {
        RemoteServer server(folder.endpoint(), stuck, [&](const Request&) {
            called = true;
            return Reply{};
        });
        ASSERT_TRUE(server.listening()) << server.problem();
        const ClientResult r = Send({Command::Status, ""}, 200ms);
        EXPECT_EQ(r.outcome, ClientOutcome::NoAnswer);
        ASSERT_EQ(stuck.size(), 1u);
    }
    stuck.RunPosted();
    EXPECT_FALSE(called);
}

// --- What the requests do ------------------------------------------------------------------------------------------

class RemoteCommandsTest : public ::testing::Test {
protected:
    RemoteCommandsTest() {
        settings.macroOptions = 0;
        Macro endless = MakeNewMacro("endless");
        endless.setRepeatCount(0);
        endless.items.push_back(MakeDelayItem(1000, DelayTime));
        Macro korean = endless;
        korean.name = Utf8ToCp949("한글 매크로");
        session.library() = {endless, korean, MakeNewMacro("idle")};
        session.BeginRunMode(std::nullopt); // bit 0x2 is off: edit mode
    }
    Reply Do(Command c, std::string argument = {}) { return commands.Execute({c, std::move(argument)}); }
    bool Running(std::size_t i) { return IsRunning(session.library()[i]); }

    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    TimerCounter counter;
    ManualLoop loop;
    Session session{fake.platform(), settings, counter, loop, 1u};
    RemoteCommands commands{session};
};

TEST_F(RemoteCommandsTest, StartIsRefusedInEditModeAndWorksAsAHotkeyInRunMode) {
    Reply r = Do(Command::Start, "endless");
    EXPECT_EQ(r.status, ReplyStatus::Refused);
    EXPECT_NE(r.text.find("edit mode"), std::string::npos) << r.text;
    EXPECT_FALSE(Running(0));

    EXPECT_EQ(Do(Command::Mode, "run"), (Reply{ReplyStatus::Done, "run mode on"}));
    EXPECT_TRUE(session.runMode().runMode());
    EXPECT_EQ(Do(Command::Mode, "run").status, ReplyStatus::Done);

    fake.SetCursor(120, 45);
    EXPECT_EQ(Do(Command::Start, "endless"), (Reply{ReplyStatus::Done, "started 'endless'"}));
    ASSERT_TRUE(Running(0));
    EXPECT_EQ(session.library()[0].runPos, 1); // the first item after the start item
    EXPECT_EQ(session.library()[0].originPos.x, 120);
    // A second start leaves the run alone, as a start hotkey does.
    const int32_t passes = session.library()[0].passCount;
    EXPECT_EQ(Do(Command::Start, "endless").status, ReplyStatus::Done);
    EXPECT_EQ(session.library()[0].passCount, passes);

    EXPECT_EQ(Do(Command::Start, "한글 매크로"), (Reply{ReplyStatus::Done, "started '한글 매크로'"}));
    EXPECT_TRUE(Running(1));
    EXPECT_EQ(Do(Command::Status), (Reply{ReplyStatus::Done, "mode: run\nrunning: endless\nrunning: 한글 매크로\n"}));

    EXPECT_EQ(Do(Command::Stop, "endless"), (Reply{ReplyStatus::Done, "stopped 'endless'"}));
    EXPECT_FALSE(Running(0));
    EXPECT_EQ(Do(Command::Stop, "endless").text, "'endless' does not run");
    EXPECT_TRUE(session.runMode().runMode()); // stopping macros is not leaving run mode
}

TEST_F(RemoteCommandsTest, NamesThatDoNotExistOrCannotBeCp949AreRefusedByName) {
    Do(Command::Mode, "run");
    for (const Command c : {Command::Start, Command::Stop}) {
        Reply r = Do(c, "missing");
        EXPECT_EQ(r, (Reply{ReplyStatus::Refused, "no macro named 'missing'"}));
        r = Do(c, "smile 😀");
        EXPECT_EQ(r.status, ReplyStatus::Refused);
        EXPECT_NE(r.text.find("'smile 😀'"), std::string::npos) << r.text;
        EXPECT_NE(r.text.find("CP949"), std::string::npos) << r.text;
        // Matched byte for byte, not loosely.
        EXPECT_EQ(Do(c, "Endless").status, ReplyStatus::Refused);
        EXPECT_EQ(Do(c, "endless ").status, ReplyStatus::Refused);
    }
    EXPECT_FALSE(Running(0));
}

TEST_F(RemoteCommandsTest, StopAllAndEditModeStopEverythingAndEditModeIsReported) {
    EXPECT_EQ(Do(Command::StopAll).text, "no macro runs");
    Do(Command::Mode, "run");
    Do(Command::Start, "endless");
    Do(Command::Start, "한글 매크로");
    EXPECT_EQ(Do(Command::StopAll), (Reply{ReplyStatus::Done, "stopped 2 macros"}));
    EXPECT_FALSE(Running(0) || Running(1));
    EXPECT_TRUE(session.runMode().runMode());

    Do(Command::Start, "endless");
    EXPECT_EQ(Do(Command::Mode, "edit").status, ReplyStatus::Done);
    EXPECT_FALSE(session.runMode().runMode());
    EXPECT_FALSE(Running(0));
    EXPECT_EQ(Do(Command::Status), (Reply{ReplyStatus::Done, "mode: edit\n"}));
    EXPECT_EQ(Do(Command::Mode, "edit").status, ReplyStatus::Done);
}

TEST_F(RemoteCommandsTest, ShowNeedsAWindowAndNothingIsDoneAfterTheEnd) {
    EXPECT_EQ(Do(Command::Show).status, ReplyStatus::Refused);
    int shown = 0;
    bool canShow = true;
    RemoteCommands withWindow(session, [&] {
        ++shown;
        return canShow;
    });
    EXPECT_EQ(withWindow.Execute({Command::Show, ""}).status, ReplyStatus::Done);
    canShow = false;
    EXPECT_EQ(withWindow.Execute({Command::Show, ""}).status, ReplyStatus::Refused);
    EXPECT_EQ(shown, 2);

    Do(Command::Mode, "run");
    session.End(HeldInput::Release);
    EXPECT_EQ(Do(Command::Start, "endless").status, ReplyStatus::Refused);
    EXPECT_EQ(Do(Command::Status).status, ReplyStatus::Refused);
    EXPECT_FALSE(Running(0));
}

// --- quillet-cli ---------------------------------------------------------------------------------------------------

class RemoteCliTest : public RemoteServerTest {
protected:
    int Cli(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return cli::Run(args, out, err);
    }
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(RemoteCliTest, ExitCodesTellDoneRefusedAndNothingRunning) {
    const std::string dir = folder.work().string();
    EXPECT_EQ(Cli({"status", "--folder", dir}), 2);
    EXPECT_NE(err.str().find("no Quillet runs in " + dir), std::string::npos) << err.str();
    EXPECT_EQ(Cli({"status", "--folder", (folder.root / "missing").string()}), 2);

    RemoteServer server(folder.endpoint(), loop.loop, Handler());
    ASSERT_TRUE(server.listening()) << server.problem();
    EXPECT_EQ(Cli({"start", "--folder", dir, "매크로"}), 0) << err.str();
    EXPECT_EQ(out.str(), "start:매크로\n");
    // The same folder by another spelling reaches the same program.
    EXPECT_EQ(Cli({"stop", "--folder", dir + "/./", "--", "-dash"}), 0) << err.str();
    EXPECT_EQ(out.str(), "stop:-dash\n");
    EXPECT_EQ(Cli({"mode", "edit", "--folder", dir}), 1); // the echo refuses mode requests
    EXPECT_EQ(err.str(), "quillet-cli: mode:edit\n");

    // Mistakes on the command line never reach the program.
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{"start", "--folder", dir},
                                               {"start", "a", "b", "--folder", dir},
                                               {"mode", "fly", "--folder", dir},
                                               {"status", "now", "--folder", dir},
                                               {"status", "--folder"},
                                               {"stop-all", "--fast", "--folder", dir},
                                               {"show", "--folder", dir}})
        EXPECT_EQ(Cli(wrong), 2) << wrong[0] << " " << wrong[1];
    EXPECT_EQ(echo.count(), 3u);
}

TEST_F(RemoteCliTest, ASecondStartIsAnsweredOnlyByAProgramThatShowsItsWindow) {
    EXPECT_FALSE(AskToShowWindow(folder.work(), 1000ms));
    std::atomic<bool> canShow{false};
    RemoteServer server(folder.endpoint(), loop.loop, [&](const Request& r) {
        return r.command == Command::Show && canShow ? Reply{ReplyStatus::Done, "shown"}
                                                     : Reply{ReplyStatus::Refused, "no window"};
    });
    ASSERT_TRUE(server.listening()) << server.problem();
    EXPECT_FALSE(AskToShowWindow(folder.work(), 1000ms));
    canShow = true;
    EXPECT_TRUE(AskToShowWindow(folder.work(), 1000ms));
}

} // namespace
} // namespace quillet::remote
