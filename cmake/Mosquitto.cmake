# The MQTT client library the line link uses, as the target Quillet::Mosquitto.
# Linux: Debian's libmosquitto-dev. Windows: the cross-built libmosquitto and OpenSSL that
# scripts/build-mqtt-windows.sh leaves in a prefix, named by QUILLET_WINDOWS_MQTT.
if(WIN32)
    set(QUILLET_WINDOWS_MQTT "" CACHE PATH "The cross-built libmosquitto's prefix")
    if(NOT EXISTS "${QUILLET_WINDOWS_MQTT}/include/mosquitto.h")
        message(FATAL_ERROR "QUILLET_WINDOWS_MQTT must name the prefix of a cross-built libmosquitto")
    endif()
    add_library(Quillet::Mosquitto SHARED IMPORTED)
    set_target_properties(Quillet::Mosquitto PROPERTIES
        IMPORTED_LOCATION "${QUILLET_WINDOWS_MQTT}/bin/libmosquitto.dll"
        IMPORTED_IMPLIB "${QUILLET_WINDOWS_MQTT}/lib/libmosquitto.dll.a"
        INTERFACE_INCLUDE_DIRECTORIES "${QUILLET_WINDOWS_MQTT}/include")
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
    add_library(Quillet::Mosquitto ALIAS PkgConfig::MOSQUITTO)
endif()
