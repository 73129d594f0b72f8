#include "DeviceClient.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

namespace devsim_test {
namespace {

struct Upload {
    const std::string* head = nullptr;
    const FileSource* file = nullptr;
    const std::string* tail = nullptr;
    std::uint64_t offset = 0;

    std::uint64_t Total() const { return head->size() + (file ? file->size : 0) + tail->size(); }
};

size_t ReadBody(char* out, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    std::size_t wanted = size * count;
    std::size_t written = 0;
    while (written < wanted && upload->offset < upload->Total()) {
        std::uint64_t at = upload->offset;
        std::size_t room = wanted - written;
        std::size_t n = 0;
        std::uint64_t headSize = upload->head->size();
        std::uint64_t fileSize = upload->file ? upload->file->size : 0;
        if (at < headSize) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(room, headSize - at));
            std::memcpy(out + written, upload->head->data() + at, n);
        } else if (at < headSize + fileSize) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(room, headSize + fileSize - at));
            upload->file->fill(at - headSize, out + written, n);
        } else {
            std::uint64_t t = at - headSize - fileSize;
            n = static_cast<std::size_t>(std::min<std::uint64_t>(room, upload->tail->size() - t));
            std::memcpy(out + written, upload->tail->data() + t, n);
        }
        written += n;
        upload->offset += n;
    }
    return written;
}

int SeekBody(void* user, curl_off_t offset, int origin) {
    auto* upload = static_cast<Upload*>(user);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > upload->Total()) {
        return CURL_SEEKFUNC_FAIL;
    }
    upload->offset = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

size_t ReadNothing(char*, size_t, size_t, void*) {
    return 0;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t CollectChallenge(char* data, size_t size, size_t count, void* user) {
    std::string_view line(data, size * count);
    constexpr std::string_view kName = "www-authenticate:";
    if (line.size() > kName.size()) {
        std::string lower(line.substr(0, kName.size()));
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        if (lower == kName) {
            std::string value(line.substr(kName.size()));
            while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
                value.pop_back();
            while (!value.empty() && value.front() == ' ')
                value.erase(0, 1);
            *static_cast<std::string*>(user) = value;
        }
    }
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::unique_ptr<CURL, CurlDeleter> NewHandle() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
    return std::unique_ptr<CURL, CurlDeleter>(curl_easy_init());
}

long AuthBits(AuthMode mode) {
    switch (mode) {
        case AuthMode::Any:
            return CURLAUTH_ANY;
        case AuthMode::Digest:
            return CURLAUTH_DIGEST;
        case AuthMode::Basic:
            return CURLAUTH_BASIC;
        case AuthMode::None:
            return CURLAUTH_NONE;
    }
    return CURLAUTH_NONE;
}

}  // namespace

FileSource FileSource::Of(const std::string& bytes) {
    return FileSource{bytes.size(), [&bytes](std::uint64_t offset, char* out, std::size_t count) {
                          std::memcpy(out, bytes.data() + offset, count);
                      }};
}

std::string Md5OfSource(const FileSource& source) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_md5(), nullptr);
    std::string slice(1 << 20, '\0');
    for (std::uint64_t at = 0; at < source.size;) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(slice.size(), source.size - at));
        source.fill(at, slice.data(), n);
        EVP_DigestUpdate(context, slice.data(), n);
        at += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 15]);
    }
    return text;
}

DeviceClient DeviceClient::ViaProxy(int proxyPort, std::string host) {
    DeviceClient client;
    client.proxy_ = "http://127.0.0.1:" + std::to_string(proxyPort);
    client.url_ = "http://" + host + kEndpointPath;
    return client;
}

DeviceClient DeviceClient::Direct(std::string address) {
    DeviceClient client;
    client.url_ = "http://" + address + kEndpointPath;
    return client;
}

DeviceClient& DeviceClient::WithAuth(AuthMode mode, std::string user, std::string password) {
    auth_ = mode;
    user_ = std::move(user);
    password_ = std::move(password);
    return *this;
}

DeviceClient& DeviceClient::WithTimeoutMs(long milliseconds) {
    timeoutMs_ = milliseconds;
    return *this;
}

DeviceClient& DeviceClient::WithoutPriming() {
    prime_ = false;
    return *this;
}

void DeviceClient::Target(CURL* curl, const std::string& url) const {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Loopback is not exempt from the environment's proxy: name it, or none, explicitly.
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy_.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs_);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

Reply DeviceClient::Send(const Body& body, const FileSource* file) const {
    auto handle = NewHandle();
    CURL* curl = handle.get();
    Reply reply;
    Target(curl, url_);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "devsim-test");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    std::string discarded;
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &discarded);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectChallenge);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.challenge);
    if (auth_ != AuthMode::None) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, AuthBits(auth_));
        curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    if (prime_) {
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadNothing);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
        CURLcode primed = curl_easy_perform(curl);
        if (primed != CURLE_OK) {
            reply.curlCode = primed;
            return reply;
        }
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &reply.connections);
    }
    Upload upload{&body.head, file, &body.tail, 0};
    curl_slist* headers = nullptr;
    std::string contentType = "Content-type: " + body.contentType;
    headers = curl_slist_append(headers, contentType.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 1L << 20);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(upload.Total()));
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    auto started = std::chrono::steady_clock::now();
    reply.curlCode = curl_easy_perform(curl);
    reply.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    long connections = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connections);
    reply.connections += connections;
    curl_slist_free_all(headers);
    return reply;
}

Reply DeviceClient::GetInformation() const {
    return Send(MakeBody(4711, GetInformationDocument(), false));
}

Reply DeviceClient::ChangeMode(std::string_view afterVersion, const std::string& file) const {
    FileSource source = FileSource::Of(file);
    return Send(MakeBody(4712, ChangeModeDocument(afterVersion, Md5Hex(file)), true), &source);
}

Reply DeviceClient::Update(std::string_view afterVersion, const std::string& file) const {
    FileSource source = FileSource::Of(file);
    return Send(MakeBody(4713, UpdateDocument(afterVersion, Md5Hex(file)), true), &source);
}

Reply DeviceClient::BarePriming() const {
    auto handle = NewHandle();
    CURL* curl = handle.get();
    Reply reply;
    Target(curl, url_);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadNothing);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectChallenge);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.challenge);
    reply.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    return reply;
}

Reply DeviceClient::Raw(const std::string& method, const std::string& url,
                        const std::string& contentType, const std::string& body) const {
    auto handle = NewHandle();
    CURL* curl = handle.get();
    Reply reply;
    Target(curl, url);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (auth_ != AuthMode::None) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, AuthBits(auth_));
        curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
    }
    curl_slist* headers = nullptr;
    std::string type = "Content-type: " + contentType;
    if (!contentType.empty()) {
        headers = curl_slist_append(headers, type.c_str());
    }
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectChallenge);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.challenge);
    reply.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    long connections = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connections);
    reply.connections += connections;
    curl_slist_free_all(headers);
    return reply;
}

}  // namespace devsim_test
