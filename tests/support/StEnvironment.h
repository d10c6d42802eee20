#pragma once

#include <cstdlib>
#include <string>

namespace vela::test {

// Sets an environment variable for the scope, then puts the former value back (or removes it).
class StEnvironment {
public:
    StEnvironment(const char* name, const std::string& value) : fName(name) {
        const char* former = std::getenv(name);
        fHadValue = former != nullptr;
        if (fHadValue) fFormer = former;
        setenv(name, value.c_str(), 1);
    }
    ~StEnvironment() {
        if (fHadValue)
            setenv(fName, fFormer.c_str(), 1);
        else
            unsetenv(fName);
    }
    StEnvironment(const StEnvironment&) = delete;
    StEnvironment& operator=(const StEnvironment&) = delete;

private:
    const char* fName;
    std::string fFormer;
    bool fHadValue = false;
};

} // namespace vela::test
