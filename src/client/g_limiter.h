// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>

#include "base/profile_store.h"

namespace zpmoni {

// Section of the INI file that holds the limits and the damage interval.
inline constexpr std::string_view kBanGravitySection = "BanGravity";

// One watched aircraft. A since-stamp of 0 means "not beyond that limit", so a real start time
// of 0 is kept as 1 (one millisecond later, which only delays the next charge by that much).
struct GravityRecord {
    uint32_t aircraftId;
    double positiveLimit;     // 0 = no positive limit
    double negativeLimit;     // 0 = no negative limit
    uint32_t overSince;       // tick from which unpunished time above the positive limit counts
    uint32_t underSince;      // the same below the negative limit
    uint32_t samples;         // G values examined so far
    int16_t damageStep;       // damage per whole interval
    uint32_t damageInterval;  // milliseconds; 0 = maximum damage at once
    std::string pilot = {};   // the user name the server announced with it, as bytes
};

// Maximum damage that is sent again with every state packet of the aircraft until it leaves.
struct DamageEntry {
    uint32_t aircraftId;
    uint32_t amount;
};

// Watches the G load in the state packets relayed to the monitor's own client and damages
// aircraft that stay beyond the configured range. Fed with packet bodies (frame offset 8) and
// the millisecond tick of their arrival; it never reads past a body's given length.
class GLimiter {
public:
    static constexpr uint32_t kGraceSamples = 30;
    static constexpr uint32_t kMaxDamage = 32767;
    // Most aircraft watched at once: every player's aircraft, and room for 1,024 ids announced
    // and never removed. An id from the network beyond that pushes out the one whose state was
    // seen least recently, so a stream of invented ids cannot grow the list.
    static constexpr size_t kMaxWatched = 24 + 1024;
    // Sends PKT_DAMAGE against the aircraft.
    using Punisher = std::function<void(uint32_t aircraftId, uint16_t amount)>;

    explicit GLimiter(Punisher punish);

    // Max and Min are strings read like C's atof, Interval an integer; limits are normalised.
    void LoadSettings(const ProfileStore& store);
    // Max and Min as printf's "%g" would write them (whatever the process locale), Interval as
    // an integer.
    void SaveSettings(ProfileStore& store) const;

    // The strictest range that can be set is -3 G to +7 G; 0 disables a side.
    static double NormalisePositive(double limit);
    static double NormaliseNegative(double limit);

    // Both store the value for new records and rewrite every existing record.
    void ApplyLimits(double negative, double positive);
    void ApplyDamage(uint32_t interval, int16_t step);
    double PositiveLimit() const { return positiveLimit_; }
    double NegativeLimit() const { return negativeLimit_; }
    uint32_t Interval() const { return damageInterval_; }

    // The user name that announces the limits, e.g. "Glim=+9-3" or "No_Glimit"; without the
    // "Glim=" prefix when it would exceed 15 characters (the connection cuts what is still longer).
    std::string LimitName() const;

    void OnAddObject(const uint8_t* body, size_t bodyLength);
    void OnAirState(const uint8_t* body, size_t bodyLength, uint32_t nowMs);
    void OnRemoveObject(const uint8_t* body, size_t bodyLength);
    size_t Watched() const { return gravityList_.size(); }
    // Who flies a watched aircraft, as the server announced it; empty when unknown.
    std::string_view PilotOf(uint32_t aircraftId) const;

private:
    struct Verdict {
        uint32_t amount = 0;
        bool lasting = false;  // maximum damage to repeat with every later packet
    };

    static Verdict CheckG(GravityRecord& record, double g, uint32_t now);
    // The record of the id moved to the back of the list (most recently used), or end().
    std::list<GravityRecord>::iterator Touch(uint32_t id);
    void EraseDamage(uint32_t id);
    void Punish(uint32_t aircraftId, uint32_t amount) const;

    Punisher punish_;
    double positiveLimit_ = 0.0;
    double negativeLimit_ = 0.0;
    int16_t damageStep_ = 1;
    uint32_t damageInterval_ = 0;
    std::list<GravityRecord> gravityList_;  // least recently used first
    std::list<DamageEntry> damageList_;     // only ids that have a record
};

// printf's "%g" (or "%+g" with showSign) in the "C" locale, also when the process runs under a
// locale with a decimal comma.
std::string FormatG(double value, bool showSign);
// C's atof in the "C" locale: leading white space, optional sign, then the longest number
// (decimal, hexadecimal, inf or nan) at the start; 0 when there is none.
double ParseNumber(std::string_view text);

}  // namespace zpmoni
