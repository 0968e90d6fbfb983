// SPDX-License-Identifier: MIT
#include "client/g_limiter.h"
#include "base/protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <tuple>
#include <utility>
#include <vector>

#include "support/temp_folder.h"

namespace {

using Hits = std::vector<std::pair<uint32_t, uint16_t>>;
constexpr uint32_t kId = 7;
constexpr uint16_t kMax = GLimiter::kMaxDamage;

// Little-endian field; fields beyond a deliberately short body are left out.
void Put(std::vector<uint8_t>& b, size_t at, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width && at + i < b.size(); ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Bodies are exactly as long as given, so the sanitizer sees any read beyond them.
std::vector<uint8_t> StateBody(uint32_t id, uint16_t format, size_t gAt, int raw, size_t length = 64)
{
    std::vector<uint8_t> b(length);
    Put(b, 4, id, 4);
    Put(b, 8, format, 2);
    Put(b, gAt, static_cast<uint32_t>(raw), gAt == 62 ? 1 : 2);
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
    void Add(uint32_t id, uint16_t kind = 0, size_t length = 140)
    {
        std::vector<uint8_t> b(length);
        Put(b, 0, kind, 2);
        Put(b, 4, id, 4);
        lim.OnAddObject(b.data(), b.size());
    }
    void Remove(uint32_t id, size_t length = 4)
    {
        std::vector<uint8_t> b(length);
        Put(b, 0, id, 4);
        lim.OnRemoveObject(b.data(), b.size());
    }
    void Send(const std::vector<uint8_t>& b, uint32_t now) { lim.OnAirState(b.data(), b.size(), now); }
    void State(uint32_t id, double g, uint32_t now) { Send(StateBody(id, 0, 42, static_cast<int>(std::lround(g * 100))), now); }
    // Announces the aircraft and uses up its grace in range.
    void AddPastGrace(uint32_t id, uint32_t now)
    {
        Add(id);
        for (uint32_t i = 0; i < GLimiter::kGraceSamples; ++i)
            State(id, 1.0, now);
        hits.clear();
    }
    std::vector<uint16_t> Amounts()  // of kId, which the tests using this watch alone
    {
        std::vector<uint16_t> out;
        for (auto [id, amount] : std::exchange(hits, {}))
            out.push_back(id == kId ? amount : 0);
        return out;
    }
    const GravityRecord& Front() const { return lim.Records().front(); }
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
        SCOPED_TRACE(testing::Message() << "at +" << step.at << " ms, G " << step.g);
        l.State(kId, step.g, s.start + step.at);
        EXPECT_EQ(l.Amounts(), step.damage);
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

TEST(GLimiter, GraceIsPerAircraft)
{
    Limiter l(-3, 7, 1000);
    l.Add(kId);
    for (uint32_t i = 0; i < GLimiter::kGraceSamples; ++i)
        l.State(kId, 9, 100 + i);
    EXPECT_EQ(l.Amounts(), std::vector<uint16_t>{});
    l.Add(8);
    l.State(kId, 9, 200);
    l.State(8, 9, 200);
    EXPECT_EQ(l.hits, (Hits{{kId, 1}}));
    EXPECT_EQ(l.Front().samples, GLimiter::kGraceSamples + 1);
}

TEST(GLimiter, GLoadFieldDependsOnFormat)
{
    struct Row { uint16_t format; size_t at; int raw; std::vector<uint16_t> damage; uint32_t samples; };
    const Row rows[] = {
        {0, 42, 701, {1}, 32}, {3, 42, 900, {1}, 32}, {3, 42, 700, {}, 32}, {0, 42, -301, {1}, 32},
        {4, 62, 71, {1}, 32}, {5, 62, 70, {}, 32}, {5, 62, -31, {1}, 32},
        {4, 42, 900, {}, 32}, {0, 62, 90, {}, 32},  // the other format's field is not read
        {6, 42, 900, {}, 31}, {0xFFFF, 62, 90, {}, 31},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "format " << r.format << " raw " << r.raw << " at +" << r.at);
        Limiter l(-3, 7, 1000);
        l.AddPastGrace(kId, 0);
        l.State(kId, 1, 0);
        l.Send(StateBody(kId, r.format, r.at, r.raw), 10);
        EXPECT_EQ(l.Amounts(), r.damage);
        EXPECT_EQ(l.Front().samples, r.samples);
    }
}

TEST(GLimiter, UnusableStateStillAppliesPendingDamage)
{
    Limiter l(-3, 7, 0);
    l.AddPastGrace(kId, 0);
    l.State(kId, 9, 1);
    ASSERT_EQ(l.Amounts(), std::vector<uint16_t>{kMax});
    // Format above 5, and bodies that end inside the G field or the format: G is not taken.
    const std::vector<uint8_t> bodies[] = {StateBody(kId, 6, 42, 0), StateBody(kId, 0, 42, 900, 43),
                                           StateBody(kId, 4, 62, 90, 62), StateBody(kId, 0, 42, 900, 9)};
    for (const auto& b : bodies) {
        l.Send(b, 2);
        EXPECT_EQ(l.Amounts(), std::vector<uint16_t>{kMax}) << "length " << b.size();
    }
    EXPECT_EQ(l.Front().samples, GLimiter::kGraceSamples + 1);
    l.Send(StateBody(kId, 0, 42, 900, 7), 3);  // no complete id: concerns nobody
    EXPECT_TRUE(l.hits.empty());
    EXPECT_EQ(l.lim.Damages().size(), 1u);
}

TEST(GLimiter, OnlyAnnouncedAircraftAreWatched)
{
    Limiter l(-3, 7, 0);
    l.Add(5, 1);                           // not an aircraft
    l.Add(6, 0, 7);                        // id cut off
    l.AddPastGrace(kId, 0);
    l.Add(kId);                            // again: the grace already spent is kept
    for (uint32_t id : {5u, 6u, 9u})
        for (int i = 0; i < 40; ++i)
            l.State(id, 9, 1);
    EXPECT_TRUE(l.hits.empty());
    ASSERT_EQ(l.lim.Records().size(), 1u);
    l.State(kId, 9, 2);
    EXPECT_EQ(l.hits, (Hits{{kId, kMax}}));
}

TEST(GLimiter, RemoveDropsRecordAndEntryOfThatAircraftOnly)
{
    Limiter l(-3, 7, 0);
    l.AddPastGrace(kId, 0);
    l.AddPastGrace(8, 0);
    l.State(kId, 9, 1);
    l.State(kId, 9, 1);  // one entry per aircraft, however often it is caught
    l.State(8, 9, 1);
    l.Remove(8, 3);      // too short: ignored
    l.Remove(kId);
    l.hits.clear();
    l.State(kId, 9, 2);
    l.State(8, 1, 2);
    EXPECT_EQ(l.hits, (Hits{{8, kMax}}));
    ASSERT_EQ(l.lim.Records().size(), 1u);
    EXPECT_EQ(l.Front().aircraftId, 8u);
    ASSERT_EQ(l.lim.Damages().size(), 1u);
    EXPECT_EQ(l.lim.Damages().front().aircraftId, 8u);
    l.Add(kId);  // back: a fresh record with a fresh grace
    l.State(kId, 9, 3);
    EXPECT_EQ(l.lim.Records().back().samples, 1u);
}

TEST(GLimiter, SettingsRewriteExistingAndNewRecords)
{
    Limiter l(-3, 7, 1000);
    l.AddPastGrace(kId, 0);
    l.lim.ApplyLimits(-4, 8);
    l.lim.ApplyDamage(2000, 3);
    l.Add(8);
    for (const GravityRecord& r : l.lim.Records()) {
        EXPECT_EQ(std::make_tuple(r.negativeLimit, r.positiveLimit, r.damageInterval, r.damageStep),
                  std::make_tuple(-4.0, 8.0, 2000u, int16_t{3}));
    }
    l.State(kId, 7.9, 10);
    l.State(kId, 8.5, 20);
    l.State(kId, 8.5, 4020);
    EXPECT_EQ(l.Amounts(), (std::vector<uint16_t>{1, 6}));
}

TEST(GLimiter, SettingChangesWhileBeyondALimit)
{
    Limiter l(-3, 7, 1000);
    l.AddPastGrace(kId, 0);
    l.AddPastGrace(8, 0);
    l.State(kId, 9, 10);
    l.State(8, -4, 10);
    l.hits.clear();
    l.lim.ApplyDamage(0, 1);  // no interval left to divide by: judged afresh
    l.State(kId, 9, 20);
    l.State(8, -2, 20);
    l.State(kId, 1, 30);
    l.State(8, -4, 30);
    EXPECT_EQ(l.hits, (Hits{{kId, kMax}, {kId, kMax}, {8, kMax}}));

    Limiter off(-3, 7, 1000);
    off.AddPastGrace(kId, 0);
    off.State(kId, 9, 10);
    off.lim.ApplyLimits(-3, 0);  // positive side disabled: nothing left to charge
    off.State(kId, 9, 5000);
    EXPECT_EQ(off.Amounts(), std::vector<uint16_t>{1});
    EXPECT_EQ(off.Front().overSince, 0u);
}

TEST(GLimiter, NormaliseAndLimitName)
{
    const std::pair<double, double> positive[] = {{5, 7}, {7, 7}, {7.5, 7.5}, {0, 0}, {-2, 7}};
    const std::pair<double, double> negative[] = {{-1, -3}, {-3, -3}, {-3.5, -3.5}, {0, 0}, {2, -3}};
    for (auto [in, out] : positive)
        EXPECT_EQ(GLimiter::NormalisePositive(in), out) << in;
    for (auto [in, out] : negative)
        EXPECT_EQ(GLimiter::NormaliseNegative(in), out) << in;

    struct Row { double positive, negative; const char* name; };
    const Row rows[] = {{9, -3, "Glim=+9-3"}, {0, 0, "No_Glimit"}, {12.345, -10.25, "+12.345-10.25"},
                        {9, 0, "Glim=+9"}, {0, -4.5, "Glim=-4.5"}, {10, -10, "Glim=+10-10"},
                        {123456789, 0, "+1.23457e+08"}, {0, -1234567, "-1.23457e+06"}};
    for (const Row& r : rows) {
        GLimiter lim(nullptr);
        lim.ApplyLimits(r.negative, r.positive);
        EXPECT_EQ(lim.LimitName(), r.name);
    }
}

TEST(GLimiter, NumbersReadAndWrittenLikeCLocalePrintf)
{
    // The test process never calls setlocale, so the C library runs in the "C" locale.
    const double values[] = {9, -3, 0, -0.0, 12.345, -10.25, 1e-05, 0.0001, 100000, 1234567, 123456.5,
                             7.0000001, 1e300, -2.5e-300, INFINITY, -INFINITY, NAN};
    for (double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", v);
        EXPECT_EQ(FormatG(v, false), expected);
        std::snprintf(expected, sizeof expected, "%+g", v);
        EXPECT_EQ(FormatG(v, true), expected);
    }
    const char* texts[] = {"9.5", "abc", "9.5x", "  12", "\t-3.5", "+8", ".5", "1e2", "1e", "1e+", "", "-",
                           "+-5", "--1", "9,5", "0x10", "0x", "-0x1p3", "inf", "-Infinity", "1e400", "-1e400",
                           "1e-400", "0.25e-3z", "-abc", "-0x"};
    for (const char* t : texts) {
        const double expected = std::strtod(t, nullptr);
        const double got = ParseNumber(t);
        EXPECT_TRUE(got == expected && std::signbit(got) == std::signbit(expected))
            << '"' << t << "\": " << got << " vs " << expected;
    }
    EXPECT_TRUE(std::isnan(ParseNumber("nan")));
}

TEST(GLimiter, NumbersIgnoreADecimalCommaLocale)
{
    // What QCoreApplication's setlocale(LC_ALL, "") does for a German or French user.
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"}) {
        comma = std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',';
        if (comma)
            break;
    }
    if (!comma) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const std::string text = FormatG(12.345, true);
    const double number = ParseNumber("9.5");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "+12.345");
    EXPECT_EQ(number, 9.5);
}

