// plcsim as a program: started as a child inside a network namespace this
// test makes, answered through its TAP with a raw packet socket, stopped by
// a signal. Skips where the process may not unshare.
#include "support/netns.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint16_t managementType = 0x887B;
const Bytes hostMac = {0x02, 0xB7, 0x1C, 0x00, 0x00, 0x01};    // home.json: plc0
const Bytes deviceMac = {0x02, 0xB7, 0x1C, 0x10, 0x1D, 0x01};  // home.json: its device
const Bytes broadcast(6, 0xFF);

std::string scenario(const char* name) { return std::string(SCENARIO_DIR) + "/" + name; }

std::string readAvailable(int fd, int waitMs)
{
    std::string text;
    pollfd p{fd, POLLIN, 0};
    char buffer[512];
    while (poll(&p, 1, waitMs) > 0) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        waitMs = 0;
    }
    return text;
}

class Plcsim {
public:
    ~Plcsim()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
        if (err_ >= 0)
            close(err_);
    }

    bool start(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            return false;
        pid_ = scratch::spawn(PLCSIM_PATH, PLCSIM_PATH, args, -1, out[1], err[1]);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        return pid_ > 0;
    }

    // Reads standard output until the ready line, or gives up after waitMs.
    bool waitReady(int waitMs = 5000)
    {
        auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        while (Clock::now() < end) {
            output_ += readAvailable(out_, 50);
            if (output_.find("plcsim: ready") != std::string::npos)
                return true;
            if (exited(0))
                return false;
        }
        return false;
    }

    // Exit status after waiting up to waitMs; -1 while it still runs, 128+n for a signal.
    int waitExit(int waitMs)
    {
        auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        do {
            if (exited(0))
                return status_;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (Clock::now() < end);
        return -1;
    }

    void signal(int number) { kill(pid_, number); }
    std::string errors() { return readAvailable(err_, 100); }
    std::string output() { return output_ + readAvailable(out_, 100); }

private:
    bool exited(int)
    {
        if (pid_ <= 0)
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_)
            return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
    std::string output_;
};

// The PC's side of a TAP: a raw socket bound to it.
class RawClient {
public:
    explicit RawClient(const std::string& interface)
    {
        fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(managementType));
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(managementType);
        address.sll_ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool send(const Bytes& frame)
    {
        return ::send(fd_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
    }

    // Frames that came in (not our own sends) within waitMs of quiet.
    std::vector<Bytes> receive(int waitMs, size_t atMost = 10000)
    {
        std::vector<Bytes> frames;
        pollfd p{fd_, POLLIN, 0};
        while (frames.size() < atMost && poll(&p, 1, waitMs) > 0) {
            uint8_t buffer[2048];
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0)
                break;
            if (from.sll_pkttype != PACKET_OUTGOING)
                frames.emplace_back(buffer, buffer + n);
        }
        return frames;
    }

private:
    int fd_ = -1;
};

Bytes request(const Bytes& from, uint8_t type, uint8_t entryLength, uint8_t body, size_t length)
{
    Bytes f(std::max<size_t>(length, 60), 0);
    std::copy(broadcast.begin(), broadcast.end(), f.begin());
    std::copy(from.begin(), from.end(), f.begin() + 6);
    f[12] = 0x88;
    f[13] = 0x7B;
    f[14] = 1;
    f[15] = type;
    f[16] = entryLength;
    f[17] = body;
    return f;
}

Bytes discoveryProbe(const Bytes& from) { return request(from, 0x1A, 0xBB, 0x80, 204); }
Bytes paramQuery(uint8_t selector) { return request(hostMac, 0x19, 0x0F, selector, 32); }

Bytes bytesAt(const Bytes& f, size_t offset, size_t count)
{
    return Bytes(f.begin() + offset, f.begin() + offset + count);
}

class PlcsimTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { inNamespace_ = testsupport::enterPrivateNetns(&why_); }

    void SetUp() override
    {
        if (!inNamespace_)
            GTEST_SKIP() << "no private network namespace: " << why_;
    }

    // A scenario written next to the test, from home.json's first adapter with changes.
    static std::string writeScenario(const char* name, const std::string& deviceExtra)
    {
        std::ofstream out(name);
        out << R"({"adapters":[{"interface":"plc0","hostMac":"02:b7:1c:00:00:01",)"
               R"("device":{"mac":"02:b7:1c:10:1d:01","type":1,"devicePassword":"ZP6J-4LAV-8EMQ")"
            << deviceExtra << "}}]}";
        return name;
    }

    static bool inNamespace_;
    static std::string why_;
};

