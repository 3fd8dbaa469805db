// A small writer of indented JSON for the check's report (UTF-8, strings escaped).
#pragma once

#include <string>

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& key);
    JsonWriter& String(const std::wstring& value);
    JsonWriter& Number(long long value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // A member of the current object in one call.
    JsonWriter& Member(const std::string& key, const std::wstring& value) {
        return Key(key).String(value);
    }
    const std::string& Text() const { return m_text; }

private:
    void BeforeValue();
    void Open(char bracket);
    void Close(char bracket);
    void NewLine();

    std::string m_text;
    int m_depth = 0;
    bool m_first = true;      // no value yet at this depth
    bool m_afterKey = false;  // the next value belongs to a key just written
};
