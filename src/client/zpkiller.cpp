// SPDX-License-Identifier: MIT
#include "client/zpkiller.h"

CZpkiller::CZpkiller(const Clock& clock, ChatRelay* chat, QObject* parent)
    : CZpconnect(parent), clock(clock), chat(chat),
      limiter([this](uint32_t id, uint16_t amount) { Punish(id, amount); })
{
}

void CZpkiller::Create(ProfileStore& store)
{
    CZpconnect::Create(store);
    limiter.LoadSettings(store);
}

int CZpkiller::ConnectWithLimitName(uint32_t address, uint16_t port)
{
    return Connect(address, port, limiter.LimitName());
}

void CZpkiller::Punish(uint32_t aircraftId, uint16_t amount)
{
    SendPacket(PKT_DAMAGE, DamageBody(aircraftId, amount));
}

void CZpkiller::OnAirState(const uint8_t* body, size_t length)
{
    limiter.OnAirState(body, length, clock.TickMs());
}

void CZpkiller::OnAddObject(const uint8_t* body, size_t length)
{
    limiter.OnAddObject(body, length);
}

void CZpkiller::OnRemoveObject(const uint8_t* body, size_t length)
{
    limiter.OnRemoveObject(body, length);
}

void CZpkiller::OnChat(const uint8_t* body, size_t length)
{
    if (chat)
        chat->OnChat(ChatText({body, length}), chatLogFlag);
}
