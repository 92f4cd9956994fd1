#include "event_generator.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace chronel::sim {
namespace {

// Bounds keep a mistyped rate or script from flooding the event buffer.
constexpr double kMaxRate = 1000.0;
constexpr size_t kMaxScriptLines = 100000;
constexpr int kMaxRandomPerAdvance = 10000;

} // namespace

std::optional<GeneratorPlan> ParseScript(const std::string& content, std::string& error)
{
    GeneratorPlan plan;
    plan.mode = GeneratorPlan::Mode::Script;
    std::istringstream in(content);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first))
            continue;
        if (plan.script.size() >= kMaxScriptLines) {
            error = "script has more than 100000 entries";
            return std::nullopt;
        }
        if (first == "repeat") {
            double period = 0;
            if (!(fields >> period) || !(period > 0) || period > 86400 * 365) {
                error = "line " + std::to_string(lineNo) + ": repeat needs a period in seconds";
                return std::nullopt;
            }
            plan.repeat = true;
            plan.periodMs = static_cast<int64_t>(std::llround(period * 1000));
            continue;
        }
        double seconds = 0;
        int point = 0, state = -1;
        std::string rest;
        try {
            seconds = std::stod(first);
        } catch (...) {
            seconds = -1;
        }
        if (!(seconds >= 0) || seconds > 86400.0 * 365 || !(fields >> point >> state) || (fields >> rest) ||
            point < 1 || point > 32 || (state != 0 && state != 1)) {
            error = "line " + std::to_string(lineNo) + ": expected \"SECONDS POINT(1-32) STATE(0|1)\"";
            return std::nullopt;
        }
        plan.script.push_back({static_cast<int64_t>(std::llround(seconds * 1000)), point, state == 1});
    }
    std::stable_sort(plan.script.begin(), plan.script.end(),
        [](const InputChange& a, const InputChange& b) { return a.atMs < b.atMs; });
    if (plan.repeat && !plan.script.empty() && plan.periodMs <= plan.script.back().atMs) {
        error = "repeat period must be longer than the last entry's time";
        return std::nullopt;
    }
    return plan;
}

std::optional<GeneratorPlan> ParseGeneratorPlan(const std::string& text, std::string& error)
{
    if (text == "none")
        return GeneratorPlan{};
    if (text.rfind("random:", 0) == 0) {
        GeneratorPlan plan;
        plan.mode = GeneratorPlan::Mode::Random;
        try {
            size_t used = 0;
            std::string num = text.substr(7);
            plan.ratePerSecond = std::stod(num, &used);
            if (used != num.size())
                throw std::invalid_argument("trailing");
        } catch (...) {
            error = "random:RATE needs a number of changes per second";
            return std::nullopt;
        }
        if (!(plan.ratePerSecond > 0) || plan.ratePerSecond > kMaxRate) {
            error = "random rate must be above 0 and at most 1000 per second";
            return std::nullopt;
        }
        return plan;
    }
    if (text.rfind("script:", 0) == 0) {
        std::ifstream f(text.substr(7), std::ios::binary);
        if (!f) {
            error = "cannot open event script " + text.substr(7);
            return std::nullopt;
        }
        std::stringstream ss;
        ss << f.rdbuf();
        return ParseScript(ss.str(), error);
    }
    error = "expected none, random:RATE or script:FILE";
    return std::nullopt;
}

EventGenerator::EventGenerator(GeneratorPlan plan, uint64_t seed) : plan_(std::move(plan)), rng_(seed) { }

void EventGenerator::start(int64_t nowMs)
{
    startMs_ = nowMs;
    passStartMs_ = nowMs;
    nextRandomMs_ = nowMs;
    scriptIndex_ = 0;
    started_ = true;
    if (plan_.mode == GeneratorPlan::Mode::Random) {
        std::exponential_distribution<double> gap(plan_.ratePerSecond);
        nextRandomMs_ = nowMs + static_cast<int64_t>(gap(rng_) * 1000.0);
    }
}

std::vector<InputChange> EventGenerator::advance(int64_t nowMs, uint32_t current)
{
    std::vector<InputChange> out;
    if (!started_)
        start(nowMs);
    if (plan_.mode == GeneratorPlan::Mode::Random) {
        std::exponential_distribution<double> gap(plan_.ratePerSecond);
        std::uniform_int_distribution<int> pick(1, 32);
        int n = 0;
        while (nextRandomMs_ <= nowMs && n++ < kMaxRandomPerAdvance) {
            int p = pick(rng_);
            bool state = ((current >> (p - 1)) & 1u) == 0;
            current ^= 1u << (p - 1);
            out.push_back({nextRandomMs_ - startMs_, p, state});
            nextRandomMs_ += std::max<int64_t>(1, static_cast<int64_t>(gap(rng_) * 1000.0));
        }
        // After a long stall, skip the backlog rather than replay it.
        if (nextRandomMs_ <= nowMs)
            nextRandomMs_ = nowMs + 1;
    } else if (plan_.mode == GeneratorPlan::Mode::Script) {
        while (!plan_.script.empty()) {
            if (out.size() >= static_cast<size_t>(kMaxRandomPerAdvance)) {
                // A long stall of a fast repeating script: resume from the current pass.
                if (plan_.repeat && plan_.periodMs > 0 && nowMs - passStartMs_ >= plan_.periodMs) {
                    passStartMs_ += (nowMs - passStartMs_) / plan_.periodMs * plan_.periodMs;
                    scriptIndex_ = 0;
                }
                break;
            }
            if (scriptIndex_ >= plan_.script.size()) {
                if (!plan_.repeat || nowMs < passStartMs_ + plan_.periodMs)
                    break;
                passStartMs_ += plan_.periodMs;
                scriptIndex_ = 0;
                continue;
            }
            const InputChange& c = plan_.script[scriptIndex_];
            if (passStartMs_ + c.atMs > nowMs)
                break;
            out.push_back({passStartMs_ + c.atMs - startMs_, c.point, c.state});
            ++scriptIndex_;
        }
    }
    return out;
}

} // namespace chronel::sim
