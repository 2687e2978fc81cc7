// Which FtdiApi backend the program uses (link/FtdiBackends.h).
#include "link/FtdiApi.h"

#include "link/D2xxFtdiApi.h"
#include "link/FtdiBackends.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

FtdiApi* installed = nullptr;
FtdiBackend selected = FtdiBackend::Automatic;
FtdiApi* chosen = nullptr;
std::string chosenText;

// Stands in when no backend can work, so that the link says why instead of
// asking for a cable that can never be found.
class NoFtdiApi : public FtdiApi {
public:
    // Links keep a reference to the backend they were given: the reason is
    // updated in place rather than the object replaced.
    void SetReason(std::string why) { why_ = std::move(why); }
    std::string Unavailable() const override { return why_; }
    FtStatus ListDevices(const std::vector<UsbId>&, std::vector<UsbDevice>& devices) override {
        devices.clear();
        return kFtOtherError;
    }
    FtStatus Open(const UsbDevice&, Handle& handle, std::string& error) override {
        handle = nullptr;
        error = why_;
        return kFtOtherError;
    }
    FtStatus Close(Handle) override { return kFtInvalidHandle; }
    FtStatus SetBaudRate(Handle, uint32_t) override { return kFtInvalidHandle; }
    FtStatus SetDataCharacteristics(Handle, uint8_t, uint8_t, uint8_t) override {
        return kFtInvalidHandle;
    }
    FtStatus SetFlowControl(Handle, uint16_t, uint8_t, uint8_t) override {
        return kFtInvalidHandle;
    }
    FtStatus SetDtr(Handle) override { return kFtInvalidHandle; }
    FtStatus ClrDtr(Handle) override { return kFtInvalidHandle; }
    FtStatus SetRts(Handle) override { return kFtInvalidHandle; }
    FtStatus ClrRts(Handle) override { return kFtInvalidHandle; }
    FtStatus SetTimeouts(Handle, uint32_t, uint32_t) override { return kFtInvalidHandle; }
    FtStatus Read(Handle, uint8_t*, uint32_t, uint32_t& read) override {
        read = 0;
        return kFtInvalidHandle;
    }
    FtStatus WaitForInput(Handle, uint32_t) override { return kFtInvalidHandle; }
    FtStatus Write(Handle, const uint8_t*, uint32_t, uint32_t& written) override {
        written = 0;
        return kFtInvalidHandle;
    }
    FtStatus Purge(Handle, uint32_t) override { return kFtInvalidHandle; }
    FtStatus GetQueueStatus(Handle, uint32_t& rx) override {
        rx = 0;
        return kFtInvalidHandle;
    }
    FtStatus GetStatus(Handle, uint32_t& rx, uint32_t& tx, uint32_t& ev) override {
        rx = tx = ev = 0;
        return kFtInvalidHandle;
    }
    FtStatus GetModemStatus(Handle, uint32_t& status) override {
        status = 0;
        return kFtInvalidHandle;
    }
    FtStatus SetLatencyTimer(Handle, uint8_t) override { return kFtInvalidHandle; }
    FtStatus GetDriverVersion(Handle, uint32_t& v) override {
        v = 0;
        return kFtInvalidHandle;
    }
    FtStatus GetLibraryVersion(uint32_t& v) override {
        v = 0;
        return kFtOtherError;
    }

private:
    std::string why_;
};

constexpr bool kHaveLibFtdi =
#ifdef PYLORIX_HAVE_LIBFTDI
    true;
#else
    false;
#endif

// D2XX first where the FTDI driver owns the bridge; libftdi first on Linux.
constexpr bool kPreferD2xx =
#if defined(_WIN32) || defined(__APPLE__)
    true;
#else
    false;
#endif

D2xxFtdiApi& D2xx() {
    // Loaded once, when first asked for: nothing is loaded where it is
    // never chosen.
    static D2xxFtdiApi d2xx;
    return d2xx;
}

FtdiApi& LibFtdiOrNone(const std::string& why) {
#ifdef PYLORIX_HAVE_LIBFTDI
    (void)why;
    return LibFtdiBackend();
#else
    static NoFtdiApi none;
    none.SetReason(why);
    return none;
#endif
}

FtdiBackend Requested() {
    if (selected != FtdiBackend::Automatic)
        return selected;
    FtdiBackend fromEnvironment = FtdiBackend::Automatic;
    if (const char* env = std::getenv("PYLORIX_USB_DRIVER"); env && *env)
        ParseFtdiBackend(env, fromEnvironment);
    return fromEnvironment;
}

void Choose() {
    const char* const kNoLibFtdi = "this build has no libftdi1 USB support";
    switch (Requested()) {
    case FtdiBackend::D2xx:
        chosen = &D2xx();
        chosenText = D2xx().Loaded() ? "D2XX (" + D2xx().LibraryText() + ")"
                                     : "none: " + D2xx().Unavailable();
        return;
    case FtdiBackend::LibFtdi:
        chosen = &LibFtdiOrNone(kNoLibFtdi);
        chosenText = kHaveLibFtdi ? "libftdi1" : std::string("none: ") + kNoLibFtdi;
        return;
    case FtdiBackend::Automatic:
        break;
    }
    if (kPreferD2xx || !kHaveLibFtdi) {
        if (D2xx().Loaded()) {
            chosen = &D2xx();
            chosenText = "D2XX (" + D2xx().LibraryText() + ")";
            return;
        }
    }
    if (kHaveLibFtdi) {
        chosen = &LibFtdiOrNone({});
        chosenText = "libftdi1";
        return;
    }
    chosen = &LibFtdiOrNone("no USB support: " + D2xx().Unavailable() +
                            ", and this build has no libftdi1");
    chosenText = "none: " + chosen->Unavailable();
}

} // namespace

bool ParseFtdiBackend(const std::string& text, FtdiBackend& backend) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (lower == "auto")
        backend = FtdiBackend::Automatic;
    else if (lower == "d2xx")
        backend = FtdiBackend::D2xx;
    else if (lower == "libftdi" || lower == "libftdi1")
        backend = FtdiBackend::LibFtdi;
    else
        return false;
    return true;
}

void SelectFtdiBackend(FtdiBackend backend) {
    selected = backend;
    chosen = nullptr;
}

std::string ActiveFtdiBackendText() {
    if (installed)
        return "installed by a test";
    if (!chosen)
        Choose();
    return chosenText;
}

FtdiApi& ActiveFtdiApi() {
    if (installed)
        return *installed;
    if (!chosen)
        Choose();
    return *chosen;
}

void SetFtdiApi(FtdiApi* api) {
    installed = api;
}
