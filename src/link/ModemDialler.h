#pragma once
// The Hayes dialogue of a serial link whose far end is a modem: reset, the
// operator's initialisation string, the dial command, then CONNECT or the
// modem's word that the call failed.
#include "link/Link.h"

#include <functional>
#include <string>

class ModemDialler {
public:
    enum class Result {
        Connected, // the modem connected (or stayed silent for 300 s)
        Refused,   // the modem said the call failed: hang up
        Failed,    // no answer to a command, or the link closed
    };
    // `write` sends a command line in one piece over the link.
    ModemDialler(Link& link, std::function<void(const std::string&)> write)
        : link_(link), write_(std::move(write)) {}

    Result Dial(const std::string& number, const std::string& init);

private:
    // Like WaitForText("CONNECT"), silence included; but a modem that says
    // the call failed is believed at once rather than after 300 s of
    // silence that would pass for a connection.
    Result WaitForDialResult();

    Link& link_;
    std::function<void(const std::string&)> write_;
};
