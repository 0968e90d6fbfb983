// SPDX-License-Identifier: MIT
#include "client/glimit_client.h"

namespace zpmoni {

GLimitClient::GLimitClient(const Clock& clock, ChatRelay* chat, QObject* parent)
    : ServerConnection(parent), clock(clock), chat(chat),
      limiter([this](uint32_t id, uint16_t amount) { Punish(id, amount); })
{
}

void GLimitClient::Create(ProfileStore& store)
{
    ServerConnection::Create(store);
    limiter.LoadSettings(store);
}

Status GLimitClient::ConnectWithLimitName(uint32_t address, uint16_t port)
{
    return Connect(address, port, limiter.LimitName());
}

void GLimitClient::Punish(uint32_t aircraftId, uint16_t amount)
{
    (void)SendPacket(PKT_DAMAGE, DamageBody(aircraftId, amount));  // a failed send is told by Transmit
    if (onDamage)
        onDamage(aircraftId, limiter.PilotOf(aircraftId), amount);
}

void GLimitClient::OnAirState(const uint8_t* body, size_t length)
{
    limiter.OnAirState(body, length, clock.TickMs());
}

void GLimitClient::OnAddObject(const uint8_t* body, size_t length)
{
    limiter.OnAddObject(body, length);
}

void GLimitClient::OnRemoveObject(const uint8_t* body, size_t length)
{
    limiter.OnRemoveObject(body, length);
}

void GLimitClient::OnChat(const uint8_t* body, size_t length)
{
    if (chat)
        chat->OnChat(ChatText({body, length}), chatLogFlag);
}

}  // namespace zpmoni
