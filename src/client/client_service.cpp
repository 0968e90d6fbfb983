// SPDX-License-Identifier: MIT
#include "client/client_service.h"

#include "base/profile_store.h"

namespace zpmoni {

ClientService::ClientService(ChatView& view, std::string workdir, const Clock& clock, Report errorLog,
                             QObject* parent)
    : chat(view, std::move(workdir), clock), clock(clock), errorLog(std::move(errorLog)), parent(parent)
{
    chat.logFailure.SetReport(this->errorLog);
}

ClientService::~ClientService()
{
    Stop();
}

void ClientService::Start(ProfileStore& profile, const ClientOptions& o, std::function<void(int)> onHung)
{
    store = &profile;
    options = o;
    connection = std::make_unique<GLimitClient>(clock, &chat, parent);
    connection->Create(profile);
    connection->SetFailureReport(errorLog);
    connection->chatLogFlag = options.chatLog;
    connection->WatchHang(clock, options.hangSeconds, std::move(onHung));
    connection->onDamage = onDamage;
    if (options.glimit)
        (void)Connect();  // a failure is in the error log; the retry timer tries again
}

void ClientService::Stop()
{
    connection.reset();
}

Status ClientService::Connect()
{
    if (!connection)
        return Failure{"the client is not started"};
    if (!options.glimit)
        return Failure{"the G limiter is off"};
    return connection->ConnectWithLimitName(options.address, options.port);
}

void ClientService::Disconnect()
{
    if (connection)
        connection->Disconnect();
}

Status ClientService::Reconnect(bool logOn, uint32_t address, uint16_t port)
{
    options.glimit = logOn;
    options.address = address;
    options.port = port;
    Disconnect();
    return logOn ? Connect() : Status{};
}

ClientState ClientService::State() const
{
    if (!connection)
        return {};
    return {true, options.glimit, connection->IsConnected(), connection->Limiter().LimitName()};
}

Status ClientService::SendChat(std::string_view text)
{
    if (!connection || !connection->IsConnected())
        return Failure{"not connected to the server"};
    return connection->SendChat(text);
}

void ClientService::SetChatOptions(bool glimit, bool chatLog)
{
    chat.glimit = glimit;
    chat.chatLog = chatLog;
}

GlimitValues ClientService::Glimit() const
{
    if (!connection)
        return {};
    const GLimiter& limiter = connection->Limiter();
    return {options.glimit, limiter.NegativeLimit(), limiter.PositiveLimit(), limiter.Interval(), connection->version};
}

void ClientService::ApplyGlimit(const GlimitValues& values, bool chatLog)
{
    if (!connection)
        return;
    GLimiter& limiter = connection->Limiter();
    limiter.ApplyLimits(values.negative, values.positive);
    limiter.ApplyDamage(values.interval, 1);
    connection->chatLogFlag = chatLog;
    if (store)
        limiter.SaveSettings(*store);
    connection->version = values.version;
}

}  // namespace zpmoni
