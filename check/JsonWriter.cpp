#include "check/JsonWriter.h"

#include <cstdio>

#include "check/TextHelpers.h"

namespace {

std::string Quoted(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

void JsonWriter::NewLine() {
    m_text += "\n" + std::string(static_cast<std::size_t>(2 * m_depth), ' ');
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first)
        m_text += ",";
    if (m_depth > 0)
        NewLine();
    m_first = false;
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    m_text.push_back(bracket);
    ++m_depth;
    m_first = true;
}

void JsonWriter::Close(char bracket) {
    --m_depth;
    if (!m_first)
        NewLine();
    m_text.push_back(bracket);
    m_first = false;
}

JsonWriter& JsonWriter::BeginObject() {
    Open('{');
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    Close('}');
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    Open('[');
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    Close(']');
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& key) {
    BeforeValue();
    m_text += Quoted(key) + ": ";
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::wstring& value) {
    BeforeValue();
    m_text += Quoted(ToUtf8(value));
    return *this;
}

JsonWriter& JsonWriter::Number(long long value) {
    BeforeValue();
    m_text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    m_text += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    m_text += "null";
    return *this;
}
