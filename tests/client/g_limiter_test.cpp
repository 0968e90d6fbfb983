// SPDX-License-Identifier: MIT
#include "client/g_limiter.h"

#include "base/protocol.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

using Hits = std::vector<std::pair<uint32_t, uint16_t>>;
constexpr uint32_t kId = 7;
constexpr uint16_t kMax = GLimiter::kMaxDamage;

// A little-endian field; bodies are exactly as long as given, so ASan sees a read beyond them.
std::vector<uint8_t> Body(size_t length, std::initializer_list<std::pair<size_t, int>> fields, size_t width = 4)
{
    std::vector<uint8_t> b(length);
    for (auto [at, value] : fields)
        for (size_t i = 0; i < width && at + i < length; ++i)
            b[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
}

struct Limiter {
    Hits hits;
    GLimiter lim{[this](uint32_t id, uint16_t amount) { hits.emplace_back(id, amount); }};

    Limiter(double negative, double positive, uint32_t interval)
    {
        lim.ApplyLimits(negative, positive);
        lim.ApplyDamage(interval, 1);
    }
    void Add(uint32_t id, size_t length = 140, uint16_t kind = 0)
    {
        auto b = Body(length, {{0, kind}, {4, static_cast<int>(id)}});
        lim.OnAddObject(b.data(), b.size());
    }
    void Remove(uint32_t id, size_t length = 4)
    {
        auto b = Body(length, {{0, static_cast<int>(id)}});
        lim.OnRemoveObject(b.data(), b.size());
    }
    void State(uint32_t id, double g, uint32_t now, uint16_t format = 0, size_t length = 64)
    {
        auto b = Body(length, {{4, static_cast<int>(id)}, {8, format}, {42, static_cast<int>(std::lround(g * 100))}});
        lim.OnAirState(b.data(), b.size(), now);
    }
    // Announces the aircraft and uses up its grace in range.
    void AddPastGrace(uint32_t id, uint32_t now)
    {
        Add(id);
        for (uint32_t i = 0; i < GLimiter::kGraceSamples; ++i)
            State(id, 1.0, now);
        hits.clear();
    }
    Hits Take() { return std::exchange(hits, {}); }
};

struct Step {
    uint32_t at;  // milliseconds after the scenario's start tick
    double g;
    std::vector<uint16_t> damage;
};
struct Scenario {
    const char* name;
    double negative, positive;
    uint32_t interval, start;
    std::vector<Step> steps;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class GLimiterScenario : public testing::TestWithParam<Scenario> {};

TEST_P(GLimiterScenario, ChargesExactly)
{
    const Scenario& s = GetParam();
    Limiter l(s.negative, s.positive, s.interval);
    l.AddPastGrace(kId, s.start);
    for (const Step& step : s.steps) {
        l.State(kId, step.g, s.start + step.at);
        Hits expected;
        for (uint16_t d : step.damage)
            expected.emplace_back(kId, d);
        EXPECT_EQ(l.Take(), expected) << "at +" << step.at << " ms, G " << step.g;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GLimiterScenario,
    testing::Values(
        Scenario{"WholeIntervalsRemainderCarries", -3, 7, 1000, 5000,
                 {{0, 9, {1}}, {999, 9, {}}, {1000, 9, {1}}, {3500, 9, {2}}, {3999, 9, {}}, {4000, 9, {1}},
                  {4900, 6.5, {}}, {6000, 6.5, {}}, {6100, 9, {1}}}},
        Scenario{"GAtLimitStaysButNeverEnters", -3, 7, 1000, 5000,
                 {{0, 9, {1}}, {500, 7, {}}, {1000, 7, {1}}, {1500, 6.99, {}}, {3000, 7, {}}, {5000, 7, {}}}},
        Scenario{"NegativeSideAndOneSideAtATime", -3, 7, 1000, 5000,
                 {{0, -4, {1}}, {1000, -3, {1}}, {2000, -3, {1}}, {2500, -2.99, {}}, {3000, -3, {}}, {4000, 9, {1}},
                  {4500, -5, {}}, {4600, -5, {1}}}},
        Scenario{"IntervalZeroRepeatsWhateverG", -3, 7, 0, 5000,
                 {{0, 7, {}}, {1, 9, {kMax}}, {2, 0, {kMax}}, {3, -9, {kMax}}}},
        Scenario{"NoLimitsNeverPunish", 0, 0, 0, 5000, {{0, 300, {}}, {1, -300, {}}, {2, 9, {}}}},
        Scenario{"ClockWrapsWhileAbove", -3, 7, 1000, 0xFFFFFFFFu - 299,
                 {{0, 9, {1}}, {999, 9, {}}, {1000, 9, {1}}, {2000, 9, {1}}}},
        Scenario{"DetectionAtTickZeroIsKept", -3, 7, 1000, 0,
                 {{0, 9, {1}}, {0, 9, {}}, {1000, 9, {}}, {1001, 9, {1}}}},
        Scenario{"IntervalEndingAtTickZeroIsKept", -3, 7, 1000, 0xFFFFFFFFu - 999,
                 {{0, 9, {1}}, {1000, 9, {1}}, {1500, 9, {}}, {2001, 9, {1}}}},
        Scenario{"LongSilenceChargedOnceAsMaximum", -3, 7, 1, 5000,
                 {{0, 9, {1}}, {70000, 9, {kMax}}, {70001, 3, {1}}, {80000, 3, {}}}}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(GLimiter, GLoadByFormat)
{
    struct Row {
        uint16_t format;
        size_t at, width, length;
        int raw;
        std::optional<double> g;
    };
    const Row rows[] = {{0, 42, 2, 64, -301, -3.01}, {3, 42, 2, 44, 900, 9.0}, {4, 62, 1, 63, -31, -3.1},
                        {5, 62, 1, 64, 71, 7.1},    {6, 42, 2, 64, 900, {}},  {0, 42, 2, 43, 900, {}},
                        {4, 62, 1, 62, 90, {}},     {0, 8, 2, 9, 0, {}}};
    for (const Row& r : rows) {
        auto b = Body(r.length, {{r.at, r.raw}}, r.width);
        b[8] = static_cast<uint8_t>(r.format);  // every row's body reaches past the format
        EXPECT_NEAR(AirStateG({b.data(), b.size()}).value_or(-99), r.g.value_or(-99), 1e-9) << r.format << " " << r.length;
    }
}

TEST(GLimiter, WatchedAircraftAndPendingDamage)
{
    Limiter l(-3, 7, 0);
    l.Add(5, 140, 1);  // not an aircraft
    l.Add(6, 7);       // id cut off
    l.AddPastGrace(kId, 0);
    l.AddPastGrace(8, 0);
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
    l.Remove(8, 3);  // too short: ignored
    l.Remove(kId);
    l.State(kId, 9, 3);
    l.State(8, 1, 3);
    EXPECT_EQ(l.Take(), (Hits{{8, kMax}}));
    l.Add(kId);  // back: a fresh record with a fresh grace
    l.State(kId, 9, 4);
    EXPECT_EQ(l.Take(), Hits{});
}

TEST(GLimiter, SettingsApplyToExistingRecords)
{
    Limiter l(-3, 7, 1000);
    l.AddPastGrace(kId, 0);
    l.AddPastGrace(8, 0);
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
    struct Row {
        const char* ini;
        const char* name;
        const char* saved;
    };
    const Row rows[] = {
        {"", "No_Glimit", "Max=0\nMin=0\nInterval=0"},
        {"Max=5\nMin=-1\n", "Glim=+7-3", "Max=7\nMin=-3\nInterval=0"},
        {"Max=abc\nMin=9.5x\nInterval=250\n", "Glim=-3", "Max=0\nMin=-3\nInterval=250"},
        {"Max=12.345\nMin=-10.25\n", "+12.345-10.25", "Max=12.345\nMin=-10.25\nInterval=0"},
        {"Max=9\nMin=0\n", "Glim=+9", "Max=9\nMin=0\nInterval=0"},
        {"Max=123456789\n", "+1.23457e+08", "Max=1.23457e+08\nMin=0\nInterval=0"},
    };
    for (const Row& r : rows) {
        TempFolder dir;
        ProfileStore in(dir.Write("in.ini", std::string("[BanGravity]\n") + r.ini));
        ProfileStore out(dir.File("out.ini"));
        GLimiter lim(nullptr);
        lim.LoadSettings(in);
        EXPECT_EQ(lim.LimitName(), r.name) << r.ini;
        lim.SaveSettings(out);
        EXPECT_EQ(dir.Read("out.ini"), std::string("[BanGravity]\n") + r.saved + "\n") << r.ini;
    }
}

TEST(GLimiter, NumbersReadAndWrittenLikeCLocalePrintf)
{
    // The test process never calls setlocale, so the C library runs in the "C" locale.
    for (double v : {9.0, -3.0, 0.0, -0.0, 12.345, 1e-05, 0.0001, 100000.0, 1234567.0, 123456.5, 7.0000001, 1e300,
                     -2.5e-300, double(INFINITY), double(NAN)}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%+g", v);
        EXPECT_EQ(FormatG(v, true), expected);
        EXPECT_EQ(FormatG(v, false), expected + (expected[0] == '+'));
    }
    for (const char* t : {"9.5", "abc", "  12", "\t-3.5", "+8", ".5", "1e2", "1e", "1e+", "", "-", "+-5", "--1",
                          "9,5", "0x10", "0x", "-0x1p3", "inf", "-Infinity", "1e400", "-1e400", "1e-400", "-0x"}) {
        const double expected = std::strtod(t, nullptr);
        const double got = ParseNumber(t);
        EXPECT_TRUE(got == expected && std::signbit(got) == std::signbit(expected)) << '"' << t << '"';
    }
    EXPECT_TRUE(std::isnan(ParseNumber("nan")));
}

}  // namespace
