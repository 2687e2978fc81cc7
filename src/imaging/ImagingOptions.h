#pragma once
// The settings and device state the imaging pages read when they draw. The
// main window owns one instance and keeps it current.
struct ImagingOptions {
    bool showGapFillers = false;  // "ShowGapFillers" setting
    bool movingArrayMode = false; // the device's moving-array flag
};
