# The USB backends and the hot-plug monitor, each optional with a named
# fallback:
#  - libftdi1 (over libusb): found through pkg-config. Without it, USB goes
#    through the vendor's D2XX library alone, which the program loads at
#    run time when it is installed; without either there is no USB link.
#  - libudev: the Linux hot-plug monitor. Without it the device watch asks
#    for the device count once a second.
# PYLORIX_LIBFTDI and PYLORIX_UDEV are AUTO (use when found), ON (required)
# or OFF (never).

set(PYLORIX_LIBFTDI AUTO CACHE STRING "Build the libftdi1 USB backend: AUTO, ON or OFF")
set(PYLORIX_UDEV AUTO CACHE STRING "Use libudev for USB hot-plug on Linux: AUTO, ON or OFF")
set_property(CACHE PYLORIX_LIBFTDI PROPERTY STRINGS AUTO ON OFF)
set_property(CACHE PYLORIX_UDEV PROPERTY STRINGS AUTO ON OFF)

find_package(PkgConfig QUIET)

set(PYLORIX_HAVE_LIBFTDI OFF)
if(NOT PYLORIX_LIBFTDI STREQUAL "OFF" AND PkgConfig_FOUND)
    pkg_check_modules(FTDI QUIET IMPORTED_TARGET libftdi1)
    if(TARGET PkgConfig::FTDI)
        set(PYLORIX_HAVE_LIBFTDI ON)
    endif()
endif()
if(PYLORIX_LIBFTDI STREQUAL "ON" AND NOT PYLORIX_HAVE_LIBFTDI)
    message(FATAL_ERROR "PYLORIX_LIBFTDI=ON but libftdi1 was not found through pkg-config")
endif()

set(PYLORIX_HAVE_UDEV OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT PYLORIX_UDEV STREQUAL "OFF" AND PkgConfig_FOUND)
    pkg_check_modules(UDEV QUIET IMPORTED_TARGET libudev)
    if(TARGET PkgConfig::UDEV)
        set(PYLORIX_HAVE_UDEV ON)
    endif()
endif()
if(PYLORIX_UDEV STREQUAL "ON" AND NOT PYLORIX_HAVE_UDEV)
    message(FATAL_ERROR "PYLORIX_UDEV=ON but libudev was not found through pkg-config")
endif()

if(PYLORIX_HAVE_LIBFTDI)
    set(_usb "libftdi1 and the vendor's D2XX library (loaded at run time)")
else()
    set(_usb "the vendor's D2XX library only (loaded at run time); libftdi1 not built in")
endif()
if(PYLORIX_HAVE_UDEV)
    set(_plug "libudev monitor")
elseif(WIN32)
    set(_plug "device-change notifications")
else()
    set(_plug "count polled once a second")
endif()
message(STATUS "Pylorix USB: ${_usb}; hot-plug: ${_plug}")
