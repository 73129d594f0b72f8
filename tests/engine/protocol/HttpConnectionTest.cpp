#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "LoopbackHttpServer.h"
#include "engine/model/CUpdateImagePart.h"
#include "engine/protocol/CHttpConnection.h"
#include "engine/protocol/CHttpRequestBuilder.h"
#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {
namespace {

using vorta_test::CapturedRequest;
using vorta_test::LoopbackHttpServer;
using vorta_test::Reply;
using vorta_test::Respond;

constexpr char kBasicCredentials[] = "Basic Y2xpZW50OlR6OHdxMy1r";  // client:Tz8wq3-k
constexpr char kUserAgent[] = "TALBO Vorta Firmware Update Tool";

std::unique_ptr<CHttpConnection> Connect(std::uint16_t port, bool credentials,
                                         const std::wstring& host = L"127.0.0.1") {
    auto connection = std::make_unique<CHttpConnection>(
        std::make_unique<CHttpRequestBuilder>(L"POST", L"firmware-update", L"firmware-update"),
        host, L"TALBO Vorta Firmware Update Tool", credentials ? L"client" : L"",
        credentials ? L"Tz8wq3-k" : L"");
    connection->SetPort(port);
    return connection;
}

// The boundary a request announces, checked to be a plain decimal number.
std::string BoundaryOf(const CapturedRequest& request) {
    const std::string prefix = "multipart/form-data; boundary=";
    const std::string value = request.Field("Content-type");
    EXPECT_EQ(0u, value.find(prefix)) << value;
    const std::string boundary = value.substr(prefix.size());
    EXPECT_FALSE(boundary.empty());
    EXPECT_EQ(std::string::npos, boundary.find_first_not_of("0123456789"));
    EXPECT_TRUE(boundary == "0" || boundary[0] != '0');
    return boundary;
}

std::string ExpectedBody(const std::string& b, const std::string& document,
                         const std::string* fileData) {
    std::string body = "--" + b +
                       "\r\nContent-Disposition: form-data; name=\"request\"\r\n"
                       "Content-Type: text/xml\r\n\r\n" +
                       document + "\r\n";
    if (fileData != nullptr) {
        body += "--" + b +
                "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"image.tar\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n" +
                *fileData;
    }
    return body + "\r\n--" + b + "--\r\n";
}

class HttpConnectionTest : public ::testing::Test {
protected:
    vorta_test::DirectConnectionEnv direct;
};

TEST_F(HttpConnectionTest, RequestGoesOutByteForByte) {
    LoopbackHttpServer server([](const CapturedRequest&, int) { return Respond(200, "<ok/>"); });
    const std::string data("\0\x01\xFF\r\n--x", 8);
    CUpdateImagePart part(L"3", L"Main", L"Ver.3.01TC", ByteSequence(data.begin(), data.end()),
                          L"d41d8cd98f00b204e9800998ecf8427e");
    auto connection = Connect(server.Port(), false);
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<doc>\u00e9</doc>", &part));
    ByteSequence body;
    ASSERT_EQ(200, connection->Receive(body));
    EXPECT_EQ("<ok/>", std::string(body.begin(), body.end()));

    const auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    const CapturedRequest& request = requests[0];
    EXPECT_EQ(0u, request.head.find("POST /firmware-update/firmware-update HTTP/1.1\r\n"));
    EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), request.Field("Host"));
    EXPECT_EQ(kUserAgent, request.Field("User-Agent"));
    EXPECT_EQ("http://127.0.0.1/firmware-update", request.Field("Referer"));
    const std::string b = BoundaryOf(request);
    EXPECT_NE(std::string::npos,
              request.head.find("\r\nContent-type: multipart/form-data; boundary=" + b + "\r\n"));
    EXPECT_EQ(ExpectedBody(b, "<doc>\xC3\xA9</doc>", &data), request.body);
    EXPECT_EQ(std::to_string(request.body.size()), request.Field("Content-Length"));
    EXPECT_FALSE(request.HasField("Expect"));
    EXPECT_FALSE(request.HasField("Authorization"));
}

