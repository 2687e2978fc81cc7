#pragma once
// An acquisition file (".bin", ".rpp") that cannot be created, opened or
// written. The writers of a run raise it; the message can be shown as it
// is, and the engine ends the run with a file error.
#include <stdexcept>

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
