// chronel-cli against a module whose replies a peer in the middle falsifies:
// another function code, a write's echo to a read, counts that do not match,
// another transaction, protocol or unit. A falsified event block is never
// acknowledged, the journal and the scan keep every event once and no empty
// one, and no such peer keeps a run from ending.
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace clitest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// ---- Modbus TCP frames ----------------------------------------------------------------

constexpr std::size_t HeaderSize = 7;

unsigned Word(const Bytes& b, std::size_t at) { return at + 1 < b.size() ? (b[at] << 8) | b[at + 1] : 0u; }

Bytes Pdu(const Bytes& frame) { return Bytes(frame.begin() + HeaderSize, frame.end()); }

// `frame`'s header around `pdu`, the length fixed up.
Bytes Frame(const Bytes& frame, const Bytes& pdu)
{
    Bytes out;
    out.reserve(HeaderSize + pdu.size());
    for (std::size_t i = 0; i < HeaderSize; ++i)
        out.push_back(frame[i]);
    out[4] = static_cast<std::uint8_t>((pdu.size() + 1) >> 8);
    out[5] = static_cast<std::uint8_t>(pdu.size() + 1);
    for (std::uint8_t b : pdu)
        out.push_back(b);
    return out;
}

bool IsCoilTwoWrite(const Bytes& request) { return request[HeaderSize] == 5 && Word(request, HeaderSize + 1) == 1; }
bool IsRead(const Bytes& request) { return request[HeaderSize] >= 1 && request[HeaderSize] <= 4; }

// A read of the event block (registers 101 … 200) answered with records in it.
bool IsEventBlockWithRecords(const Bytes& request, const Bytes& reply)
{
    if (request[HeaderSize] != 3 || Word(request, HeaderSize + 1) != 100 || reply.size() < HeaderSize + 2 + 200)
        return false;
    const std::size_t words = HeaderSize + 2;
    return Word(reply, words + 2 * 1) == 3 || Word(reply, words + 2 * 2) > 0; // type-3 text, or a record count
}

// Waits for and reads one whole frame; nothing when the peer closed or
// `timeoutMs` passed.
std::optional<Bytes> ReadFrame(int fd, int timeoutMs)
{
    Bytes frame;
    std::size_t needed = 6;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (frame.size() < needed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
            return std::nullopt;
        std::uint8_t buffer[600];
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, needed - frame.size()), 0);
        if (n <= 0)
            return std::nullopt;
        frame.insert(frame.end(), buffer, buffer + n);
        if (frame.size() >= 6)
            needed = 6 + Word(frame, 4);
    }
    return frame;
}

