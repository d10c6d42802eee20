#pragma once

#include "core/VObject.h"
#include "core/VString.h"
#include "intl/VXMLParser.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace vela::test {

// ASCII as it is, other units as \uXXXX: readable in test failures.
inline std::string Utf8(const VString& text) {
    std::string out;
    for (int32 i = 0; i < text.GetLength(); ++i) {
        const UniChar c = text.GetCPointer()[i];
        if (c < 0x80) {
            out += char(c);
        } else {
            char buffer[12];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(c));
            out += buffer;
        }
    }
    return out;
}

// Records every event of the elements it handles, one line each, into a log shared by the whole tree.
// Elements whose name starts with "skip" are refused.
class RecordingHandler : public VObject, public IXMLHandler {
public:
    explicit RecordingHandler(std::vector<std::string>& log) : fLog(log) {}

    IXMLHandler* StartElement(const VString& name) override {
        fLog.push_back("start " + Utf8(name));
        if (name.BeginsWithRawString(VString("skip"))) return nullptr;
        return new RecordingHandler(fLog);
    }
    void EndElement(const VString& name) override { fLog.push_back("end " + Utf8(name)); }
    void SetAttribute(const VString& name, const VString& value) override {
        fLog.push_back("attr " + Utf8(name) + "=" + Utf8(value));
    }
    void SetText(const VString& text) override {
        // Character data may come in pieces: join adjacent ones so the log does not depend on the split.
        if (!fLog.empty() && fLog.back().rfind("text ", 0) == 0)
            fLog.back() += Utf8(text);
        else
            fLog.push_back("text " + Utf8(text));
    }
    void StartStyleSheet() override { fLog.push_back("sheet{"); }
    void SetStyleSheetAttribute(const VString& name, const VString& value) override {
        fLog.push_back("sheet " + Utf8(name) + "=" + Utf8(value));
    }
    void EndStyleSheet() override { fLog.push_back("}sheet"); }

private:
    std::vector<std::string>& fLog;
};

// A local listener that counts the connections it gets while it lives, closing each at once.
class StConnectionCounter {
public:
    StConnectionCounter() {
        fSocket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(fSocket, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(fSocket, 8), 0);
        EXPECT_EQ(::getsockname(fSocket, reinterpret_cast<sockaddr*>(&address), &size), 0);
        fPort = ntohs(address.sin_port);
        fThread = std::thread([this] {
            for (;;) {
                const int connection = ::accept(fSocket, nullptr, nullptr);
                if (connection < 0) return; // shut down
                ++fConnections;
                ::close(connection);
            }
        });
    }
    ~StConnectionCounter() {
        ::shutdown(fSocket, SHUT_RDWR);
        fThread.join();
        ::close(fSocket);
    }
    int Port() const { return fPort; }
    // Stable once the code that might have connected has returned: a connection is counted before it closes.
    int Connections() const { return fConnections.load(); }

private:
    int fSocket = -1;
    int fPort = 0;
    std::atomic<int> fConnections{0};
    std::thread fThread;
};

} // namespace vela::test
