// A small JSON reader for tests of the check's report: objects, arrays, strings (with \u
// escapes), numbers, booleans and null. Throws std::runtime_error on malformed text.
#pragma once

#include <string>
#include <vector>

namespace minijson {

// An object's member; a plain struct rather than std::pair, whose traits some
// standard libraries cannot evaluate on a type that contains itself.
struct Member;

struct Value {
    enum Type { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } type = NUL;
    bool boolean = false;
    double number = 0;
    std::string text;  // UTF-8
    std::vector<Value> items;
    std::vector<Member> members;

    // The member `key`; a null value when there is none.
    const Value& operator[](const std::string& key) const;
    const Value& operator[](std::size_t index) const { return items.at(index); }
    bool Has(const std::string& key) const;
    std::size_t Size() const;
    long long Int() const { return static_cast<long long>(number); }
};

struct Member {
    std::string first;
    Value second;
};

Value Parse(const std::string& text);

}  // namespace minijson
