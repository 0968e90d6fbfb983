// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"
#include "web/console_backend.h"

#include <QJsonObject>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// The [Web] settings.
struct WebOptions {
    bool enable = false;
    std::string listen = "127.0.0.1:8790";
    std::string certFile;
    std::string keyFile;
    bool allowPlainHttp = false;
    bool metricsOpen = false;
    std::vector<std::string> hostNames;
};

// Splits "host:port"; nullopt when it is not a dotted quad and a port 1..65535.
struct ListenAddress {
    std::string host;
    uint16_t port = 0;
};
std::optional<ListenAddress> ParseListen(std::string_view listen);

// The operator console: pages, the JSON API, the live WebSocket and /metrics, served on the
// event loop. Everything it does goes through the backend.
class WebConsole : public QObject {
    Q_OBJECT
public:
    struct Links {
        std::function<void(std::string_view line)> errorLog;
        // who ("web:NAME"), action, target, comment: the audit trail of every console action,
        // refusals included.
        std::function<void(std::string_view who, std::string_view action, std::string_view target,
                           std::string_view comment)> actionLog;
        std::function<int64_t()> now;  // seconds since 1970
    };

    // operators.txt is read from `workdir`.
    WebConsole(ConsoleBackend& backend, std::string workdir, Links links, QObject* parent = nullptr);
    ~WebConsole() override;

    // Listens as the options say; a refusal (non-loopback without TLS, a bad address, a
    // certificate that cannot be read, a port in use) is in the error log and the result.
    Status Start(const WebOptions& options);
    void Stop();
    bool Listening() const;
    uint16_t Port() const;  // the port bound (useful with port 0 in tests)

    // Sends a live message (docs/api.md) to every WebSocket client; events and chat are also
    // kept by the backend for resumption, so a client that reconnects misses nothing.
    void Publish(const QJsonObject& message);
    size_t LiveClients() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace zpmoni
