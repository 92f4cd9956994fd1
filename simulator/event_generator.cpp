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

}  // namespace

std::optional<GeneratorSpec> parseScript(const std::string& content, std::string& error) {
    GeneratorSpec spec;
    spec.mode = GeneratorSpec::Mode::Script;
    std::istringstream in(content);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first)) continue;
        if (spec.script.size() >= kMaxScriptLines) {
            error = "script has more than 100000 entries";
            return std::nullopt;
        }
        if (first == "repeat") {
            double period = 0;
            if (!(fields >> period) || !(period > 0) || period > 86400 * 365) {
                error = "line " + std::to_string(lineNo) + ": repeat needs a period in seconds";
                return std::nullopt;
            }
            spec.repeat = true;
            spec.periodMs = static_cast<int64_t>(std::llround(period * 1000));
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
        spec.script.push_back({static_cast<int64_t>(std::llround(seconds * 1000)), point, state == 1});
    }
    std::stable_sort(spec.script.begin(), spec.script.end(),
                     [](const InputChange& a, const InputChange& b) { return a.atMs < b.atMs; });
    if (spec.repeat && !spec.script.empty() && spec.periodMs <= spec.script.back().atMs) {
        error = "repeat period must be longer than the last entry's time";
        return std::nullopt;
    }
    return spec;
}

std::optional<GeneratorSpec> parseGeneratorSpec(const std::string& text, std::string& error) {
    if (text == "none") return GeneratorSpec{};
    if (text.rfind("random:", 0) == 0) {
        GeneratorSpec spec;
        spec.mode = GeneratorSpec::Mode::Random;
        try {
            size_t used = 0;
            std::string num = text.substr(7);
            spec.ratePerSecond = std::stod(num, &used);
            if (used != num.size()) throw std::invalid_argument("trailing");
        } catch (...) {
            error = "random:RATE needs a number of changes per second";
            return std::nullopt;
        }
        if (!(spec.ratePerSecond > 0) || spec.ratePerSecond > kMaxRate) {
            error = "random rate must be above 0 and at most 1000 per second";
            return std::nullopt;
        }
        return spec;
    }
    if (text.rfind("script:", 0) == 0) {
        std::ifstream f(text.substr(7), std::ios::binary);
        if (!f) {
            error = "cannot open event script " + text.substr(7);
            return std::nullopt;
        }
        std::stringstream ss;
        ss << f.rdbuf();
        return parseScript(ss.str(), error);
    }
    error = "expected none, random:RATE or script:FILE";
    return std::nullopt;
}

EventGenerator::EventGenerator(GeneratorSpec spec, uint64_t seed) : spec_(std::move(spec)), rng_(seed) {}

void EventGenerator::start(int64_t nowMs) {
    startMs_ = nowMs;
    passStartMs_ = nowMs;
    nextRandomMs_ = nowMs;
    scriptIndex_ = 0;
    started_ = true;
    if (spec_.mode == GeneratorSpec::Mode::Random) {
        std::exponential_distribution<double> gap(spec_.ratePerSecond);
        nextRandomMs_ = nowMs + static_cast<int64_t>(gap(rng_) * 1000.0);
    }
}

std::vector<InputChange> EventGenerator::advance(int64_t nowMs, uint32_t current) {
    std::vector<InputChange> out;
    if (!started_) start(nowMs);
    if (spec_.mode == GeneratorSpec::Mode::Random) {
        std::exponential_distribution<double> gap(spec_.ratePerSecond);
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
        if (nextRandomMs_ <= nowMs) nextRandomMs_ = nowMs + 1;
    } else if (spec_.mode == GeneratorSpec::Mode::Script) {
        while (!spec_.script.empty()) {
            if (out.size() >= static_cast<size_t>(kMaxRandomPerAdvance)) {
                // A long stall of a fast repeating script: resume from the current pass.
                if (spec_.repeat && spec_.periodMs > 0 && nowMs - passStartMs_ >= spec_.periodMs) {
                    passStartMs_ += (nowMs - passStartMs_) / spec_.periodMs * spec_.periodMs;
                    scriptIndex_ = 0;
                }
                break;
            }
            if (scriptIndex_ >= spec_.script.size()) {
                if (!spec_.repeat || nowMs < passStartMs_ + spec_.periodMs) break;
                passStartMs_ += spec_.periodMs;
                scriptIndex_ = 0;
                continue;
            }
            const InputChange& c = spec_.script[scriptIndex_];
            if (passStartMs_ + c.atMs > nowMs) break;
            out.push_back({passStartMs_ + c.atMs - startMs_, c.point, c.state});
            ++scriptIndex_;
        }
    }
    return out;
}

}  // namespace chronel::sim
