#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets an environment variable for one scope (nullptr unsets it) and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name), m_old(Get(name)) { Put(name, value); }
    ~ScopedVariable() { Put(m_name, m_old ? m_old->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    static std::optional<std::string> Get(const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Put(const char* name, const char* value) {
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }

    const char* m_name;
    std::optional<std::string> m_old;
};
