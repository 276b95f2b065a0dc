#include "knob/ArgumentParser.h"

#include <algorithm>
#include <stdexcept>

namespace knob {

namespace {

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

ArgumentParser::ArgumentParser() : m_constraints("Constraints") {
    m_argSets.emplace_back("Arguments");
}

ArgumentParser& ArgumentParser::add(ArgumentSet set) {
    m_argSets.push_back(std::move(set));
    return *this;
}

ArgumentParser& ArgumentParser::add(const BaseArgument& arg) {
    m_argSets.front().add(arg);
    return *this;
}

void ArgumentParser::parse(int argc, const char* const* argv) {
    if (m_programName.empty() && argc > 0) {
        m_programName = argv[0];
    }
    std::vector<std::string> tokens;
    for (int i = 1; i < argc; ++i) {
        tokens.emplace_back(argv[i]);
    }
    parse(tokens);
}

void ArgumentParser::parse(const std::vector<std::string>& tokens) {
    bool optionsEnded = false;
    size_t next = 0;
    while (next < tokens.size()) {
        const std::string& token = tokens[next++];
        if (token == skip) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && startsWith(token, nameStart)) {
            const size_t delim = token.find(nameDelim);
            const bool inlineValue = delim != std::string::npos;
            const size_t nameEnd = inlineValue ? delim : token.size();
            const std::string name = token.substr(nameStart.size(), nameEnd - nameStart.size());
            const Argument* arg = findArg(name);
            if (arg == nullptr) {
                throw unknown_argument(name);
            }
            if (!arg->takes_value()) {
                if (inlineValue) {
                    throw argument_no_value(*arg);
                }
                arg->set();
            } else if (inlineValue) {
                set_arg_value(arg, token.substr(delim + 1));
            } else {
                takeValue(arg, tokens, next);
            }
            continue;
        }
        if (!optionsEnded && startsWith(token, flagStart) && token != flagStart) {
            const Argument* valued = nullptr;
            size_t pos = flagStart.size();
            while (pos < token.size()) {
                const char flag = token[pos++];
                const Argument* arg = findArg(flag);
                if (arg == nullptr) {
                    throw unknown_argument(flag);
                }
                if (arg->takes_value()) {
                    valued = arg;
                    break;
                }
                arg->set();
            }
            if (valued != nullptr) {
                // The rest of the token is the value: -lfile, and -ln gives l the value n.
                if (pos < token.size()) {
                    set_arg_value(valued, token.substr(pos));
                } else {
                    takeValue(valued, tokens, next);
                }
            }
            continue;
        }
        const Argument* arg = findArg();
        if (arg == nullptr) {
            throw unknown_argument();
        }
        if (arg->takes_value()) {
            set_arg_value(arg, token);
        } else {
            arg->set();
        }
    }

    for (const ArgumentSet& set : m_argSets) {
        set.check_valid();
    }
    m_constraints.check_valid();
}

void ArgumentParser::takeValue(const Argument* arg, const std::vector<std::string>& tokens,
                               size_t& next) const {
    // The next token is the value even when it looks like an option.
    if (next >= tokens.size()) {
        throw argument_missing_value(*arg);
    }
    set_arg_value(arg, tokens[next++]);
}

std::string ArgumentParser::help() const {
    size_t width = 0;
    for (const ArgumentSet& set : m_argSets) {
        for (const Argument* arg : set.args()) {
            width = std::max(width, arg->ident().size());
        }
    }
    width += 2;

    std::string text = "Usage: ";
    if (!m_programName.empty()) {
        text += m_programName + " ";
    }
    // The first set's usage is written even when empty.
    text += m_argSets.front().usage();
    for (size_t i = 1; i < m_argSets.size(); ++i) {
        if (m_argSets[i].size() != 0) {
            text += " " + m_argSets[i].usage();
        }
    }
    text += "\n";

    for (const ArgumentSet& set : m_argSets) {
        if (set.size() == 0) {
            continue;
        }
        text += "\n" + set.name() + ":\n";
        for (const Argument* arg : set.args()) {
            const std::string ident = arg->ident();
            text +=
                "  " + ident + std::string(width - ident.size(), ' ') + arg->description() + "\n";
        }
    }
    return text;
}

template <class Match> const Argument* ArgumentParser::findFirst(Match matches) const {
    const Argument* candidate = nullptr;
    for (const ArgumentSet& set : m_argSets) {
        for (const Argument* arg : set.args()) {
            if (!matches(*arg)) {
                continue;
            }
            if (arg->can_set()) {
                return arg;
            }
            candidate = arg;
        }
    }
    return candidate;
}

const Argument* ArgumentParser::findArg(const std::string& name) const {
    return findFirst([&name](const Argument& arg) { return arg.matches(name); });
}

const Argument* ArgumentParser::findArg(char flag) const {
    return findFirst([flag](const Argument& arg) { return arg.matches(flag); });
}

const Argument* ArgumentParser::findArg() const {
    return findFirst([](const Argument& arg) { return arg.matches(); });
}

void ArgumentParser::set_arg_value(const Argument* arg, const std::string& text) const {
    if (!arg->takes_value()) {
        throw std::logic_error("Attempt to set value on non-valued argument");
    }
    const auto* acceptor = dynamic_cast<const ValueAcceptor*>(arg);
    if (acceptor == nullptr) {
        throw std::logic_error("Requested value interface on non-valued argument");
    }
    acceptor->set(text);
}

} // namespace knob
