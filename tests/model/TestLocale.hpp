#pragma once
// Test helper: the C library switched to a locale that writes decimal commas.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace corvane::test {

// Switches to de_DE.UTF-8, building it in a temporary folder when the machine has none installed.
// Returns false when no such locale can be had.
inline bool useGermanLocale() {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
    const auto dir = std::filesystem::temp_directory_path() / "corvane-test-locales";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !std::filesystem::exists(dir / "de_DE.UTF-8")) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

// Restores the C locale when the test ends, whatever happens in between.
struct CLocaleAfterwards {
    ~CLocaleAfterwards() { std::setlocale(LC_ALL, "C"); }
};

} // namespace corvane::test
