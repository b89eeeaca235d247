#pragma once

// Test support: a small JSON reader for the ground truth and benchmark lines the tests score.

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorv::markers::testing {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    const JsonValue& operator[](const std::string& key) const {
        static const JsonValue null;
        const auto it = object.find(key);
        return it == object.end() ? null : it->second;
    }
    const JsonValue& operator[](size_t i) const { return array.at(i); }
    size_t size() const { return type == Type::Array ? array.size() : object.size(); }

    /// Parses one JSON text; false on a syntax error.
    static bool parse(const std::string& text, JsonValue& out) {
        size_t at = 0;
        return parseValue(text, at, out) && (skip(text, at), at == text.size());
    }

  private:
    static void skip(const std::string& s, size_t& at) {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r'))
            ++at;
    }
    static bool parseValue(const std::string& s, size_t& at, JsonValue& out) {
        skip(s, at);
        if (at >= s.size()) return false;
        const char c = s[at];
        if (c == '{') {
            out.type = Type::Object;
            ++at;
            skip(s, at);
            if (at < s.size() && s[at] == '}') return ++at, true;
            for (;;) {
                JsonValue key, value;
                skip(s, at);
                if (!parseValue(s, at, key) || key.type != Type::String) return false;
                skip(s, at);
                if (at >= s.size() || s[at++] != ':') return false;
                if (!parseValue(s, at, value)) return false;
                out.object[key.string] = std::move(value);
                skip(s, at);
                if (at >= s.size()) return false;
                if (s[at] == '}') return ++at, true;
                if (s[at++] != ',') return false;
            }
        }
        if (c == '[') {
            out.type = Type::Array;
            ++at;
            skip(s, at);
            if (at < s.size() && s[at] == ']') return ++at, true;
            for (;;) {
                JsonValue value;
                if (!parseValue(s, at, value)) return false;
                out.array.push_back(std::move(value));
                skip(s, at);
                if (at >= s.size()) return false;
                if (s[at] == ']') return ++at, true;
                if (s[at++] != ',') return false;
            }
        }
        if (c == '"') {
            out.type = Type::String;
            for (++at; at < s.size() && s[at] != '"'; ++at) {
                if (s[at] == '\\' && at + 1 < s.size()) ++at;
                out.string += s[at];
            }
            return at < s.size() && s[at++] == '"';
        }
        if (s.compare(at, 4, "true") == 0)
            return out.type = Type::Bool, out.boolean = true, at += 4, true;
        if (s.compare(at, 5, "false") == 0) return out.type = Type::Bool, at += 5, true;
        if (s.compare(at, 4, "null") == 0) return at += 4, true;
        const char* begin = s.c_str() + at;
        char* end = nullptr;
        out.number = std::strtod(begin, &end);
        if (end == begin) return false;
        out.type = Type::Number;
        at += static_cast<size_t>(end - begin);
        return true;
    }
};

}  // namespace quorv::markers::testing
