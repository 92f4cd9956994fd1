// Source of field input changes for the simulated SER points: none, random
// changes at a mean rate, or a script of timed changes.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace chronel::sim {

struct InputChange {
    int64_t atMs = 0; // milliseconds after the generator started
    int point = 1;    // 1 ... 32
    bool state = false;
};

struct GeneratorPlan {
    enum class Mode { None, Random, Script } mode = Mode::None;
    double ratePerSecond = 0.0;
    std::vector<InputChange> script;
    bool repeat = false;  // restart the script after its last entry
    int64_t periodMs = 0; // length of one script pass when repeating
};

// Parses "none", "random:RATE" or "script:FILE"; on failure returns nullopt and
// sets `error`. The script file has one change per line: "SECONDS POINT STATE"
// ('#' starts a comment); a line "repeat SECONDS" replays the script with that period.
std::optional<GeneratorPlan> ParseGeneratorPlan(const std::string& text, std::string& error);
std::optional<GeneratorPlan> ParseScript(const std::string& content, std::string& error);

class EventGenerator {
public:
    EventGenerator(GeneratorPlan plan, uint64_t seed);

    void start(int64_t nowMs);
    int64_t startMs() const { return startMs_; }
    // Changes due up to `nowMs`, in order. Random mode toggles `current`.
    std::vector<InputChange> advance(int64_t nowMs, uint32_t current);

private:
    GeneratorPlan plan_;
    std::mt19937_64 rng_;
    int64_t startMs_ = 0;
    int64_t nextRandomMs_ = 0;
    size_t scriptIndex_ = 0;
    int64_t passStartMs_ = 0;
    bool started_ = false;
};

} // namespace chronel::sim
