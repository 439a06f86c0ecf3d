#pragma once
#include <chrono>

namespace corvane {

// A point in time as seconds since 2001-01-01T00:00:00Z.
struct Date {
    static constexpr double unixOffset = 978307200.0;
    double timeIntervalSinceReferenceDate = 0.0;

    static Date now() {
        using namespace std::chrono;
        const double unix = duration<double>(system_clock::now().time_since_epoch()).count();
        return Date{unix - unixOffset};
    }
    static Date fromUnix(double seconds) { return Date{seconds - unixOffset}; }
    double timeIntervalSince1970() const { return timeIntervalSinceReferenceDate + unixOffset; }
    bool operator==(const Date&) const = default;
};

} // namespace corvane