TEST(GLimiter, LoadNormalisesAndSaveRoundTrips)
{
    struct Row { const char* ini; double positive, negative; uint32_t interval; };
    const Row rows[] = {{"", 0, 0, 0},
                        {"[BanGravity]\nMax=5\nMin=-1\n", 7, -3, 0},
                        {"[BanGravity]\nMax=abc\nMin=9.5x\nInterval=250\n", 0, -3, 250},
                        {"[BanGravity]\nMax=12.345\nMin=-10.25\nInterval=1500\n", 12.345, -10.25, 1500}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ini);
        TempFolder dir;
        WriteText(dir.File("Zpmoni.ini"), r.ini);
        ProfileStore store(dir.File("Zpmoni.ini"));
        Limiter l(-5, 9, 99);
        l.Add(kId);
        l.lim.LoadSettings(store);
        EXPECT_EQ(std::make_tuple(l.lim.PositiveLimit(), l.lim.NegativeLimit(), l.lim.Interval()),
                  std::make_tuple(r.positive, r.negative, r.interval));
        EXPECT_EQ(std::make_tuple(l.Front().positiveLimit, l.Front().negativeLimit, l.Front().damageInterval),
                  std::make_tuple(r.positive, r.negative, r.interval));

        std::remove(store.Path().c_str());
        l.lim.SaveSettings(store);
        GLimiter back(nullptr);
        back.LoadSettings(store);
        EXPECT_EQ(std::make_tuple(back.PositiveLimit(), back.NegativeLimit(), back.Interval()),
                  std::make_tuple(r.positive, r.negative, r.interval));
    }
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    Limiter(-10.25, 12.345, 1500).lim.SaveSettings(store);
    EXPECT_EQ(ReadText(store.Path()), "[BanGravity]\nMax=12.345\nMin=-10.25\nInterval=1500\n");
}

TEST(GLimiter, DamageBodyLayout)
{
    const std::array<uint8_t, 20> expected = {1, 0, 0, 0, 0x04, 0x03, 0x02, 0x81, 1, 0, 0, 0,
                                              1, 0, 1, 0, 0xFF, 0x7F, 11, 0};
    EXPECT_EQ(DamageBody(0x81020304, 32767), expected);
}

} // namespace
