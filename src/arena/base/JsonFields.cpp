#include "JsonFields.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace {

/// A value as the fault shows it: short, and its JSON text so that "3" and 3 differ.
std::string shown(const nlohmann::json& value) {
    constexpr size_t LONGEST = 40;
    std::string text = value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    if (text.size() > LONGEST) {
        text = text.substr(0, LONGEST) + "...";
    }
    return text;
}

/// Edits (insert, delete, replace) from one word to the other; names are short.
size_t distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

JsonFields::JsonFields(const nlohmann::json& object, std::string path)
    : m_object(object), m_path(std::move(path)) {
    if (!m_object.is_object()) {
        m_error = (m_path.empty() ? std::string("the document") : m_path) +
                  " must be an object {...}, not " + shown(m_object);
    }
}

std::string JsonFields::name(const std::string& key) const {
    return (m_path.empty() ? "" : m_path + " ") + shown(nlohmann::json(key));
}

void JsonFields::fail(const std::string& key, const std::string& complaint) {
    if (m_error.empty()) {
        m_error = name(key) + " " + complaint;
    }
}

void JsonFields::wrongValue(const std::string& key, const std::string& expected) {
    fail(key, "must be " + expected + ", not " + shown(m_object.at(key)));
}

void JsonFields::adopt(const JsonFields& nested) {
    if (m_error.empty()) {
        m_error = nested.m_error;
    }
}

std::string JsonFields::pathOf(const std::string& key, size_t index) const {
    return name(key) + "[" + std::to_string(index) + "]";
}

const nlohmann::json* JsonFields::member(const std::string& key, bool required) {
    m_known.push_back(key);
    if (!m_error.empty()) {
        return nullptr;
    }
    const auto found = m_object.find(key);
    if (found == m_object.end()) {
        if (required) {
            fail(key, "is missing");
        }
        return nullptr;
    }
    return &*found;
}

bool JsonFields::has(const std::string& key) {
    m_known.push_back(key);
    return m_error.empty() && m_object.contains(key);
}

void JsonFields::whole(const std::string& key, uint64_t min, uint64_t max, uint64_t& out,
                       bool required) {
    const nlohmann::json* value = member(key, required);
    if (value == nullptr) {
        return;
    }
    // Negative whole numbers are stored signed, the rest unsigned: neither is converted
    // before its range is known.
    if (!value->is_number_unsigned() || value->get<uint64_t>() < min ||
        value->get<uint64_t>() > max) {
        wrongValue(key,
                   "a whole number from " + std::to_string(min) + " to " + std::to_string(max));
        return;
    }
    out = value->get<uint64_t>();
}

void JsonFields::whole(const std::string& key, unsigned min, unsigned max, unsigned& out,
                       bool required) {
    uint64_t wide = out;
    whole(key, uint64_t{min}, uint64_t{max}, wide, required);
    out = static_cast<unsigned>(wide);
}

void JsonFields::number(const std::string& key, double min, double max, double& out,
                        bool required) {
    const nlohmann::json* value = member(key, required);
    if (value == nullptr) {
        return;
    }
    const bool fits = value->is_number() && std::isfinite(value->get<double>()) &&
                      value->get<double>() >= min && value->get<double>() <= max;
    if (!fits) {
        std::ostringstream range;
        range << std::setprecision(10) << "a number from " << min << " to " << max;
        wrongValue(key, range.str());
        return;
    }
    out = value->get<double>();
}

void JsonFields::text(const std::string& key, size_t maxLength, std::string& out, bool required) {
    const nlohmann::json* value = member(key, required);
    if (value == nullptr) {
        return;
    }
    const std::string* s = value->get_ptr<const std::string*>();
    if (s == nullptr || s->empty() || s->size() > maxLength ||
        std::any_of(s->begin(), s->end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        wrongValue(key, "a string of 1 to " + std::to_string(maxLength) +
                            " bytes without control characters");
        return;
    }
    out = *s;
}

bool JsonFields::fitsPath(const std::string& path) {
    if (path.size() > MAX_PATH_BYTES) {
        return false;
    }
    size_t start = 0;
    for (size_t slash = path.find('/'); slash != std::string::npos;
         start = slash + 1, slash = path.find('/', start)) {
        if (slash - start > MAX_NAME_BYTES) {
            return false;
        }
    }
    return path.size() - start <= MAX_NAME_BYTES;
}

std::string JsonFields::pathBounds() {
    return "a path of at most " + std::to_string(MAX_PATH_BYTES) + " bytes with names of at most " +
           std::to_string(MAX_NAME_BYTES) + " bytes";
}

void JsonFields::path(const std::string& key, std::string& out, bool required) {
    std::string given = out;
    text(key, MAX_PATH_BYTES, given, required);
    if (!ok()) {
        return;
    }
    if (!fitsPath(given)) {
        wrongValue(key, pathBounds());
        return;
    }
    out = given;
}

void JsonFields::flag(const std::string& key, bool& out) {
    const nlohmann::json* value = member(key, false);
    if (value == nullptr) {
        return;
    }
    if (!value->is_boolean()) {
        wrongValue(key, "true or false");
        return;
    }
    out = value->get<bool>();
}

const nlohmann::json* JsonFields::object(const std::string& key, size_t maxSize) {
    const nlohmann::json* value = member(key, false);
    if (value == nullptr) {
        return nullptr;
    }
    if (!value->is_object() || value->size() > maxSize) {
        wrongValue(key, "an object {...} of at most " + std::to_string(maxSize) + " members");
        return nullptr;
    }
    return value;
}

const nlohmann::json* JsonFields::array(const std::string& key, size_t minSize, size_t maxSize) {
    const nlohmann::json* value = member(key, true);
    if (value == nullptr) {
        return nullptr;
    }
    if (!value->is_array() || value->size() < minSize || value->size() > maxSize) {
        wrongValue(key, "a list [...] of " + std::to_string(minSize) + " to " +
                            std::to_string(maxSize) + " entries");
        return nullptr;
    }
    return value;
}

void JsonFields::refuseUnknown() {
    if (!m_error.empty()) {
        return;
    }
    for (const auto& item : m_object.items()) {
        if (std::find(m_known.begin(), m_known.end(), item.key()) != m_known.end()) {
            continue;
        }
        std::string complaint = "is not a known key";
        for (const std::string& known : m_known) {
            // One or two edits away, and not all of a very short word.
            if (distance(item.key(), known) <= std::min<size_t>(2, known.size() / 3)) {
                complaint += " (did you mean \"" + known + "\"?)";
                break;
            }
        }
        fail(item.key(), complaint);
        return;
    }
}
