#pragma once
// The layout new databases get while a test runs: the tables layout, for the
// tests that look at its rows, pages or log, given back as it was when the
// test ends, so that the tests after it in the same process are not moved.

#include <cstdlib>
#include <optional>
#include <string>

namespace corvina::test {

class TablesLayout {
public:
    TablesLayout() {
        if (const char* layout = std::getenv("CORVINA_LAYOUT")) saved_ = layout;
        setenv("CORVINA_LAYOUT", "tables", 1);
    }
    ~TablesLayout() {
        if (saved_) {
            setenv("CORVINA_LAYOUT", saved_->c_str(), 1);
        } else {
            unsetenv("CORVINA_LAYOUT");
        }
    }
    TablesLayout(const TablesLayout&) = delete;
    TablesLayout& operator=(const TablesLayout&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace corvina::test
