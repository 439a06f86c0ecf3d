#pragma once
#include <stdexcept>
#include <string>

namespace corvane {

// Base of every component's error; what() is the user-facing description.
class CorvaneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace corvane