TEST_F(HttpConnectionTest, BodyWithoutPartAndWithEmptyPart) {
    LoopbackHttpServer server([](const CapturedRequest&, int) { return Respond(200); });
    CUpdateImagePart empty(L"1", L"P", L"v", ByteSequence{}, L"");
    auto connection = Connect(server.Port(), false);
    ByteSequence body;
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<info/>", nullptr));
    ASSERT_EQ(200, connection->Receive(body));
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<mode/>", &empty));
    ASSERT_EQ(200, connection->Receive(body));

    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(ExpectedBody(BoundaryOf(requests[0]), "<info/>", nullptr), requests[0].body);
    const std::string nothing;
    EXPECT_EQ(ExpectedBody(BoundaryOf(requests[1]), "<mode/>", &nothing), requests[1].body);
}

// A device that demands Basic credentials for everything.
Reply BasicDevice(const CapturedRequest& request, int) {
    if (request.Field("Authorization") != kBasicCredentials) {
        return Respond(401, "denied", "WWW-Authenticate: Basic realm=\"vorta\"\r\n");
    }
    return Respond(200, request.body.empty() ? "primed" : "answer");
}

TEST_F(HttpConnectionTest, PrimingRequestSettlesBasicCredentialsBeforeEveryRealRequest) {
    LoopbackHttpServer server(&BasicDevice);
    auto connection = Connect(server.Port(), true);
    for (int exchange = 0; exchange < 2; ++exchange) {
        ByteSequence body;
        ASSERT_EQ(0, connection->Open());
        ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
        ASSERT_EQ(200, connection->Receive(body));
        EXPECT_EQ("answer", std::string(body.begin(), body.end()));
    }
    const auto requests = server.Requests();
    ASSERT_EQ(6u, requests.size());
    for (int exchange = 0; exchange < 2; ++exchange) {
        const CapturedRequest& challenged = requests[exchange * 3];
        const CapturedRequest& primed = requests[exchange * 3 + 1];
        const CapturedRequest& real = requests[exchange * 3 + 2];
        for (const CapturedRequest* priming : {&challenged, &primed}) {
            EXPECT_EQ(0u, priming->head.find("POST /firmware-update/firmware-update HTTP/1.1\r\n"));
            EXPECT_EQ("0", priming->Field("Content-Length"));
            EXPECT_TRUE(priming->body.empty());
            EXPECT_FALSE(priming->HasField("Content-Type"));
            EXPECT_EQ("http://127.0.0.1/firmware-update", priming->Field("Referer"));
        }
        EXPECT_FALSE(challenged.HasField("Authorization"));
        EXPECT_EQ(kBasicCredentials, primed.Field("Authorization"));
        EXPECT_EQ(kBasicCredentials, real.Field("Authorization"));
        EXPECT_EQ(ExpectedBody(BoundaryOf(real), "<doc/>", nullptr), real.body);
        EXPECT_TRUE(real.HasField("Expect") == false || real.Field("Expect").empty());
    }
}

std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::map<std::string, std::string> DigestFields(std::string value) {
    std::map<std::string, std::string> fields;
    if (value.rfind("Digest ", 0) != 0) {
        return fields;
    }
    value.erase(0, 7);
    std::size_t i = 0;
    while (i < value.size()) {
        const std::size_t eq = value.find('=', i);
        if (eq == std::string::npos) {
            break;
        }
        std::string key = value.substr(i, eq - i);
        key.erase(0, key.find_first_not_of(", "));
        std::string item;
        std::size_t next;
        if (value[eq + 1] == '"') {
            const std::size_t close = value.find('"', eq + 2);
            item = value.substr(eq + 2, close - eq - 2);
            next = close + 1;
        } else {
            next = value.find(',', eq);
            item = value.substr(eq + 1, next == std::string::npos ? next : next - eq - 1);
        }
        fields[key] = item;
        i = next == std::string::npos ? value.size() : next + 1;
    }
    return fields;
}

// A device that demands Digest (MD5, qop auth) credentials and checks every response hash.
Reply DigestDevice(const CapturedRequest& request, int) {
    auto fields = DigestFields(request.Field("Authorization"));
    const std::string ha1 = Md5Hex("client:vorta:Tz8wq3-k");
    const std::string ha2 = Md5Hex(request.method + ":" + fields["uri"]);
    const std::string expected = Md5Hex(ha1 + ":" + fields["nonce"] + ":" + fields["nc"] + ":" +
                                        fields["cnonce"] + ":auth:" + ha2);
    if (fields["nonce"] != "n0nce" || fields["response"] != expected) {
        return Respond(401, "",
                       "WWW-Authenticate: Digest realm=\"vorta\", nonce=\"n0nce\", qop=\"auth\", "
                       "algorithm=MD5\r\n");
    }
    return Respond(200, request.body.empty() ? "primed" : "answer");
}