bool SendAll(int fd, const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

// ---- the peer in the middle -------------------------------------------------------------

// What goes back to the client for one exchange: nothing to pass the reply on
// as it came, else the frames to send instead (and whether they are a bad
// reply, one that must not be taken). A tamperer is asked first without a
// reply (`reply` null): what it answers then goes back at once and the
// request never reaches the module; else once more with the module's reply.
struct Falsified {
    std::vector<Bytes> frames;
    bool bad = true;
};
using Tamper = std::function<std::optional<Falsified>(const Bytes& request, const Bytes* reply)>;

struct Exchange {
    Bytes request;
    bool bad = false; // answered with a reply that must not be taken
};

// A Modbus TCP peer on 127.0.0.1 that relays each client connection to
// chronel-sim on a connection of its own, one exchange at a time, and lets
// `tamper` replace replies. Every exchange is recorded in the order served.
class TamperingPeer {
public:
    TamperingPeer(int simPort, Tamper tamper) : simPort_(simPort), tamper_(std::move(tamper))
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_, 16) != 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            ::pipe2(stop_, O_CLOEXEC) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~TamperingPeer()
    {
        if (thread_.joinable()) {
            const char byte = 0;
            (void)!::write(stop_[1], &byte, 1);
            thread_.join();
        }
        for (const auto& [client, sim] : pairs_) {
            ::close(client);
            ::close(sim);
        }
        for (int fd : {listen_, stop_[0], stop_[1]})
            if (fd >= 0)
                ::close(fd);
    }
    TamperingPeer(const TamperingPeer&) = delete;
    TamperingPeer& operator=(const TamperingPeer&) = delete;

    int port() const { return port_; }
    std::vector<Exchange> exchanges() const
    {
        std::lock_guard lock(mutex_);
        return exchanges_;
    }

private:
    void run()
    {
        for (;;) {
            std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
            for (const auto& [client, sim] : pairs_)
                fds.push_back({client, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 1000) < 0 || fds[0].revents != 0)
                return;
            if (fds[1].revents & POLLIN)
                accept();
            for (std::size_t i = 2; i < fds.size(); ++i)
                if (fds[i].revents != 0)
                    serve(fds[i].fd);
        }
    }

    void accept()
    {
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int sim = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(std::uint16_t(simPort_));
        if (sim < 0 || ::connect(sim, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(client);
            if (sim >= 0)
                ::close(sim);
            return;
        }
        pairs_[client] = sim;
    }

    void serve(int client)
    {
        const int sim = pairs_.at(client);
        const std::optional<Bytes> request = ReadFrame(client, 2000);
        std::optional<Falsified> falsified = request ? tamper_(*request, nullptr) : std::nullopt;
        std::optional<Bytes> reply;
        if (request && !falsified && SendAll(sim, *request))
            reply = ReadFrame(sim, 5000);
        if (!request || (!falsified && !reply)) {
            pairs_.erase(client);
            ::close(client);
            ::close(sim);
            return;
        }
        if (!falsified)
            falsified = tamper_(*request, &*reply);
        {
            std::lock_guard lock(mutex_);
            exchanges_.push_back({*request, falsified && falsified->bad});
        }
        for (const Bytes& frame : falsified ? falsified->frames : std::vector<Bytes>{*reply})
            SendAll(client, frame);
    }

    int simPort_;
    Tamper tamper_;
    int listen_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::map<int, int> pairs_; // client connection → its connection to the simulator
    mutable std::mutex mutex_;
    std::vector<Exchange> exchanges_;
    std::thread thread_;
};

// ---- the falsifications -------------------------------------------------------------------

struct Kind {
    const char* name;
    std::function<Falsified(const Bytes& request, const Bytes& reply)> make;
};

Falsified Bad(Bytes frame) { return {{std::move(frame)}, true}; }

Bytes WithByte(Bytes frame, std::size_t at, std::uint8_t value)
{
    frame[at] = value;
    return frame;
}

// The reply's registers with a count of `bytes` (cut or padded with zeros).
Bytes WithCount(const Bytes& reply, std::size_t bytes)
{
    Bytes pdu = Pdu(reply);
    pdu.resize(2 + bytes, 0);
    pdu[1] = static_cast<std::uint8_t>(bytes);
    return Frame(reply, pdu);
}

// Every kind of reply that is not the request's, and last a late reply of an
// earlier request followed by the right one, which is taken.
std::vector<Kind> Kinds()
{
    return {
        {"input registers", [](const Bytes&, const Bytes& r) { return Bad(WithByte(r, HeaderSize, 4)); }},
        {"write echo",
            [](const Bytes& q, const Bytes&) {
                return Bad(Frame(q, {5, 0, 0, 0xFF, 0}));
            }},
        {"short count", [](const Bytes&, const Bytes& r) { return Bad(WithCount(r, 12)); }},
        {"long count", [](const Bytes&, const Bytes& r) { return Bad(WithCount(r, 202)); }},
        {"250 bytes", [](const Bytes&, const Bytes& r) { return Bad(WithCount(r, 250)); }},
        {"other transaction", [](const Bytes&, const Bytes& r) { return Bad(WithByte(r, 1, std::uint8_t(r[1] + 7))); }},
        {"protocol 7", [](const Bytes&, const Bytes& r) { return Bad(WithByte(r, 3, 7)); }},
        {"other unit", [](const Bytes&, const Bytes& r) { return Bad(WithByte(r, 6, std::uint8_t(r[6] - 1))); }},
        {"late reply first",
            [](const Bytes&, const Bytes& r) {
                return Falsified{{WithByte(r, 1, std::uint8_t(r[1] - 1)), r}, false};
            }},
    };
}

// Falsifies every other read of an event block that holds records, one kind
// after the other: the read repeated after a falsified one passes, so a scan
// cycle meets at most one.
class Rotation {
public:
    std::optional<Falsified> operator()(const Bytes& request, const Bytes* reply)
    {
        if (!reply || !IsEventBlockWithRecords(request, *reply) || next_ >= kinds_.size())
            return std::nullopt;
        if ((seen_++ % 2) != 0)
            return std::nullopt;
        return kinds_[next_++].make(request, *reply);
    }
    std::size_t applied() const { return next_; }
    std::size_t count() const { return kinds_.size(); }

private:
    std::vector<Kind> kinds_ = Kinds();
    std::size_t next_ = 0;
    std::size_t seen_ = 0;
};

// A script of `count` input changes over points 1 … 4, one every `stepMs`
// from `startMs`, so that the scan meets them in many blocks.
std::string EventScript(int count, int startMs, int stepMs)
{
    std::string script;
    for (int i = 0; i < count; ++i)
        script += std::to_string((startMs + i * stepMs) / 1000.0) + " " + std::to_string(1 + i % 4) + " " +
            std::to_string((i / 4) % 2 == 0 ? 1 : 0) + "\n";
    return script;
}

// Changes the module's inputs in test mode, a step of one or two changes at
// a time, each step once the journal holds every change made before it: each
// step's events reach the collector in a block of their own however slow the
// machine, where a timed script piles up in one block while a slow collector
// still reads the point table. It goes on counting the journal's input rows
// for the test (stored()): the journal is read on this thread alone, as Qt's
// connection registry takes locks the thread sanitizer cannot follow when two
// threads open connections at once.
class InputDriver {
public:
    InputDriver(int simPort, std::string journal, int changes)
        : thread_([this, simPort, journal = std::move(journal), changes] { run(simPort, journal, changes); })
    {
    }
    ~InputDriver()
    {
        stop_ = true;
        thread_.join();
    }
    InputDriver(const InputDriver&) = delete;
    InputDriver& operator=(const InputDriver&) = delete;

    int stored() const { return stored_; }

private:
    static constexpr int TestModeRegister = 1577; // then the test inputs, points 1-16 and 17-32
    static constexpr std::uint16_t TestModeOn = 0x55AA;

    void run(int simPort, const std::string& journal, int changes)
    {
        ModbusPeer module("127.0.0.1", simPort);
        if (!module.write(TestModeRegister, {TestModeOn}))
            return;
        std::uint16_t inputs = 0;
        for (int made = 0, step = 0; made < changes && !stop_; ++step) {
            for (int k = 0; k < 1 + step % 2 && made < changes; ++k, ++made) {
                const std::uint16_t bit = std::uint16_t(1u << (made % 4));
                inputs = (made / 4) % 2 == 0 ? std::uint16_t(inputs | bit) : std::uint16_t(inputs & ~bit);
            }
            if (!module.write(TestModeRegister + 1, {inputs}))
                return;
            const auto deadline = Clock::now() + std::chrono::seconds(30);
            while (!stop_ && count(journal) < made && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        while (!stop_) {
            count(journal);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Counted once the collector made the journal: opening it first would
    // make it here.
    int count(const std::string& journal)
    {
        stored_ = std::filesystem::exists(journal) ? JournalRowCount(journal, "point > 0") : 0;
        return stored_;
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> stored_{0};
    std::thread thread_;
};

class CliHostilePeer : public testing::Test {
protected:
    static constexpr int Events = 24;

    void startModule(bool withEvents = true)
    {
        std::vector<std::string> args;
        if (withEvents) {
            WriteFile(dir.file("events.txt"), EventScript(Events, 1000, 250));
            args = {"--events", "script:" + dir.file("events.txt")};
        }
        ASSERT_GT(sim.startTcp(args), 0);
    }

    void startPeer(Tamper tamper)
    {
        peer = std::make_unique<TamperingPeer>(sim.port(), std::move(tamper));
        ASSERT_GT(peer->port(), 0);
    }

    RunResult cli(
        const std::vector<std::string>& args, int interval, int killAfterMs = 60000, std::function<bool()> done = {})
    {
        std::vector<std::string> all{"--tcp", "--ip", "127.0.0.1", "--interval", std::to_string(interval)};
        all.insert(all.end(), args.begin(), args.end());
        RunOptions options;
        options.timeoutMs = killAfterMs;
        options.interruptWhen = std::move(done);
        return RunCli(all, peer->port(), {}, options);
    }

    // The exchanges served; the peer's thread has ended, so what its
    // tamperer kept can be read.
    std::vector<Exchange> stopPeer()
    {
        std::vector<Exchange> exchanges = peer->exchanges();
        peer.reset();
        return exchanges;
    }

    // No acknowledge (coil 2 written) is the next request after a falsified
    // reply, and every kind was met.
    static void expectNoAcknowledgeAfterABadBlock(const Rotation& rotation, const std::vector<Exchange>& exchanges)
    {
        EXPECT_EQ(rotation.applied(), rotation.count()) << "the run met too few event blocks";
        int bad = 0;
        for (std::size_t i = 0; i + 1 < exchanges.size(); ++i) {
            if (!exchanges[i].bad)
                continue;
            ++bad;
            EXPECT_FALSE(IsCoilTwoWrite(exchanges[i + 1].request)) << "exchange " << i + 1;
        }
        EXPECT_EQ(bad, int(rotation.count()) - 1);
        EXPECT_TRUE(std::any_of(exchanges.begin(), exchanges.end(), [](const Exchange& e) {
            return IsCoilTwoWrite(e.request);
        })) << "no block was acknowledged at all";
    }

    TempDir dir;
    Sim sim;
    std::unique_ptr<TamperingPeer> peer;
};

// The tamperer runs on the peer's thread; the test reads it once the run is
// over and the peer stopped.
Tamper Shared(const std::shared_ptr<Rotation>& rotation)
{
    return [rotation](const Bytes& q, const Bytes* r) { return (*rotation)(q, r); };
}

TEST_F(CliHostilePeer, CollectStoresEveryEventOnceAndAcknowledgesNoFalsifiedBlock)
{
    startModule(false);
    auto rotation = std::make_shared<Rotation>();
    startPeer(Shared(rotation));
    const InputDriver driver(sim.port(), dir.file("j.sqlite"), Events);
    // Until every event is stored (or a row came twice), however slow the
    // machine; a run that never gets there is killed and fails.
    const RunResult r = cli(
        {"collect", "--journal", dir.file("j.sqlite")}, 100, 60000, [&driver] { return driver.stored() >= Events; });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectNoAcknowledgeAfterABadBlock(*rotation, stopPeer());
    // The journal as CSV: module,name,module_time,point,state,text,... for
    // every row, none of them without its time or its text.
    const RunResult csv = RunCli({"journal", "--journal", dir.file("j.sqlite"), "--format", "csv"}, 0);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const std::regex row(R"(^127\.0\.0\.1,[^,]*,([0-9T:.-]+),([0-9]+),[^,]*,([^,]+),)");
    std::set<std::pair<std::string, std::string>> inputs;
    int inputRows = 0;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(lines[i], m, row)) << "empty or broken row: " << lines[i];
        if (m[2] != "0") {
            ++inputRows;
            EXPECT_TRUE(inputs.insert({m[1], m[2]}).second) << "twice: " << lines[i];
        }
    }
    EXPECT_EQ(inputRows, Events) << r.err;
}

TEST_F(CliHostilePeer, EventScanShowsEveryEventOnceAndAcknowledgesNoFalsifiedBlock)
{
    startModule();
    auto rotation = std::make_shared<Rotation>();
    startPeer(Shared(rotation));
    const RunResult r = cli({"events", "--seconds", "9"}, 50);
    EXPECT_FALSE(r.timedOut);
    expectNoAcknowledgeAfterABadBlock(*rotation, stopPeer());
    std::set<std::string> shown;
    for (const std::string& line : Lines(r.out)) {
        if (Contains(line, "Input Point")) {
            EXPECT_TRUE(shown.insert(line).second) << "twice: " << line;
        }
    }
    EXPECT_EQ(int(shown.size()), Events) << r.out;
}

// Every read answered with a write's echo: no sequence takes it for done or
// waits for ever; each ends as failed.
Tamper EchoEveryRead()
{
    return [](const Bytes& q, const Bytes*) -> std::optional<Falsified> {
        if (!IsRead(q))
            return std::nullopt;
        return Bad(Frame(q, {5, 0, 0, 0xFF, 0}));
    };
}

TEST_F(CliHostilePeer, WriteEchoToEveryReadEndsEverySequence)
{
    startModule(false);
    startPeer(EchoEveryRead());
    const RunResult upload = cli({"upload", dir.file("site.csv")}, 100, 20000);
    EXPECT_FALSE(upload.timedOut);
    EXPECT_EQ(upload.exitCode, 1) << upload.err;
    EXPECT_TRUE(Contains(upload.err, "The upload sequence failed")) << upload.err;

    const RunResult events = cli({"events", "--cycles", "6"}, 100, 20000);
    EXPECT_FALSE(events.timedOut);
    EXPECT_EQ(events.exitCode, 1) << events.err;

    const auto begin = Clock::now();
    const RunResult collect = cli({"collect", "--journal", dir.file("j.sqlite"), "--seconds", "4"}, 100, 20000);
    EXPECT_FALSE(collect.timedOut);
    EXPECT_EQ(collect.exitCode, 1) << collect.err;
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(12));
}

// The module answers every read, and every acknowledge, which never reaches
// it, with a malformed reply: its events stay, no scan cycle completes, and
// the run still ends.
TEST_F(CliHostilePeer, FailingEveryAcknowledgeEndsARunBoundedByCycles)
{
    startModule();
    // The module holds events before the scan starts.
    ModbusPeer module("127.0.0.1", sim.port());
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!module.coil(1) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(module.coil(1));
    startPeer([](const Bytes& q, const Bytes*) -> std::optional<Falsified> {
        if (!IsCoilTwoWrite(q))
            return std::nullopt;
        return Bad(Frame(q, {6, 0, 1, 0xFF, 0}));
    });
    const RunResult r = cli({"events", "--cycles", "2"}, 50, 30000);
    EXPECT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::vector<Exchange> exchanges = peer->exchanges();
    EXPECT_EQ(std::count_if(exchanges.begin(), exchanges.end(), [](const Exchange& e) { return e.bad; }), 4);
}

} // namespace
} // namespace clitest
