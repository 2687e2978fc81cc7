#pragma once
// Display work never stops an acquisition: errors raised by the views and
// the display models are swallowed where this wraps them.
#include <exception>

template <typename F> void Quietly(F&& f) {
    try {
        f();
    } catch (const std::exception&) {
    }
}
