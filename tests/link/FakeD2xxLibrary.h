#pragma once
// The D2XX backend on the fake D2XX library (FakeD2xx.cpp, whose path the
// build gives as FAKE_D2XX_LIBRARY), playing a scripted device.
#include "link/D2xxFtdiApi.h"

#include <QLibrary>

class FakeD2xxLibrary {
public:
    explicit FakeD2xxLibrary(FtdiApi& device)
        : api(FAKE_D2XX_LIBRARY), control_(FAKE_D2XX_LIBRARY) {
        if (auto play = Play())
            play(&device);
    }
    ~FakeD2xxLibrary() {
        if (auto play = Play())
            play(nullptr);
    }
    FakeD2xxLibrary(const FakeD2xxLibrary&) = delete;
    FakeD2xxLibrary& operator=(const FakeD2xxLibrary&) = delete;

    D2xxFtdiApi api;

private:
    using PlayFn = void (*)(FtdiApi*);
    PlayFn Play() { return reinterpret_cast<PlayFn>(control_.resolve("FakeD2xxPlay")); }

    QLibrary control_;
};
