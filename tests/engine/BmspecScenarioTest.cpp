// The extended reading checked against another project's expectations: every scenario of the
// bmspec feature files in tests/data/bmspec, its chart loaded and each expected beat, second
// and count compared with the engine's table and times.
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "EngineFixture.h"

namespace enginetest {
namespace {

struct Scenario {
    std::string name;
    std::string chart;
    std::deque<int32_t> draws;
    std::vector<std::string> expectations;
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<Scenario> ReadScenarios() {
    std::vector<Scenario> scenarios;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(GLIMSTEP_TEST_DATA) / "bmspec"))
        if (entry.path().extension() == ".feature") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    const std::regex yields(R"(Given the random number generator yields (.*))");
    const std::regex step(R"((Then|And|But) (.*))");
    for (const auto& file : files) {
        std::ifstream in(file);
        std::string line;
        bool inChart = false;
        while (std::getline(in, line)) {
            const std::string text = Trimmed(line);
            std::smatch match;
            if (text == "\"\"\"") {
                inChart = !inChart;
            } else if (inChart) {
                if (!scenarios.empty()) scenarios.back().chart += text + "\n";
            } else if (text.starts_with("Scenario:")) {
                scenarios.push_back({file.stem().string() + ": " + Trimmed(text.substr(9)), "", {}, {}});
            } else if (scenarios.empty()) {
                continue;
            } else if (std::regex_match(text, match, yields)) {
                std::stringstream values(match[1].str());
                for (std::string value; std::getline(values, value, ',');) scenarios.back().draws.push_back(std::stoi(value));
            } else if (std::regex_match(text, match, step)) {
                scenarios.back().expectations.push_back(match[2].str());
            }
        }
    }
    return scenarios;
}

int32_t Base36(const std::string& pair) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10; };
    return digit(pair[0]) * 36 + digit(pair[1]);
}

class BmspecScenario : public EngineTest, public ::testing::WithParamInterface<Scenario> {
protected:
    // Table entries (without the end marker) that carry slot `value`.
    std::vector<int32_t> ObjectsOf(int32_t value) const {
        std::vector<int32_t> out;
        for (int32_t i = 0; i < bms.LastObject; ++i)
            if (bms.Objects[i].Value == value && bms.Objects[i].Kind < 200) out.push_back(i);
        return out;
    }
    static bool AtBeat(const engine::TChartObject& o, double beat) { return std::abs(o.Position - beat * 32) < 1e-9; }
    int32_t Count(bool notesOnly) const {
        int32_t n = 0;
        for (int32_t i = 0; i < bms.LastObject; ++i) {
            const int32_t kind = bms.Objects[i].Kind;
            n += notesOnly ? (kind >= 11 && kind <= 29) : kind < 200;
        }
        return n;
    }

    ::testing::AssertionResult Holds(const std::string& expectation) {
        std::smatch m;
        static const std::regex count(R"(there should be (\d+) objects)");
        static const std::regex notes(R"(there should be (\d+) playable notes)");
        static const std::regex onChannel(R"(object (\w\w) should be on channel (\w\w) at beat ([\d.]+))");
        static const std::regex atBeat(R"(object (\w\w) should be at beat ([\d.]+))");
        static const std::regex atSeconds(R"(object (\w\w) should be at ([\d.]+) seconds)");
        static const std::regex longNote(R"(object (\w\w) should be a long note from beat ([\d.]+) to ([\d.]+))");
        const auto result = [&](bool ok) {
            return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "not so: " << expectation;
        };
        if (std::regex_match(expectation, m, count)) return result(Count(false) == std::stoi(m[1]));
        if (std::regex_match(expectation, m, notes)) return result(Count(true) == std::stoi(m[1]));
        if (std::regex_match(expectation, m, onChannel)) {
            const int32_t kind = m[2] == "01" ? engine::kBackgroundSound : std::stoi(m[2]);
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(m[1])))
                found = found || (bms.Objects[i].Kind == kind && AtBeat(bms.Objects[i], std::stod(m[3])));
            return result(found);
        }
        if (std::regex_match(expectation, m, atBeat)) {
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(m[1]))) found = found || AtBeat(bms.Objects[i], std::stod(m[2]));
            return result(found);
        }
        if (std::regex_match(expectation, m, atSeconds)) {
            // The expected seconds have six decimals.
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(m[1]))) found = found || std::abs(bms.ObjectTime(i) - std::stod(m[2]) * 1000) < 1e-3;
            return result(found);
        }
        if (std::regex_match(expectation, m, longNote)) {
            // The player draws no long-note bodies and sounds no ends: the start is an arrow
            // with its sound, and at the end there is nothing at all.
            bool started = false, endFree = true;
            for (int32_t i : ObjectsOf(Base36(m[1])))
                started = started || (bms.Objects[i].Kind >= 11 && AtBeat(bms.Objects[i], std::stod(m[2])));
            for (int32_t i = 0; i < bms.LastObject; ++i) endFree = endFree && !AtBeat(bms.Objects[i], std::stod(m[3]));
            return result(started && endFree);
        }
        return ::testing::AssertionFailure() << "no check for: " << expectation;
    }
};

TEST_P(BmspecScenario, AgreesWithTheExtendedReading) {
    const Scenario& scenario = GetParam();
    std::deque<int32_t> draws = scenario.draws;
    bms.Extended = true;
    bms.DrawRandom = [&draws](int32_t) {
        const int32_t value = draws.empty() ? 0 : draws.front();
        if (!draws.empty()) draws.pop_front();
        return value;
    };
    ASSERT_TRUE(Load(scenario.chart));
    EXPECT_TRUE(draws.empty()) << "draws left over";
    ASSERT_FALSE(scenario.expectations.empty());
    for (const std::string& expectation : scenario.expectations) EXPECT_TRUE(Holds(expectation));
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) {
    std::string name;
    for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Bmspec, BmspecScenario, ::testing::ValuesIn(ReadScenarios()), ScenarioName);

TEST(BmspecScenarios, AreAllThere) { EXPECT_EQ(ReadScenarios().size(), 18u); }

}  // namespace
}  // namespace enginetest
