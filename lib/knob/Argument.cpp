#include "knob/Argument.h"

#include "knob/Exceptions.h"

#include <stdexcept>

namespace knob {

namespace {

// Names are ASCII words; locale-dependent classification would vary between systems.
bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

Argument::Argument(std::string description) : m_description(std::move(description)) {
    parse_description();
}

Argument::Argument(std::string description, std::string name)
    : m_description(std::move(description)) {
    parse_description();
    m_names.push_back(std::move(name));
    m_isPositional = false;
}

Argument& Argument::named_only() {
    m_isPositional = false;
    return *this;
}

void Argument::parse_description() {
    bool escape = false;
    bool flagNext = false;
    bool inName = false;
    size_t nameStart = 0;
    std::vector<size_t> removals;

    for (size_t i = 0; i < m_description.size(); ++i) {
        const char c = m_description[i];
        const bool taken = flagNext;
        if (flagNext) {
            m_flags += c;
            m_isPositional = false;
            flagNext = false;
        }
        // Runs for a flag character too: "&-" ends the (empty) word at once.
        if (inName && !isWordChar(c)) {
            if (i > nameStart) {
                m_names.push_back(m_description.substr(nameStart, i - nameStart));
                m_isPositional = false;
            }
            inName = false;
        }
        if (taken) {
            continue;
        }
        switch (c) {
        case '&':
        case '%':
        case '$':
            if (escape) {
                escape = false;
                removals.push_back(i - 1);
                break;
            }
            // '&' and '%' make the next character a flag, '&' and '$' start a name after the
            // mark. (Any name before ended above: a mark is no word character.)
            flagNext = c != '$';
            inName = c != '%';
            nameStart = i + 1;
            removals.push_back(i);
            break;
        case '\\':
            if (escape) {
                escape = false;
                removals.push_back(i);
            } else {
                escape = true;
            }
            break;
        default:
            escape = false;
            break;
        }
    }
    if (inName && nameStart < m_description.size()) {
        m_names.push_back(m_description.substr(nameStart));
        m_isPositional = false;
    }
    // Positions were collected in increasing order; erase from the back so they stay valid.
    for (auto it = removals.rbegin(); it != removals.rend(); ++it) {
        m_description.erase(*it, 1);
    }
}

void Argument::find_all_arguments(std::vector<const Argument*>& out) const {
    out.push_back(this);
}

unsigned Argument::count() const {
    return *m_count;
}

void Argument::check_valid() const {
    const unsigned c = count();
    if (c == 0) {
        if (required()) {
            throw argument_count_mismatch(*this, 0, 1);
        }
        return;
    }
    if (c < m_min) {
        throw argument_count_mismatch(*this, c, m_min);
    }
    if (m_max != 0 && c > m_max) {
        throw argument_count_mismatch(*this, c, m_max);
    }
}

std::string Argument::usage() const {
    if (!m_flags.empty()) {
        return std::string("-") + m_flags[0];
    }
    if (!m_names.empty()) {
        return "--" + m_names[0];
    }
    throw std::logic_error("Base usage() called on positional argument");
}

std::unique_ptr<BaseArgument> Argument::clone() const& {
    return std::make_unique<Argument>(*this);
}

std::unique_ptr<BaseArgument> Argument::clone() && {
    return std::make_unique<Argument>(std::move(*this));
}

Argument& Argument::check(ArgumentCheckFunc func) {
    m_checkFunc = std::move(func);
    return *this;
}

void Argument::set() const {
    countOccurrence();
    check();
}

std::string Argument::ident() const {
    std::string result;
    if (!m_flags.empty()) {
        result = std::string("-") + m_flags[0];
    }
    if (!m_names.empty()) {
        if (!result.empty()) {
            result += ", ";
        }
        result += "--" + m_names[0];
    }
    return result;
}

void Argument::check() const {
    if (m_checkFunc) {
        m_checkFunc(*this);
    }
}

Argument& Argument::alias(char flag) {
    m_flags += flag;
    return *this;
}

Argument& Argument::alias(std::string name) {
    m_names.push_back(std::move(name));
    return *this;
}

Argument& Argument::alias(char flag, std::string name) {
    alias(flag);
    return alias(std::move(name));
}

bool Argument::matches(char flag) const {
    return m_flags.find(flag) != std::string::npos;
}

bool Argument::matches(const std::string& name) const {
    for (const std::string& own : m_names) {
        if (own == name) {
            return true;
        }
    }
    return false;
}

bool Argument::can_set() const {
    return m_max == 0 || count() < m_max;
}

Argument& Argument::min(unsigned n) {
    m_min = n;
    return *this;
}

Argument& Argument::max(unsigned n) {
    m_max = n;
    return *this;
}

Argument& Argument::many(bool many) {
    m_max = many ? 0 : 1;
    return *this;
}

Argument& operator+(Argument& arg) {
    arg.set_required(true);
    return arg;
}

} // namespace knob
