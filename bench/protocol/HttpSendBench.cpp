// Sends a 31733792-byte image block through CHttpConnection to a loopback server that discards
// the body, and the same body with "curl --data-binary @file" to the same server; reports the
// median times, their ratio and how much the resident set grew while the connection sent.
//
//   http_send_bench [--rounds N]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/model/CUpdateImagePart.h"
#include "engine/protocol/CHttpConnection.h"
#include "engine/protocol/CHttpRequestBuilder.h"
#include "engine/protocol/UpdateConnectionFactory.h"

extern char** environ;

namespace {

using namespace talbo::tesk::vorta;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlockSize = 31733792;  // the largest block of the stand-in image
const std::string kAnswer =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><tesk-utility "
    "xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\"><update><response "
    "success=\"true\"/></update></tesk-utility>";

// Accepts connections one after another; reads each request and its body into a small buffer
// that is reused, and answers 200.
class DiscardingServer {
public:
    DiscardingServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 8) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("server");
            std::exit(1);
        }
        port = ntohs(address.sin_port);
        buffer.resize(256 * 1024);
        thread = std::thread([this] { Serve(); });
    }
    ~DiscardingServer() {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    std::uint16_t Port() const { return port; }
    std::uint64_t BodyBytes() const { return bodyBytes; }

private:
    void Serve() {
        while (!stopping) {
            const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                continue;
            }
            ServeConnection(connection);
            ::close(connection);
        }
    }

    void ServeConnection(int connection) {
        std::string head;
        for (;;) {
            std::size_t end;
            while ((end = head.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    return;
                }
                head.append(buffer.data(), static_cast<std::size_t>(n));
            }
            std::string fields = head.substr(0, end + 4);
            std::string rest = head.substr(end + 4);
            std::transform(fields.begin(), fields.end(), fields.begin(), ::tolower);
            std::uint64_t length = 0;
            if (const std::size_t at = fields.find("\r\ncontent-length:");
                at != std::string::npos) {
                length = std::strtoull(fields.c_str() + at + 17, nullptr, 10);
            }
            if (fields.find("\r\nexpect: 100-continue") != std::string::npos) {
                Send(connection, "HTTP/1.1 100 Continue\r\n\r\n");
            }
            std::uint64_t received = std::min<std::uint64_t>(rest.size(), length);
            rest.erase(0, received);
            while (received < length) {
                const ssize_t n =
                    ::recv(connection, buffer.data(),
                           std::min<std::uint64_t>(buffer.size(), length - received), 0);
                if (n <= 0) {
                    return;
                }
                received += static_cast<std::uint64_t>(n);
            }
            bodyBytes += received;
            Send(connection, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                 std::to_string(kAnswer.size()) + "\r\n\r\n" + kAnswer);
            head = rest;
        }
    }

    static void Send(int connection, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    int listener = -1;
    std::uint16_t port = 0;
    std::vector<char> buffer;
    std::atomic<bool> stopping{false};
    std::atomic<std::uint64_t> bodyBytes{0};
    std::thread thread;
};

ByteSequence PseudoRandomBlock(std::size_t size) {
    ByteSequence bytes(size);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

// kB from a line of /proc/self/status.
long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(key));
        }
    }
    return -1;
}

void ResetPeakResidentSet() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double RunCurl(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "curl could not be started\n");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 7;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) {
        rounds = std::max(1, std::atoi(argv[2]));
    }
    ::unsetenv("http_proxy");
    ::unsetenv("all_proxy");
    InitializeProtocolLibraries();

    DiscardingServer server;
    CUpdateImagePart part(L"3", L"Main", L"Ver.3.01TC", PseudoRandomBlock(kBlockSize),
                          L"0123456789abcdef0123456789abcdef");
    const std::wstring document =
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tesk-utility "
        L"xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\"><mac-address>"
        L"02:00:00:00:00:01</mac-address><update><request type=\"Update\"><after-version>"
        L"Ver.3.01TC</after-version></request><file-digest "
        L"value=\"0123456789abcdef0123456789abcdef\"/></update></tesk-utility>";

    // The very body the connection sends, as one file for the curl program.
    CHttpRequestBuilder builder(L"POST", L"firmware-update", L"firmware-update");
    builder.Build(L"127.0.0.1", document, &part);
    char path[] = "/tmp/vorta-http-bench-XXXXXX";
    const int fd = ::mkstemp(path);
    {
        std::ofstream file(path, std::ios::binary);
        for (const ByteSequence* piece :
             {&builder.GetBodyHead(), &builder.GetFileData(), &builder.GetBodyTail()}) {
            file.write(reinterpret_cast<const char*>(piece->data()),
                       static_cast<std::streamsize>(piece->size()));
        }
    }
    ::close(fd);
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.Port()) + "/firmware-update/firmware-update";
    const std::vector<std::string> curlCommand = {
        "curl",
        "-s",
        "-o",
        "/dev/null",
        "--noproxy",
        "*",
        "-H",
        std::string(builder.GetHeaders().begin(), builder.GetHeaders().end()),
        "--data-binary",
        std::string("@") + path,
        url};

    // The same program with an empty body: its start-up and connection cost alone.
    std::vector<std::string> emptyCommand = curlCommand;
    emptyCommand[emptyCommand.size() - 2] = "";

    std::vector<double> engineTimes;
    std::vector<double> curlTimes;
    std::vector<double> emptyCurlTimes;
    long worstGrowthKb = 0;
    for (int round = 0; round < rounds; ++round) {
        CHttpConnection connection(
            std::make_unique<CHttpRequestBuilder>(L"POST", L"firmware-update", L"firmware-update"),
            L"127.0.0.1", L"TALBO Vorta Firmware Update Tool", L"client", L"Tz8wq3-k");
        connection.SetPort(server.Port());
        const long before = StatusKilobytes("VmRSS:");
        ResetPeakResidentSet();
        const auto start = Clock::now();
        ByteSequence answer;
        if (connection.Open() != 0 || connection.Send(document, &part) != 0 ||
            connection.Receive(answer) != 200) {
            std::fprintf(stderr, "the connection failed\n");
            return 1;
        }
        engineTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        worstGrowthKb = std::max(worstGrowthKb, StatusKilobytes("VmHWM:") - before);
        curlTimes.push_back(RunCurl(curlCommand));
        emptyCurlTimes.push_back(RunCurl(emptyCommand));
    }
    ::unlink(path);

    const double engine = Median(engineTimes);
    const double curl = Median(curlTimes);
    std::printf("body bytes: %llu (block %zu)\n",
                static_cast<unsigned long long>(builder.GetBodyHead().size() + kBlockSize +
                                                builder.GetBodyTail().size()),
                kBlockSize);
    std::printf("rounds: %d\n", rounds);
    std::printf("CHttpConnection (priming + real request), median: %.1f ms\n", engine * 1000);
    std::printf("curl --data-binary @file, median: %.1f ms\n", curl * 1000);
    std::printf("curl with an empty body (start-up and connection), median: %.1f ms\n",
                Median(emptyCurlTimes) * 1000);
    std::printf("ratio: %.2f (target <= 1.10)\n", engine / curl);
    std::printf("resident set growth during the send, worst round: %.2f MiB (target <= 8)\n",
                static_cast<double>(worstGrowthKb) / 1024.0);
    std::printf(
        "curl command: curl -s -o /dev/null --noproxy '*' -H '%ls' --data-binary @FILE %s\n",
        builder.GetHeaders().c_str(), url.c_str());
    ShutdownProtocolLibraries();
    return engine / curl <= 1.10 && worstGrowthKb <= 8 * 1024 ? 0 : 2;
}
