// SPDX-License-Identifier: MIT
#include "base/protocol.h"

#include "base/byte_writer.h"

#include <limits>

namespace zpmoni {

using namespace wire;

std::array<uint8_t, logon::kBodySize> LogonBody(std::string_view userName, uint32_t version)
{
    std::array<uint8_t, logon::kBodySize> body{};
    const auto name = userName.substr(0, logon::kUserNameChars);
    ByteWriter out(body);
    out.Bytes(logon::kUserName, {reinterpret_cast<const uint8_t*>(name.data()), name.size()});
    out.Le32(logon::kVersion, version);
    return body;
}

std::array<uint8_t, ack::kBodySize> AckBody(int32_t code, uint32_t value)
{
    std::array<uint8_t, ack::kBodySize> body{};
    ByteWriter out(body);
    out.Le32(ack::kCode, static_cast<uint32_t>(code));
    out.Le32(ack::kValue, value);
    return body;
}

std::array<uint8_t, damage::kBodySize> DamageBody(uint32_t aircraftId, uint16_t amount)
{
    std::array<uint8_t, damage::kBodySize> body{};
    ByteWriter out(body);
    out.Le32(0, 1);
    out.Le32(damage::kTarget, aircraftId);
    out.Le32(8, 1);
    out.Le16(12, 1);
    out.Le16(14, 1);
    out.Le16(damage::kAmount, amount);
    out.Le16(18, 11);
    return body;
}

std::string_view ChatText(ByteReader body)
{
    return body.Text(chat::kText, std::numeric_limits<size_t>::max());
}

std::optional<double> AirStateG(ByteReader body)
{
    if (!body.Holds(air_state::kFormat, 2))
        return std::nullopt;
    const uint16_t format = body.Le16(air_state::kFormat);
    if (format <= air_state::kLastHundredthsFormat) {
        if (!body.Holds(air_state::kGHundredths, 2))
            return std::nullopt;
        return static_cast<int16_t>(body.Le16(air_state::kGHundredths)) * 0.01;
    }
    if (format <= air_state::kLastTenthsFormat) {
        if (!body.Holds(air_state::kGTenths, 1))
            return std::nullopt;
        return static_cast<int8_t>(body.U8(air_state::kGTenths)) * 0.1;
    }
    return std::nullopt;
}

}  // namespace zpmoni
