// The extended reading checked against another project's expectations: every scenario of the
// feature files in tests/data/timing-scenarios, its chart loaded and each expected beat, second
// and count compared with the engine's table and times.
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <ostream>
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

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<Scenario> ReadScenarios() {
    std::vector<Scenario> scenarios;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(GLIMSTEP_TEST_DATA) / "timing-scenarios"))
        if (entry.path().extension() == ".feature") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    const std::string yields = "Given the random number generator yields ";
    for (const auto& file : files) {
        std::ifstream in(file);
        std::string line;
        bool inChart = false;
        while (std::getline(in, line)) {
            const std::string text = Trimmed(line);
            if (text == "\"\"\"") {
                inChart = !inChart;
            } else if (inChart) {
                if (!scenarios.empty()) scenarios.back().chart += text + "\n";
            } else if (text.starts_with("Scenario:")) {
                scenarios.push_back({file.stem().string() + ": " + Trimmed(text.substr(9)), "", {}, {}});
            } else if (scenarios.empty()) {
                continue;
            } else if (text.starts_with(yields)) {
                std::stringstream values(text.substr(yields.size()));
                for (std::string value; std::getline(values, value, ',');) scenarios.back().draws.push_back(std::stoi(value));
            } else {
                for (const char* keyword : {"Then ", "And ", "But "})
                    if (text.starts_with(keyword))
                        scenarios.back().expectations.push_back(text.substr(std::string_view(keyword).size()));
            }
        }
    }
    return scenarios;
}

int32_t Base36(const std::string& pair) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10; };
    return digit(pair[0]) * 36 + digit(pair[1]);
}

class TimingScenario : public EngineTest, public ::testing::WithParamInterface<Scenario> {
protected:
    // Table entries (without the end marker) that carry slot `value`.
    std::vector<int32_t> ObjectsOf(int32_t value) const {
        std::vector<int32_t> out;
        for (int32_t i = 0; i < bms.Chart().LastObject(); ++i)
            if (bms.Chart()[i].Value == value && bms.Chart()[i].Kind < 200) out.push_back(i);
        return out;
    }
    static bool AtBeat(const engine::TChartObject& o, double beat) { return std::abs(o.Position - beat * 32) < 1e-9; }
    int32_t Count(bool notesOnly) const {
        int32_t n = 0;
        for (int32_t i = 0; i < bms.Chart().LastObject(); ++i) {
            const int32_t kind = bms.Chart()[i].Kind;
            n += notesOnly ? (kind >= 11 && kind <= 29) : kind < 200;
        }
        return n;
    }

    ::testing::AssertionResult Holds(const std::string& expectation) {
        const char* e = expectation.c_str();
        const int length = static_cast<int>(expectation.size());
        const auto result = [&](bool ok) {
            return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "not so: " << expectation;
        };
        // Each form must match the whole step: %n stores how far the match went.
        int end = -1, count = 0;
        char slot[3] = {}, channel[3] = {};
        double a = 0, b = 0;
        if (std::sscanf(e, "there should be %d objects%n", &count, &end) == 1 && end == length)
            return result(Count(false) == count);
        if (std::sscanf(e, "there should be %d playable notes%n", &count, &end) == 1 && end == length)
            return result(Count(true) == count);
        if (std::sscanf(e, "object %2s should be on channel %2s at beat %lf%n", slot, channel, &a, &end) == 3 &&
            end == length) {
            const int32_t kind = std::string(channel) == "01" ? engine::kBackgroundSound : std::stoi(channel);
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(slot))) found = found || (bms.Chart()[i].Kind == kind && AtBeat(bms.Chart()[i], a));
            return result(found);
        }
        if (std::sscanf(e, "object %2s should be at beat %lf%n", slot, &a, &end) == 2 && end == length) {
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(slot))) found = found || AtBeat(bms.Chart()[i], a);
            return result(found);
        }
        if (std::sscanf(e, "object %2s should be at %lf seconds%n", slot, &a, &end) == 2 && end == length) {
            // The expected seconds have six decimals.
            bool found = false;
            for (int32_t i : ObjectsOf(Base36(slot))) found = found || std::abs(bms.Chart().Time(i) - a * 1000) < 1e-3;
            return result(found);
        }
        if (std::sscanf(e, "object %2s should be a long note from beat %lf to %lf%n", slot, &a, &b, &end) == 3 &&
            end == length) {
            // The player draws no long-note bodies and sounds no ends: the start is an arrow
            // with its sound, and at the end there is nothing at all.
            bool started = false, endFree = true;
            for (int32_t i : ObjectsOf(Base36(slot))) started = started || (bms.Chart()[i].Kind >= 11 && AtBeat(bms.Chart()[i], a));
            for (int32_t i = 0; i < bms.Chart().LastObject(); ++i) endFree = endFree && !AtBeat(bms.Chart()[i], b);
            return result(started && endFree);
        }
        return ::testing::AssertionFailure() << "no check for: " << expectation;
    }
};

TEST_P(TimingScenario, AgreesWithTheExtendedReading) {
    const Scenario& scenario = GetParam();
    std::deque<int32_t> draws = scenario.draws;
    bms.Options.Extended = true;
    bms.Options.DrawRandom = [&draws](int32_t) {
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

INSTANTIATE_TEST_SUITE_P(Reference, TimingScenario, ::testing::ValuesIn(ReadScenarios()), ScenarioName);

TEST(TimingScenarios, AreAllThere) { EXPECT_EQ(ReadScenarios().size(), 18u); }

}  // namespace
}  // namespace enginetest
