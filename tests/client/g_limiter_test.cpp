// SPDX-License-Identifier: MIT
#include "client/g_limiter.h"

#include "base/protocol.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace zpmoni;

namespace {

using Hits = std::vector<std::pair<uint32_t, uint16_t>>;
constexpr uint32_t kId = 7;
constexpr uint16_t kMax = GLimiter::kMaxDamage;

// Little-endian fields of `width` bytes; the body is exactly as long as given, so ASan sees a read
// beyond it.
std::vector<uint8_t> Body(size_t length, std::initializer_list<std::pair<size_t, int>> fields, size_t width = 4)
{
    std::vector<uint8_t> b(length);
    for (auto [at, value] : fields)
        for (size_t i = 0; i < width && at + i < length; ++i)
            b[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
}

struct Limiter {
    Limiter(double negative, double positive, uint32_t interval)
    {
        lim.ApplyLimits(negative, positive);
        lim.ApplyDamage(interval, 1);
    }
    void Add(uint32_t id, size_t length = 140, int kind = 0)
    {
        // The pilot's name: the id's digits, then bytes past the name's 15 that must not count.
        auto b = Body(length, {{0, kind}, {4, static_cast<int>(id)}, {124, 0x41414100 + static_cast<int>(id % 10) + '0'}});
        if (length >= 144)
            std::fill(b.begin() + 128, b.begin() + 144, 'B');
        lim.OnAddObject(b.data(), b.size());
    }
    void Remove(uint32_t id, size_t length = 4)
    {
        auto b = Body(length, {{0, static_cast<int>(id)}});
        lim.OnRemoveObject(b.data(), b.size());
    }
    void State(uint32_t id, double g, uint32_t now, int format = 0, size_t length = 64)
    {
        auto b = Body(length, {{4, static_cast<int>(id)}, {8, format}, {42, static_cast<int>(std::lround(g * 100))}});
        lim.OnAirState(b.data(), b.size(), now);
    }
    // Announces the aircraft and uses up its grace in range.
    void AddPastGrace(uint32_t id)
    {
        Add(id);
        for (uint32_t i = 0; i < GLimiter::kGraceSamples; ++i)
            State(id, 1.0, 0);
        hits.clear();
    }
    Hits Take() { return std::exchange(hits, {}); }

    Hits hits;
    GLimiter lim{[this](uint32_t id, uint16_t amount) { hits.emplace_back(id, amount); }};
};

// Each scenario: limits and interval, the tick of the first state, then the states past the grace
// (ms after that start, G) and the damage each brings.
TEST(GLimiter, ChargesExactly)
{
    struct Scenario {
        const char* name;
        double negative, positive;
        uint32_t interval, start;
        std::vector<std::tuple<uint32_t, double, std::vector<uint16_t>>> steps;
    };
    const Scenario scenarios[] = {
        {"whole intervals, the remainder carries", -3, 7, 1000, 5000,
         {{0, 9, {1}}, {999, 9, {}}, {1000, 9, {1}}, {3500, 9, {2}}, {3999, 9, {}}, {4000, 9, {1}},
          {4900, 6.5, {}}, {6000, 6.5, {}}, {6100, 9, {1}}}},
        {"G at the limit stays but never enters", -3, 7, 1000, 5000,
         {{0, 9, {1}}, {500, 7, {}}, {1000, 7, {1}}, {1500, 6.99, {}}, {3000, 7, {}}, {5000, 7, {}}}},
        {"negative side, one side at a time", -3, 7, 1000, 5000,
         {{0, -4, {1}}, {1000, -3, {1}}, {2000, -3, {1}}, {2500, -2.99, {}}, {3000, -3, {}}, {4000, 9, {1}},
          {4500, -5, {}}, {4600, -5, {1}}}},
        {"interval 0 repeats whatever G", -3, 7, 0, 5000, {{0, 7, {}}, {1, 9, {kMax}}, {2, 0, {kMax}}, {3, -9, {kMax}}}},
        {"no limits never punish", 0, 0, 0, 5000, {{0, 300, {}}, {1, -300, {}}, {2, 9, {}}}},
        {"clock wraps while above", -3, 7, 1000, 0xFFFFFFFFu - 299, {{0, 9, {1}}, {999, 9, {}}, {1000, 9, {1}}, {2000, 9, {1}}}},
        {"detection at tick 0 is kept", -3, 7, 1000, 0, {{0, 9, {1}}, {0, 9, {}}, {1000, 9, {}}, {1001, 9, {1}}}},
        {"interval ending at tick 0 is kept", -3, 7, 1000, 0xFFFFFFFFu - 999,
         {{0, 9, {1}}, {1000, 9, {1}}, {1500, 9, {}}, {2001, 9, {1}}}},
        {"long silence charged once as maximum", -3, 7, 1, 5000,
         {{0, 9, {1}}, {70000, 9, {kMax}}, {70001, 3, {1}}, {80000, 3, {}}}}};
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        Limiter l(s.negative, s.positive, s.interval);
        l.AddPastGrace(kId);
        for (const auto& [at, g, damage] : s.steps) {
            l.State(kId, g, s.start + at);
            Hits expected;
            for (uint16_t d : damage)
                expected.emplace_back(kId, d);
            EXPECT_EQ(l.Take(), expected) << "at +" << at << " ms, G " << g;
        }
    }
}

TEST(GLimiter, GLoadByFormat)
{
    // format, G field's offset and width, body length, raw value; G in hundredths, -1 for none.
    const std::tuple<int, size_t, size_t, size_t, int, int> rows[] = {
        {3, 42, 2, 44, -301, -301}, {5, 62, 1, 63, -31, -310}, {6, 42, 2, 64, 900, -1}, {0, 42, 2, 43, 900, -1},
        {4, 62, 1, 62, 90, -1}};
    for (auto [format, at, width, length, raw, g] : rows) {
        auto b = Body(length, {{at, raw}}, width);
        b[8] = static_cast<uint8_t>(format);
        const auto got = AirStateG({b.data(), b.size()});
        EXPECT_EQ(got ? std::lround(*got * 100) : -1, g) << format << " " << length;
    }
}

TEST(GLimiter, WatchedAircraftAndPendingDamage)
{
    Limiter l(-3, 7, 0);
    l.Add(5, 140, 1);  // not an aircraft
    l.Add(6, 7);       // id cut off
    l.AddPastGrace(kId);
    l.AddPastGrace(8);
    l.Add(kId);  // again: the grace already spent is kept
    for (uint32_t id : {5u, 6u})
        for (int i = 0; i < 40; ++i)
            l.State(id, 9, 1);
    EXPECT_EQ(l.Take(), Hits{});
    l.State(kId, 9, 1);
    l.State(kId, 9, 1);  // one pending entry, repeated with every state
    l.State(8, 9, 1);
    // States without a usable G (format above 5, cut before the field) still bring pending damage.
    l.State(kId, 1, 2, 6);
    l.State(kId, 1, 2, 0, 43);
    l.State(kId, 1, 2, 0, 7);  // no complete id: concerns nobody
    EXPECT_EQ(l.Take(), (Hits{{kId, kMax}, {kId, kMax}, {8, kMax}, {kId, kMax}, {kId, kMax}}));
    // Who flies what, as announced: a name cut at 15 bytes, none from a body too short for one.
    l.Add(9, 150);
    l.Add(10, 138);
    EXPECT_EQ(l.lim.PilotOf(9), "9AAABBBBBBBBBBB");
    EXPECT_EQ(l.lim.PilotOf(8), "8AAA");
    EXPECT_EQ(l.lim.PilotOf(10), "");
    l.Remove(8, 3);  // too short: ignored
    l.Remove(kId);
    l.State(kId, 9, 3);
    l.State(8, 1, 3);
    EXPECT_EQ(l.Take(), (Hits{{8, kMax}}));
    l.Add(kId);  // back: a fresh record with a fresh grace
    l.State(kId, 9, 4);
    EXPECT_EQ(l.Take(), Hits{});
}

// A stream of invented ids fills the list only up to its bound; each one beyond pushes out the
// aircraft seen least recently, with its pending damage, and aircraft still flying stay watched.
TEST(GLimiter, WatchedListIsBounded)
{
    Limiter l(-3, 7, 0);
    l.AddPastGrace(kId);
    l.AddPastGrace(8);
    l.State(8, 9, 1);
    l.State(kId, 9, 1);
    for (uint32_t id = 1000; l.lim.Watched() < GLimiter::kMaxWatched; ++id)
        l.Add(id);
    l.State(kId, 1, 2);  // seen again: now the most recent
    l.Add(99999);        // pushes out 8, the least recently seen
    l.Add(99998);        // then the first invented id
    EXPECT_EQ(l.lim.Watched(), GLimiter::kMaxWatched);
    l.State(8, 9, 3);
    l.State(kId, 1, 3);
    EXPECT_EQ(l.Take(), (Hits{{8, kMax}, {kId, kMax}, {kId, kMax}, {kId, kMax}}));
}

TEST(GLimiter, SettingsApplyToExistingRecords)
{
    Limiter l(-3, 7, 1000);
    l.AddPastGrace(kId);
    l.AddPastGrace(8);
    l.State(kId, 9, 10);
    l.State(8, -4, 10);
    l.lim.ApplyDamage(0, 1);  // no interval left to divide by: judged afresh
    l.State(kId, 9, 20);
    l.State(8, -2, 20);
    l.lim.ApplyLimits(-5, 8);
    l.lim.ApplyDamage(2000, 3);
    l.State(kId, 7.9, 30);
    l.State(8, -4, 30);
    l.State(8, -5.5, 40);
    l.State(8, -5.5, 4040);
    l.lim.ApplyLimits(0, 8);  // negative side disabled: nothing left to charge
    l.State(8, -9, 9000);
    EXPECT_EQ(l.Take(), (Hits{{kId, 1}, {8, 1}, {kId, kMax}, {kId, kMax}, {8, 1}, {8, 6}}));
}

TEST(GLimiter, LimitsNameAndSettingsFile)
{
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"", "No_Glimit", "Max=0\nMin=0\nInterval=0"},
        {"Max=5\nMin=-1\n", "Glim=+7-3", "Max=7\nMin=-3\nInterval=0"},
        {"Max=abc\nMin=9.5x\nInterval=250\n", "Glim=-3", "Max=0\nMin=-3\nInterval=250"},
        {"Max=12.345\nMin=-10.25\n", "+12.345-10.25", "Max=12.345\nMin=-10.25\nInterval=0"},
        {"Max=9\nMin=0\n", "Glim=+9", "Max=9\nMin=0\nInterval=0"},
        {"Max=123456789\n", "+1.23457e+08", "Max=1.23457e+08\nMin=0\nInterval=0"},
        // Read like C's atof and written like printf's "%g" in the "C" locale.
        {"Max= 0x1p3\nMin=\t-Infinity\n", "Glim=+8-inf", "Max=8\nMin=-inf\nInterval=0"},
        {"Max=1e400\nMin=-1e-400\n", "Glim=+inf", "Max=inf\nMin=-0\nInterval=0"},
        {"Max=+-5\nMin=-0xg\n", "No_Glimit", "Max=0\nMin=-0\nInterval=0"},
        {"Max=.5e2\nMin=-12345.65\n", "+50-12345.6", "Max=50\nMin=-12345.6\nInterval=0"}};
    for (auto [ini, name, saved] : rows) {
        TempFolder dir;
        GLimiter lim(nullptr);
        lim.LoadSettings(ProfileStore(dir.Write("in.ini", std::string("[BanGravity]\n") + ini)));
        EXPECT_EQ(lim.LimitName(), name) << ini;
        ProfileStore out(dir.File("out.ini"));
        lim.SaveSettings(out);
        EXPECT_EQ(dir.Read("out.ini"), std::string("[BanGravity]\n") + saved + "\n") << ini;
    }
}

TEST(GLimiter, NumbersIgnoreADecimalCommaLocale)
{
    // What QCoreApplication's setlocale(LC_ALL, "") does for a German user.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || *std::localeconv()->decimal_point != ',') {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no de_DE.UTF-8 locale with a decimal comma is installed";
    }
    const std::string text = FormatG(12.345, true);
    const double number = ParseNumber("9.5");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "+12.345");
    EXPECT_EQ(number, 9.5);
}

}  // namespace
