#pragma once
#include <stdexcept>
#include <string>

// A failure inside the wizard's own logic, caught at a task or page boundary.
class TamselException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
