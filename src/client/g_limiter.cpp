// SPDX-License-Identifier: MIT
#include "client/g_limiter.h"

#include <cstring>

#include "base/ascii.h"
#include "base/protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace zpmoni {

namespace {

// A since-stamp of 0 reads as "not beyond the limit", so a tick that happens to be 0 is kept as
// 1: the state survives at the cost of one millisecond of charged time.
uint32_t Stamp(uint32_t tick) { return tick != 0 ? tick : 1; }

// Damage for the whole intervals spent beyond a limit since `since`, which moves on by them so
// that the remainder carries over.
uint32_t Charge(uint32_t& since, uint32_t now, uint32_t interval, int16_t step)
{
    // Unsigned 32-bit difference: right across the tick's wrap. A stamp ahead of now (moved on
    // by Stamp, or a packet from the same millisecond) means no time spent, not 49 days.
    uint32_t elapsed = now - since;
    if (elapsed > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        elapsed = 0;
    const uint32_t n = elapsed / interval;
    since = Stamp(since + n * interval);
    // A long silence or a tiny interval can add up to more than the 16-bit damage field holds;
    // it is sent once as the maximum instead of wrapping to a small or zero amount.
    return static_cast<uint32_t>(std::clamp<int64_t>(int64_t{step} * n, 0, GLimiter::kMaxDamage));
}

// For a number from_chars found out of range: true when it is too large, false when too small.
// The exponent's sign decides, or without one whether the integer part has a non-zero digit; a
// mantissa of hundreds of digits with an exponent pulling the other way is no G limit anyone
// writes.
bool TooLarge(std::string_view number, bool hex)
{
    const size_t exp = number.find_first_of(hex ? "pP" : "eE");
    if (exp != std::string_view::npos)
        return exp + 1 >= number.size() || number[exp + 1] != '-';
    const std::string_view integer = number.substr(0, number.find('.'));
    return integer.find_first_not_of('0') != std::string_view::npos;
}

} // namespace

GLimiter::GLimiter(Punisher punish) : punish_(std::move(punish)) {}

void GLimiter::LoadSettings(const ProfileStore& store)
{
    const double positive = NormalisePositive(ParseNumber(store.GetString(kBanGravitySection, "Max", "0.0")));
    const double negative = NormaliseNegative(ParseNumber(store.GetString(kBanGravitySection, "Min", "0.0")));
    const auto interval = static_cast<uint32_t>(store.GetInt(kBanGravitySection, "Interval", 0));
    ApplyLimits(negative, positive);
    ApplyDamage(interval, 1);
}

void GLimiter::SaveSettings(ProfileStore& store) const
{
    store.WriteString(kBanGravitySection, "Max", FormatG(positiveLimit_, false));
    store.WriteString(kBanGravitySection, "Min", FormatG(negativeLimit_, false));
    store.WriteInt(kBanGravitySection, "Interval", static_cast<int32_t>(damageInterval_));
}

double GLimiter::NormalisePositive(double limit) { return (limit != 0.0 && limit <= 7.0) ? 7.0 : limit; }

double GLimiter::NormaliseNegative(double limit) { return (limit != 0.0 && limit >= -3.0) ? -3.0 : limit; }

void GLimiter::ApplyLimits(double negative, double positive)
{
    negativeLimit_ = negative;
    positiveLimit_ = positive;
    for (GravityRecord& r : gravityList_) {
        r.negativeLimit = negative;
        r.positiveLimit = positive;
    }
}

void GLimiter::ApplyDamage(uint32_t interval, int16_t step)
{
    damageInterval_ = interval;
    damageStep_ = step;
    for (GravityRecord& r : gravityList_) {
        r.damageInterval = interval;
        r.damageStep = step;
    }
}

std::string GLimiter::LimitName() const
{
    std::string limits;
    if (positiveLimit_ != 0.0)
        limits = FormatG(positiveLimit_, true);
    if (negativeLimit_ != 0.0)
        limits += FormatG(negativeLimit_, true);
    if (limits.empty())
        return "No_Glimit";
    std::string name = "Glim=" + limits;
    return name.size() > 15 ? limits : name;
}

void GLimiter::OnAddObject(const uint8_t* body, size_t bodyLength)
{
    // Kind and id are both needed; a shorter body announces nothing.
    const ByteReader fields(body, bodyLength);
    if (!fields.Holds(wire::add_object::kObjectId, 4) ||
        fields.Le16(wire::add_object::kKind) != wire::add_object::kAircraft)
        return;
    const uint32_t id = fields.Le32(wire::add_object::kObjectId);
    std::string pilot;
    if (fields.Holds(wire::add_object::kUserName, wire::add_object::kUserNameChars)) {
        const auto* name = reinterpret_cast<const char*>(body + wire::add_object::kUserName);
        pilot.assign(name, strnlen(name, wire::add_object::kUserNameChars));
    }
    if (auto known = Touch(id); known != gravityList_.end()) {
        if (!pilot.empty())
            known->pilot = std::move(pilot);
        return;
    }
    if (gravityList_.size() >= kMaxWatched) {
        EraseDamage(gravityList_.front().aircraftId);
        gravityList_.pop_front();
    }
    gravityList_.push_back(
        {id, positiveLimit_, negativeLimit_, 0, 0, 0, damageStep_, damageInterval_, std::move(pilot)});
}

std::string_view GLimiter::PilotOf(uint32_t aircraftId) const
{
    for (const GravityRecord& r : gravityList_)
        if (r.aircraftId == aircraftId)
            return r.pilot;
    return {};
}

std::list<GravityRecord>::iterator GLimiter::Touch(uint32_t id)
{
    auto record = std::find_if(gravityList_.begin(), gravityList_.end(),
                               [id](const GravityRecord& r) { return r.aircraftId == id; });
    if (record == gravityList_.end())
        return record;
    gravityList_.splice(gravityList_.end(), gravityList_, record);  // no allocation
    return std::prev(gravityList_.end());
}

void GLimiter::EraseDamage(uint32_t id)
{
    auto entry = std::find_if(damageList_.begin(), damageList_.end(),
                              [id](const DamageEntry& e) { return e.aircraftId == id; });
    if (entry != damageList_.end())
        damageList_.erase(entry);
}

void GLimiter::OnAirState(const uint8_t* body, size_t bodyLength, uint32_t nowMs)
{
    // Without the aircraft id the packet concerns nobody.
    const ByteReader fields(body, bodyLength);
    if (!fields.Holds(wire::air_state::kAircraftId, 4))
        return;
    const uint32_t id = fields.Le32(wire::air_state::kAircraftId);
    auto record = Touch(id);
    auto hasId = [id](const DamageEntry& e) { return e.aircraftId == id; };
    if (record != gravityList_.end()) {
        if (const std::optional<double> g = AirStateG(fields)) {
            const Verdict v = CheckG(*record, *g, nowMs);
            if (v.lasting) {
                if (std::none_of(damageList_.begin(), damageList_.end(), hasId))
                    damageList_.push_back({id, v.amount});
            } else if (v.amount != 0) {
                Punish(id, v.amount);
            }
        }
    }
    // Maximum damage once earned is repeated with every packet, whatever the G load has become.
    auto entry = std::find_if(damageList_.begin(), damageList_.end(), hasId);
    if (entry != damageList_.end())
        Punish(id, entry->amount);
}

void GLimiter::OnRemoveObject(const uint8_t* body, size_t bodyLength)
{
    const ByteReader fields(body, bodyLength);
    if (!fields.Holds(wire::remove_object::kObjectId, 4))
        return;
    const uint32_t id = fields.Le32(wire::remove_object::kObjectId);
    auto record = std::find_if(gravityList_.begin(), gravityList_.end(),
                               [id](const GravityRecord& r) { return r.aircraftId == id; });
    if (record != gravityList_.end())
        gravityList_.erase(record);
    EraseDamage(id);
}

GLimiter::Verdict GLimiter::CheckG(GravityRecord& r, double g, uint32_t now)
{
    // The first values of each aircraft (take-off, spawning) are never tested.
    if (r.samples < kGraceSamples) {
        ++r.samples;
        return {};
    }
    if (r.samples != std::numeric_limits<uint32_t>::max())
        ++r.samples;

    // A side disabled since the aircraft went beyond it has nothing left to charge.
    if (!(r.positiveLimit > 0.0))
        r.overSince = 0;
    if (!(r.negativeLimit < 0.0))
        r.underSince = 0;
    // Switched to "maximum damage at once" while beyond a limit: there is no interval left to
    // count in, so the value is judged afresh under the new setting.
    if (r.damageInterval == 0)
        r.overSince = r.underSince = 0;

    // Entering a state needs G strictly beyond the limit, staying in it G at or beyond it.
    if (r.overSince != 0) {
        const uint32_t amount = Charge(r.overSince, now, r.damageInterval, r.damageStep);
        if (g < r.positiveLimit)
            r.overSince = 0;
        return {amount, false};
    }
    if (r.underSince != 0) {
        const uint32_t amount = Charge(r.underSince, now, r.damageInterval, r.damageStep);
        if (g > r.negativeLimit)
            r.underSince = 0;
        return {amount, false};
    }
    if (r.positiveLimit > 0.0 && g > r.positiveLimit) {
        if (r.damageInterval == 0)
            return {kMaxDamage, true};
        r.overSince = Stamp(now);
        return {1, false};
    }
    if (r.negativeLimit < 0.0 && g < r.negativeLimit) {
        if (r.damageInterval == 0)
            return {kMaxDamage, true};
        r.underSince = Stamp(now);
        return {1, false};
    }
    return {};
}

void GLimiter::Punish(uint32_t aircraftId, uint32_t amount) const
{
    if (punish_)
        punish_(aircraftId, static_cast<uint16_t>(amount));
}

std::string FormatG(double value, bool showSign)
{
    // to_chars with a precision is printf in the "C" locale: "%g" is general form, 6 digits.
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::general, 6);
    std::string out(text, result.ptr);
    if (showSign && out.front() != '-')
        out.insert(out.begin(), '+');
    return out;
}

double ParseNumber(std::string_view text)
{
    std::string_view number = text;
    const bool negative = TakeSpaceAndSign(number);
    // from_chars accepts a minus sign of its own; after ours a second sign is no number.
    if (number.empty() || number.front() == '+' || number.front() == '-')
        return 0.0;

    bool hex = false;
    if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X') && number[2] != '+' &&
        number[2] != '-') {
        hex = true;
        number.remove_prefix(2);
    }
    double value = 0.0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                     hex ? std::chars_format::hex : std::chars_format::general);
    if (ec == std::errc::invalid_argument) {
        // No number at all gives +0; "0x" without hexadecimal digits is the number 0 before it.
        if (!hex)
            return 0.0;
        value = 0.0;
    } else if (ec == std::errc::result_out_of_range) {
        const auto matched = number.substr(0, static_cast<size_t>(end - number.data()));
        value = TooLarge(matched, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace zpmoni