bool PlcsimTest::inNamespace_ = false;
std::string PlcsimTest::why_;

TEST_F(PlcsimTest, AnswersDiscoveryAndParamQueryThroughItsTap)
{
    Plcsim sim;
    ASSERT_TRUE(sim.start({scenario("home.json")}));
    ASSERT_TRUE(sim.waitReady()) << sim.errors();
    RawClient client("plc0");
    ASSERT_TRUE(client.ok()) << std::strerror(errno);

    ASSERT_TRUE(client.send(discoveryProbe(hostMac)));
    auto replies = client.receive(500, 1);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& ls = replies[0];
    ASSERT_EQ(ls.size(), 204u);
    EXPECT_EQ(bytesAt(ls, 0, 6), hostMac);
    EXPECT_EQ(bytesAt(ls, 6, 6), deviceMac);
    EXPECT_EQ(ls[15], 0x1A);
    EXPECT_EQ(ls[17], 0x01);  // device type 1, bit 7 clear
    EXPECT_EQ(bytesAt(ls, 24, 6), (Bytes{0x02, 0xB7, 0x1C, 0x20, 0x00, 0x01}));
    EXPECT_EQ(ls[30] | ls[31] << 8, 20);  // its link value

    ASSERT_TRUE(client.send(paramQuery(0x00)));
    replies = client.receive(500, 1);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& pr = replies[0];
    ASSERT_EQ(pr.size(), 68u);
    EXPECT_EQ(pr[15], 0x19);
    EXPECT_EQ(pr[16], 0x33);
    EXPECT_EQ(pr[17], 1);
    EXPECT_EQ(bytesAt(pr, 18, 6), deviceMac);  // the block starts with the device address

    // from the device's own address the reply is self-addressed
    ASSERT_TRUE(client.send(discoveryProbe(deviceMac)));
    replies = client.receive(500, 1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(bytesAt(replies[0], 0, 6), deviceMac);
    EXPECT_EQ(bytesAt(replies[0], 6, 6), deviceMac);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(3000), 0);
}

TEST_F(PlcsimTest, SignalRemovesItsInterfaces)
{
    for (int signal : {SIGTERM, SIGINT}) {
        Plcsim sim;
        ASSERT_TRUE(sim.start({scenario("two-adapters.json")}));
        ASSERT_TRUE(sim.waitReady()) << sim.errors();
        EXPECT_NE(if_nametoindex("plc0"), 0u);
        EXPECT_NE(if_nametoindex("plc1"), 0u);
        sim.signal(signal);
        EXPECT_EQ(sim.waitExit(3000), 0) << signal;
        EXPECT_EQ(if_nametoindex("plc0"), 0u) << signal;
        EXPECT_EQ(if_nametoindex("plc1"), 0u) << signal;
    }
}

TEST_F(PlcsimTest, VerboseLogsEachFrameInAndOut)
{
    Plcsim sim;
    ASSERT_TRUE(sim.start({"-v", scenario("home.json")}));
    ASSERT_TRUE(sim.waitReady()) << sim.errors();
    RawClient client("plc0");
    ASSERT_TRUE(client.send(paramQuery(0x10)));
    ASSERT_EQ(client.receive(500, 1).size(), 1u);
    sim.signal(SIGTERM);
    ASSERT_EQ(sim.waitExit(3000), 0);
    std::string log = sim.output();
    EXPECT_NE(log.find("plc0 in  ParamQuery 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff selector=0x10"), std::string::npos)
        << log;
    EXPECT_NE(log.find("plc0 out ParamReply 02:b7:1c:10:1d:01 > 02:b7:1c:00:00:01 kind=2"), std::string::npos) << log;
}

TEST_F(PlcsimTest, HonoursTheReplyDelay)
{
    std::string file = writeScenario("slow.json", R"(,"replyDelayMs":300)");
    Plcsim sim;
    ASSERT_TRUE(sim.start({file}));
    ASSERT_TRUE(sim.waitReady()) << sim.errors();
    RawClient client("plc0");
    auto sent = Clock::now();
    ASSERT_TRUE(client.send(paramQuery(0x00)));
    EXPECT_TRUE(client.receive(150, 1).empty());
    ASSERT_EQ(client.receive(2000, 1).size(), 1u);
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
}

