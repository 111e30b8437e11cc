#pragma once

#include <stdexcept>
#include <string>

namespace velmarune {

// Base of every component's error type; what() is the user-facing text.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace velmarune
