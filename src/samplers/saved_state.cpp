#include "tarvex/saved_state.hpp"

#include <charconv>
#include <sstream>
#include <stdexcept>

namespace tarvex::utils {
namespace {

[[noreturn]] void malformed() {
    throw std::invalid_argument("restore_state: the text is not a state that this kind of sampler saved");
}

}  // namespace

StateWriter& StateWriter::add(std::string_view piece) {
    out += std::to_string(piece.size());
    out += ':';
    out += piece;
    return *this;
}

StateWriter& StateWriter::add(std::int64_t number) { return add(std::to_string(number)); }

StateWriter& StateWriter::add(const std::mt19937_64& generator) {
    std::ostringstream text;
    text << generator;  // the standard's portable textual form
    return add(text.str());
}

std::string StateReader::piece() {
    const auto colon = rest.find(':');
    std::size_t size = 0;
    if (colon == std::string_view::npos) malformed();
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + colon, size);
    if (error != std::errc{} || end != rest.data() + colon || size > rest.size() - colon - 1) malformed();
    std::string out(rest.substr(colon + 1, size));
    rest.remove_prefix(colon + 1 + size);
    return out;
}

std::int64_t StateReader::number() {
    const std::string text = piece();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) malformed();
    return value;
}

std::int64_t StateReader::number(std::int64_t low, std::int64_t high) {
    const std::int64_t value = number();
    if (value < low || value > high) malformed();
    return value;
}

std::mt19937_64 StateReader::generator() {
    std::istringstream text(piece());
    std::mt19937_64 generator;
    text >> generator;
    if (text.fail() || !(text >> std::ws).eof()) malformed();
    return generator;
}

void StateReader::finish() const {
    if (!rest.empty()) malformed();
}

void StateReader::reject() const { malformed(); }

}  // namespace tarvex::utils
