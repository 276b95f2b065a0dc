#pragma once

#include "lumber/Formatter.h"
#include "lumber/Logger.h"

#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

namespace lumber {

/// The parts of an entry a FieldStr can write.
enum class Field {
    FileName = 0,
    FilePath = 1,
    Line = 2,
    Function = 3,
    LoggerName = 4,
    Message = 5,
    LogLevel = 6,
    WallTime = 7,
};

enum Justification { LEFT = 0, RIGHT = 1 };

/// One field of the entry, padded to Width with Fill (Width 0: no padding).
template <Field F, int Width = 0, Justification J = LEFT, char Fill = ' '> struct FieldStr {
    void stream(std::ostream& os, const EntryContext& context, const std::string& message) const {
        std::ostringstream text;
        writeField(text, context, message);
        os << std::setw(Width) << std::setfill(Fill) << (J == RIGHT ? std::right : std::left)
           << text.str();
    }

private:
    static void writeField(std::ostream& os, const EntryContext& context,
                           const std::string& message) {
        switch (F) {
        case Field::FileName: {
            const std::string path = context.filename ? context.filename : "";
            const auto slash = path.find_last_of('/');
            os << (slash == std::string::npos ? path : path.substr(slash + 1));
            break;
        }
        case Field::FilePath:
            os << (context.filename ? context.filename : "");
            break;
        case Field::Line:
            os << context.line;
            break;
        case Field::Function:
            os << (context.funcname ? context.funcname : "");
            break;
        case Field::LoggerName:
            os << (context.logger ? context.logger->getName() : std::string());
            break;
        case Field::Message:
            os << message;
            break;
        case Field::LogLevel:
            os << levelName(context.level);
            break;
        case Field::WallTime: {
            const auto since = context.timestamp - detail::GetStartTime();
            os << std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
            break;
        }
        }
    }
};

/// The entry's time stamp as local time, formatted with strftime.
struct TimeStr {
    explicit TimeStr(const char* format) : formatStr(format) {}
    explicit TimeStr(std::string format) : formatStr(std::move(format)) {}

    void stream(std::ostream& os, const EntryContext& context, const std::string&) const {
        const std::time_t calendar = std::chrono::system_clock::to_time_t(context.timestamp);
        std::tm local{};
        if (localtime_r(&calendar, &local) == nullptr) {
            return;
        }
        char buffer[1024];
        const std::size_t length = std::strftime(buffer, sizeof buffer, formatStr.c_str(), &local);
        if (length > 0) {
            os.write(buffer, static_cast<std::streamsize>(length));
        }
    }

    std::string formatStr;
};

namespace detail {
inline void streamElement(std::ostream& os, char c, const EntryContext&, const std::string&) {
    os << c;
}
inline void streamElement(std::ostream& os, const char* text, const EntryContext&,
                          const std::string&) {
    os << text;
}
template <class E>
void streamElement(std::ostream& os, const E& element, const EntryContext& context,
                   const std::string& message) {
    element.stream(os, context, message);
}
} // namespace detail

/// Writes its elements (characters, string literals, FieldStr, TimeStr) one after the other.
template <class... Elements> class TemplateFormatter : public Formatter {
public:
    explicit TemplateFormatter(Elements... elements) : formatters(std::move(elements)...) {}

    std::string format(const EntryContext& context, const std::string& message) const override {
        std::ostringstream os;
        std::apply(
            [&](const auto&... element) {
                (detail::streamElement(os, element, context, message), ...);
            },
            formatters);
        return os.str();
    }

private:
    std::tuple<Elements...> formatters;
};

template <class... Elements> FormatterPtr makeTemplateFormatter(Elements... elements) {
    return std::make_shared<TemplateFormatter<std::decay_t<Elements>...>>(std::move(elements)...);
}

} // namespace lumber
