// Random texts over an alphabet, for the randomised tests.
#pragma once

#include <random>
#include <string>

inline std::string randomText(std::mt19937& random, const std::string& alphabet, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text;
    for (std::size_t n = length(random); n > 0; --n) text += alphabet[pick(random)];
    return text;
}