TEST_F(HttpConnectionTest, RealRequestContinuesTheDigestSessionOfThePrimingRequest) {
    LoopbackHttpServer server(&DigestDevice);
    auto connection = Connect(server.Port(), true);
    ByteSequence body;
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
    ASSERT_EQ(200, connection->Receive(body));
    EXPECT_EQ("answer", std::string(body.begin(), body.end()));

    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_FALSE(requests[0].HasField("Authorization"));
    EXPECT_TRUE(requests[1].body.empty());
    auto primed = DigestFields(requests[1].Field("Authorization"));
    auto real = DigestFields(requests[2].Field("Authorization"));
    EXPECT_EQ("client", primed["username"]);
    EXPECT_EQ("00000001", primed["nc"]);
    EXPECT_EQ("n0nce", real["nonce"]);
    EXPECT_EQ("00000002", real["nc"]);
    EXPECT_EQ(ExpectedBody(BoundaryOf(requests[2]), "<doc/>", nullptr), requests[2].body);
}

TEST_F(HttpConnectionTest, ResendsDemandedWithoutEndAreBounded) {
    // Every answer is a fresh "stale" challenge, so a client would go on for ever.
    LoopbackHttpServer server([](const CapturedRequest&, int index) {
        return Respond(401, "",
                       "WWW-Authenticate: Digest realm=\"vorta\", nonce=\"n" +
                           std::to_string(index) + "\", qop=\"auth\", stale=true\r\n");
    });
    auto connection = Connect(server.Port(), true);
    ASSERT_EQ(0, connection->Open());
    const int sent = connection->Send(L"<doc/>", nullptr);
    ByteSequence body{9};
    const int received = connection->Receive(body);
    // However it ends, it ends: as a refused send or as the 401 itself.
    EXPECT_TRUE((sent == -1 && received == 1) || (sent == 0 && received == 401))
        << sent << " " << received;
    EXPECT_LE(server.Requests().size(), 2u * (CHttpResponseSink::kMaxResponses + 1));
}

TEST_F(HttpConnectionTest, PrimingAnswerClosingTheConnectionIsNoObstacle) {
    LoopbackHttpServer server([](const CapturedRequest& request, int) {
        Reply reply = Respond(200, request.body.empty() ? "primed" : "answer");
        reply.close = request.body.empty();
        return reply;
    });
    auto connection = Connect(server.Port(), true);
    ByteSequence body;
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
    ASSERT_EQ(200, connection->Receive(body));
    EXPECT_EQ("answer", std::string(body.begin(), body.end()));
    EXPECT_EQ(2u, server.Requests().size());
}

TEST(HttpConnectionProxyTest, DeviceIsReachedThroughTheProxyOfTheEnvironment) {
    LoopbackHttpServer proxy(&BasicDevice);
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
    vorta_test::ScopedEnv httpProxy("http_proxy", proxyUrl.c_str());
    vorta_test::ScopedEnv noProxy("no_proxy", nullptr);
    vorta_test::ScopedEnv noProxyUpper("NO_PROXY", nullptr);

    std::unique_ptr<CConnection> connection = MakeUpdateConnection(L"vorta-7.invalid");
    ASSERT_NE(nullptr, connection);
    ByteSequence body;
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
    ASSERT_EQ(200, connection->Receive(body));
    EXPECT_EQ("answer", std::string(body.begin(), body.end()));

    const auto requests = proxy.Requests();
    ASSERT_EQ(3u, requests.size());
    for (const CapturedRequest& request : requests) {
        EXPECT_EQ("POST", request.method);
        EXPECT_EQ("http://vorta-7.invalid/firmware-update/firmware-update", request.target);
        EXPECT_EQ("vorta-7.invalid", request.Field("Host"));
        EXPECT_EQ(kUserAgent, request.Field("User-Agent"));
        EXPECT_EQ("http://vorta-7.invalid/firmware-update", request.Field("Referer"));
    }
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_TRUE(requests[1].body.empty());
    EXPECT_EQ(kBasicCredentials, requests[2].Field("Authorization"));
    EXPECT_EQ(ExpectedBody(BoundaryOf(requests[2]), "<doc/>", nullptr), requests[2].body);
}

