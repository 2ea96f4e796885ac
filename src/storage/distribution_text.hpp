// A distribution as one line of text, exact for every double and choice, for the database.
#pragma once

#include <string>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex::detail {

// "float <low> <high> <log 0|1> <step or ->", "int <low> <high> <log> <step>",
// "categorical <n> <bytes>:<choice>..." (doubles with 17 significant digits).
std::string distribution_text(const Distribution& dist);
// The distribution of such a text; throws std::invalid_argument for text that is not one.
Distribution distribution_from_text(const std::string& text);

// Parameter values as one text, exact for every double and text: "<n> " then, for each,
// "<bytes>:<name>" and "f<double>;", "i<int>;" or "s<bytes>:<text>".
std::string param_map_text(const ParamMap& params);
ParamMap param_map_from_text(const std::string& text);

// Numbers as one text, exact for every double: "<n> <double> <double> ...".
std::string numbers_text(const std::vector<double>& numbers);
std::vector<double> numbers_from_text(const std::string& text);
// Texts as one text: "<n> " then "<bytes>:<text>" for each.
std::string texts_text(const std::vector<std::string>& texts);
std::vector<std::string> texts_from_text(const std::string& text);

}  // namespace tarvex::detail
