// A sampler's own state as text, for a copy that continues where the original is: pieces
// framed by their length, so that any bytes survive, read back in the order they were written.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace tarvex::utils {

class StateWriter {
public:
    StateWriter& add(std::string_view piece);
    StateWriter& add(std::int64_t number);
    StateWriter& add(const std::mt19937_64& generator);
    const std::string& text() const { return out; }

private:
    std::string out;
};

// Every read throws std::invalid_argument when the text ends early or holds something else, and
// finish when anything is left over: a sampler never continues from a state it misread.
class StateReader {
public:
    explicit StateReader(std::string_view text) : rest(text) {}
    std::string piece();
    std::int64_t number();
    std::int64_t number(std::int64_t low, std::int64_t high);  // one in [low, high]
    std::mt19937_64 generator();
    void finish() const;
    // For a check of the caller's own that the text fails.
    [[noreturn]] void reject() const;

private:
    std::string_view rest;
};

}  // namespace tarvex::utils
