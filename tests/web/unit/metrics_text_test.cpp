// SPDX-License-Identifier: MIT
#include "web/metrics_text.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace zpmoni;

// Reads the text as a scraper would: every sample must belong to a family declared by TYPE
// (with HELP) before it; the samples by "name{labels}".
std::map<std::string, std::string> Scrape(const std::string& text)
{
    static const std::regex sample(R"re(([a-z_]+)(\{[a-z]+="(?:[^"\\\n]|\\[\\"n])*"\})? ([0-9]+))re");
    static const std::regex meta(R"(# (HELP|TYPE) ([a-z_]+) (.+))");
    std::map<std::string, std::string> types, values;
    std::set<std::string> helped;
    std::istringstream in(text);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, meta)) {
            if (m[1] == "HELP")
                helped.insert(m[2]);
            else
                types[m[2]] = m[3];
        } else if (std::regex_match(line, m, sample)) {
            const std::string name = m[1];
            EXPECT_TRUE(types.count(name) && helped.count(name)) << line;
            EXPECT_TRUE(types[name] != "counter" || (name.size() > 6 && name.ends_with("_total"))) << line;
            EXPECT_TRUE(values.emplace(name + std::string(m[2]), m[3]).second) << "twice: " << line;
        } else {
            ADD_FAILURE() << "not exposition format: " << line;
        }
    }
    EXPECT_TRUE(text.ends_with('\n'));
    return values;
}

TEST(MetricsText, EverySampleIsTypedAndCarriesItsValue)
{
    MetricsSnapshot m;
    m.playersOnline = 5, m.bytesIn = 123456789012, m.datagramsOut = 7, m.restartsByCause = {{"crash", 2}}, m.serverUp = true;
    const auto values = Scrape(MetricsText(m, 3, "1.2 \"x\"\\\n"));
    const std::map<std::string, std::string> expected = {
        {"zpmoni_players_online", "5"}, {"zpmoni_bytes_total{direction=\"in\"}", "123456789012"},
        {"zpmoni_datagrams_total{direction=\"out\"}", "7"}, {"zpmoni_server_restarts_total{cause=\"crash\"}", "2"},
        {"zpmoni_server_restarts_total{cause=\"hang\"}", "0"}, {"zpmoni_server_restarts_total{cause=\"operator\"}", "0"},
        {"zpmoni_server_restarts_total{cause=\"schedule\"}", "0"}, {"zpmoni_server_up", "1"},
        {"zpmoni_client_connected", "0"}, {"zpmoni_console_live_clients", "3"},
        {"zpmoni_build_info{version=\"1.2 \\\"x\\\"\\\\\\n\"}", "1"},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(values.count(key) ? values.at(key) : "missing", value) << key;
    EXPECT_EQ(values.size(), 19u);  // every family of the API, restarts by four causes
}
