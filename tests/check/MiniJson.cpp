#include "tests/check/MiniJson.h"

#include <cstdlib>
#include <stdexcept>

namespace minijson {

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    Value Document() {
        Value value = Any();
        Skip();
        if (m_at != m_text.size())
            Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(m_at));
    }
    void Skip() {
        while (m_at < m_text.size() &&
               std::string(" \t\r\n").find(m_text[m_at]) != std::string::npos)
            ++m_at;
    }
    bool Take(char c) {
        Skip();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c))
            Fail(std::string("expected '") + c + "'");
    }
    bool Word(const char* word) {
        std::string w(word);
        if (m_text.compare(m_at, w.size(), w) != 0)
            return false;
        m_at += w.size();
        return true;
    }

    void Utf8(unsigned code, std::string& out) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    std::string Text() {
        Expect('"');
        std::string out;
        while (m_at < m_text.size() && m_text[m_at] != '"') {
            char c = m_text[m_at++];
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in a string");
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_at >= m_text.size())
                Fail("escape at the end");
            char e = m_text[m_at++];
            const std::string simple = "\"\\/bfnrt";
            const std::string meant = "\"\\/\b\f\n\r\t";
            if (auto k = simple.find(e); k != std::string::npos) {
                out.push_back(meant[k]);
            } else if (e == 'u' && m_at + 4 <= m_text.size()) {
                Utf8(static_cast<unsigned>(std::stoul(m_text.substr(m_at, 4), nullptr, 16)), out);
                m_at += 4;
            } else {
                Fail("bad escape");
            }
        }
        Expect('"');
        return out;
    }

    Value Any() {
        Skip();
        Value value;
        if (m_at >= m_text.size())
            Fail("no value");
        char c = m_text[m_at];
        if (c == '{') {
            value.type = Value::OBJECT;
            ++m_at;
            if (!Take('}')) {
                do {
                    Skip();
                    std::string key = Text();
                    Expect(':');
                    value.members.push_back(Member{key, Any()});
                } while (Take(','));
                Expect('}');
            }
        } else if (c == '[') {
            value.type = Value::ARRAY;
            ++m_at;
            if (!Take(']')) {
                do {
                    value.items.push_back(Any());
                } while (Take(','));
                Expect(']');
            }
        } else if (c == '"') {
            value.type = Value::STRING;
            value.text = Text();
        } else if (Word("true") || Word("false")) {
            value.type = Value::BOOL;
            value.boolean = m_text[m_at - 1] == 'e' && m_text[m_at - 2] == 'u';
        } else if (Word("null")) {
            value.type = Value::NUL;
        } else {
            char* end = nullptr;
            value.type = Value::NUMBER;
            value.number = std::strtod(m_text.c_str() + m_at, &end);
            if (end == m_text.c_str() + m_at)
                Fail("bad value");
            m_at = static_cast<std::size_t>(end - m_text.c_str());
        }
        return value;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

}  // namespace

const Value& Value::operator[](const std::string& key) const {
    static const Value kNull;
    for (const auto& [name, value] : members) {
        if (name == key)
            return value;
    }
    return kNull;
}

bool Value::Has(const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key)
            return true;
    }
    return false;
}

std::size_t Value::Size() const {
    return type == ARRAY ? items.size() : members.size();
}

Value Parse(const std::string& text) {
    return Reader(text).Document();
}

}  // namespace minijson