TEST_F(PlcsimTest, FloodsAtTheScriptedRate)
{
    std::string file = writeScenario("flood-test.json", R"(,"faults":{"floodPerSecond":1000})");
    Plcsim sim;
    ASSERT_TRUE(sim.start({file}));
    ASSERT_TRUE(sim.waitReady()) << sim.errors();
    RawClient client("plc0");
    auto start = Clock::now();
    size_t count = 0;
    while (Clock::now() - start < std::chrono::milliseconds(500))
        count += client.receive(10, 1).size();
    // about 500; a loaded machine delays but does not multiply them
    EXPECT_GT(count, 150u);
    EXPECT_LT(count, 800u);
}

TEST_F(PlcsimTest, RefusesInterfaceNamesInUse)
{
    Plcsim first;
    ASSERT_TRUE(first.start({scenario("home.json")}));
    ASSERT_TRUE(first.waitReady()) << first.errors();
    Plcsim second;
    ASSERT_TRUE(second.start({scenario("home.json")}));
    EXPECT_EQ(second.waitExit(3000), 1);
    EXPECT_NE(second.errors().find("plcsim: interface plc0 exists already"), std::string::npos);
    // the first one still serves
    RawClient client("plc0");
    ASSERT_TRUE(client.send(paramQuery(0x00)));
    EXPECT_EQ(client.receive(500, 1).size(), 1u);
}

TEST_F(PlcsimTest, RefusesANamespaceWithOtherInterfaces)
{
    if (std::system("ip link add plcguard0 type veth peer name plcguard1 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot create a veth pair here";
    Plcsim sim;
    ASSERT_TRUE(sim.start({scenario("home.json")}));
    int status = sim.waitExit(3000);
    std::string errors = sim.errors();
    std::system("ip link del plcguard0 2>/dev/null");
    EXPECT_EQ(status, 1);
    EXPECT_NE(errors.find("plcguard0"), std::string::npos) << errors;
    EXPECT_EQ(if_nametoindex("plc0"), 0u);
}

TEST_F(PlcsimTest, BadScenarioExitsTwoNamingTheField)
{
    std::string file = writeScenario("bad-type.json", "");
    {
        std::ofstream out(file);
        out << R"({"adapters":[{"interface":"plc0","hostMac":"02:b7:1c:00:00:01",)"
               R"("device":{"mac":"02:b7:1c:10:1d:01","type":300,"devicePassword":"ZP6J-4LAV-8EMQ"}}]})";
    }
    // A scenario that is not a regular file, or one too big, is refused unread:
    // /dev/zero would never end and a FIFO with no writer would block for good.
    std::remove("pipe.json");
    ASSERT_EQ(mkfifo("pipe.json", 0600), 0);
    {
        std::ofstream out("huge.json");
        out << std::string((size_t{1} << 20) + 1, ' ');
    }
    std::string badMac = writeScenario("bad-mac.json", "");
    {
        std::ofstream out(badMac);
        out << R"({"adapters":[{"interface":"plc0","hostMac":"+2:-0:00:00:00:01",)"
               R"("device":{"mac":"02:b7:1c:10:1d:01","type":1,"devicePassword":"ZP6J-4LAV-8EMQ"}}]})";
    }
    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{file}, "plcsim: bad-type.json: adapters[0].device.type: expected an integer 0..127\n"},
        {{"missing.json"}, "plcsim: missing.json: (file): cannot be read: No such file or directory\n"},
        {{"/dev/zero"}, "plcsim: zero: (file): not a regular file\n"},
        {{"pipe.json"}, "plcsim: pipe.json: (file): not a regular file\n"},
        {{"huge.json"}, "plcsim: huge.json: (file): larger than 1 MiB\n"},
        {{badMac}, "plcsim: bad-mac.json: adapters[0].hostMac: expected a MAC address like 02:00:00:00:00:01\n"},
        {{"--bogus", file}, "plcsim: unknown option --bogus\n"},
        {{}, "Usage: plcsim [-v] SCENARIO.json\n"},
    };
    for (const Case& c : cases) {
        Plcsim sim;
        ASSERT_TRUE(sim.start(c.args));
        EXPECT_EQ(sim.waitExit(3000), 2);
        EXPECT_EQ(sim.errors().rfind(c.error, 0), 0u) << c.error;
        EXPECT_EQ(if_nametoindex("plc0"), 0u);
    }
    std::remove("pipe.json");
    std::remove("huge.json");
}

TEST_F(PlcsimTest, HelpExitsZero)
{
    Plcsim sim;
    ASSERT_TRUE(sim.start({"--help"}));
    EXPECT_EQ(sim.waitExit(3000), 0);
    EXPECT_NE(sim.output().find("unshare -n"), std::string::npos);
}

}  // namespace