TEST_F(HttpConnectionTest, StatusOtherThan200IsReturnedWithTheBodyUnread) {
    for (const int status : {401, 404, 500}) {
        LoopbackHttpServer server(
            [status](const CapturedRequest&, int) { return Respond(status, "not for you"); });
        auto connection = Connect(server.Port(), status == 401);
        ByteSequence body{1, 2, 3};
        ASSERT_EQ(0, connection->Open());
        ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr)) << status;
        EXPECT_EQ(status, connection->Receive(body));
        EXPECT_EQ((ByteSequence{1, 2, 3}), body) << status;
        EXPECT_EQ(1, connection->Receive(body)) << "Receive closes the exchange";
    }
}

TEST_F(HttpConnectionTest, BodyIsReadUpToOneMebibyte) {
    const std::size_t cap = CHttpResponseSink::kMaxBodySize;
    for (const std::size_t size : {std::size_t{0}, cap, cap + 1}) {
        LoopbackHttpServer server(
            [size](const CapturedRequest&, int) { return Respond(200, std::string(size, 'r')); });
        auto connection = Connect(server.Port(), false);
        ByteSequence body{1, 2, 3};
        ASSERT_EQ(0, connection->Open());
        ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
        if (size <= cap) {
            EXPECT_EQ(200, connection->Receive(body));
            EXPECT_EQ(size, body.size());
        } else {
            EXPECT_EQ(-1, connection->Receive(body));
            EXPECT_TRUE(body.empty());
        }
    }
}

TEST_F(HttpConnectionTest, BodyCutShortIsAFailedRead) {
    LoopbackHttpServer server([](const CapturedRequest&, int) {
        return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", true};
    });
    auto connection = Connect(server.Port(), false);
    ByteSequence body{1};
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->Send(L"<doc/>", nullptr));
    EXPECT_EQ(-1, connection->Receive(body));
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpConnectionTest, AnswerThatIsNoHttpFailsTheSend) {
    LoopbackHttpServer server([](const CapturedRequest&, int) {
        return Reply{"HELLO DEVICE\r\n\r\n", true};
    });
    auto connection = Connect(server.Port(), false);
    ByteSequence body{1};
    ASSERT_EQ(0, connection->Open());
    EXPECT_EQ(-1, connection->Send(L"<doc/>", nullptr));
    EXPECT_EQ(1, connection->Receive(body));
    EXPECT_EQ(ByteSequence{1}, body);
}

TEST_F(HttpConnectionTest, SilentDeviceEndsWithTheTimeOut) {
    LoopbackHttpServer server([](const CapturedRequest&, int) { return Reply{"", false, true}; });
    auto connection = Connect(server.Port(), false);
    ASSERT_EQ(0, connection->Open());
    ASSERT_EQ(0, connection->SetTimeout(1000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, connection->Send(L"<doc/>", nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ByteSequence body;
    EXPECT_EQ(1, connection->Receive(body));
}

std::uint16_t UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST_F(HttpConnectionTest, CallsOutOfOrderAndRefusedConnections) {
    ByteSequence body{7};
    auto connection = Connect(UnusedPort(), true);
    EXPECT_EQ(1, connection->Receive(body)) << "nothing open";
    EXPECT_EQ(-1, connection->Send(L"<doc/>", nullptr)) << "not open";
    ASSERT_EQ(0, connection->Open());
    EXPECT_EQ(-1, connection->Send(L"<doc/>", nullptr)) << "refused";
    EXPECT_EQ(1, connection->Receive(body)) << "the failed send closed everything";
    EXPECT_EQ(ByteSequence{7}, body);

    CHttpConnection withoutBuilder(nullptr, L"127.0.0.1", L"", L"", L"");
    EXPECT_EQ(-1, withoutBuilder.Open());
    for (const wchar_t* name : {L"", L"vorta 1", L"vorta/1", L"v\u00f6rta", L"::1"}) {
        EXPECT_EQ(-1, Connect(80, false, name)->Open()) << "unusable host name";
    }
}

}  // namespace
}  // namespace talbo::tesk::vorta
