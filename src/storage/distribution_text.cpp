#include "distribution_text.hpp"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace tarvex::detail {
namespace {

std::string number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

double read_double(std::istringstream& in) {
    std::string token;
    in >> token;
    std::size_t used = 0;
    const double v = std::stod(token, &used);  // also reads inf and nan
    if (used != token.size()) throw std::invalid_argument("not a number: " + token);
    return v;
}

std::string sized(const std::string& text) {
    std::string out = std::to_string(text.size());
    out += ':';
    out += text;
    return out;
}

std::string read_sized(std::istringstream& in) {
    std::size_t length = 0;
    in >> length;
    if (in.get() != ':') throw std::invalid_argument("no ':'");
    std::string text(length, '\0');
    in.read(text.data(), static_cast<std::streamsize>(length));
    if (in.gcount() != static_cast<std::streamsize>(length)) throw std::invalid_argument("short text");
    return text;
}

// "<n> " then n sized texts.
std::vector<std::string> read_texts(std::istringstream& in) {
    std::size_t n = 0;
    in >> n;
    in.get();  // the space before the texts
    std::vector<std::string> out;
    for (std::size_t k = 0; k < n; ++k) out.push_back(read_sized(in));
    if (in.fail()) throw std::invalid_argument("short");
    return out;
}

}  // namespace

std::string distribution_text(const Distribution& dist) {
    if (const auto* f = std::get_if<FloatDist>(&dist)) {
        return "float " + number(f->low) + " " + number(f->high) + " " + (f->log ? "1" : "0") + " " +
               (f->step ? number(*f->step) : "-");
    }
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        return "int " + std::to_string(i->low) + " " + std::to_string(i->high) + " " + (i->log ? "1" : "0") + " " +
               std::to_string(i->step);
    }
    std::string out = "categorical ";
    out += texts_text(std::get<CategoricalDist>(dist).choices);
    return out;
}

Distribution distribution_from_text(const std::string& text) {
    try {
        std::istringstream in(text);
        std::string kind;
        in >> kind;
        if (kind == "float") {
            FloatDist f{};
            f.low = read_double(in);
            f.high = read_double(in);
            int log = 0;
            std::string step;
            in >> log >> step;
            f.log = log != 0;
            if (step != "-") f.step = std::stod(step);
            if (in.fail()) throw std::invalid_argument("short");
            return f;
        }
        if (kind == "int") {
            IntDist i{};
            int log = 0;
            in >> i.low >> i.high >> log >> i.step;
            i.log = log != 0;
            if (in.fail()) throw std::invalid_argument("short");
            return i;
        }
        if (kind == "categorical") return CategoricalDist{read_texts(in)};
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("not a distribution: " + text.substr(0, 80));
}

namespace {

std::string read_until_semicolon(std::istringstream& in) {
    std::string token;
    std::getline(in, token, ';');
    return token;
}

}  // namespace

std::string param_map_text(const ParamMap& params) {
    std::string out = std::to_string(params.size()) + " ";
    for (const auto& [name, value] : params) {
        out += sized(name);
        if (const auto* d = std::get_if<double>(&value)) {
            out += 'f';
            out += number(*d);
            out += ';';
        } else if (const auto* i = std::get_if<int>(&value)) {
            out += 'i';
            out += std::to_string(*i);
            out += ';';
        } else {
            out += 's';
            out += sized(std::get<std::string>(value));
        }
    }
    return out;
}

ParamMap param_map_from_text(const std::string& text) {
    try {
        std::istringstream in(text);
        std::size_t n = 0;
        in >> n;
        in.get();
        ParamMap out;
        for (std::size_t k = 0; k < n; ++k) {
            std::string name = read_sized(in);
            switch (in.get()) {
                case 'f': {
                    const std::string token = read_until_semicolon(in);
                    std::size_t used = 0;
                    const double v = std::stod(token, &used);
                    if (used != token.size()) throw std::invalid_argument("not a number");
                    out.insert_or_assign(std::move(name), v);
                    break;
                }
                case 'i':
                    out.insert_or_assign(std::move(name), std::stoi(read_until_semicolon(in)));
                    break;
                case 's':
                    out.insert_or_assign(std::move(name), read_sized(in));
                    break;
                default:
                    throw std::invalid_argument("unknown kind");
            }
        }
        if (in.fail()) throw std::invalid_argument("short");
        return out;
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("not a parameter set: " + text.substr(0, 80));
}

std::string numbers_text(const std::vector<double>& numbers) {
    std::string out = std::to_string(numbers.size());
    for (const double v : numbers) {
        out += ' ';
        out += number(v);
    }
    return out;
}

std::vector<double> numbers_from_text(const std::string& text) {
    try {
        std::istringstream in(text);
        std::size_t n = 0;
        in >> n;
        if (in.fail()) throw std::invalid_argument("short");
        std::vector<double> out;
        for (std::size_t k = 0; k < n; ++k) out.push_back(read_double(in));
        return out;
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("not a list of numbers: " + text.substr(0, 80));
}

std::string texts_text(const std::vector<std::string>& texts) {
    std::string out = std::to_string(texts.size()) + " ";
    for (const std::string& t : texts) out += sized(t);
    return out;
}

std::vector<std::string> texts_from_text(const std::string& text) {
    try {
        std::istringstream in(text);
        return read_texts(in);
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("not a list of texts: " + text.substr(0, 80));
}

}  // namespace tarvex::detail
