/* mqcmd_json.h -- a small strict JSON reader, so that tests check mqcmd's
 * JSON Lines by field and that every line it prints is well-formed. Numbers
 * have no exponent (mqcmd prints none); \u escapes below 0x100 give back the
 * byte they stand for. */
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

struct JVALUE {
    enum Kind { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } kind = NUL;
    bool boolean = false;
    double number = 0;
    std::string text;                                   /* STRING, decoded */
    std::vector<JVALUE> items;                          /* ARRAY */
    std::vector<std::pair<std::string, JVALUE>> fields; /* OBJECT, in order */

    /* the field named key of an object, or null */
    const JVALUE *Get(const char *key) const {
        for (const auto &f : fields)
            if (f.first == key)
                return &f.second;
        return nullptr;
    }
};

class JsonReader {
public:
    /* 1 when text is exactly one JSON value (blanks around allowed). */
    static int Parse(const std::string &text, JVALUE *out, std::string *error) {
        JsonReader r(text);
        if (r.Value(out) && r.Blanks() == text.size())
            return 1;
        if (error != nullptr)
            *error = "not JSON at offset " + std::to_string(r.pos_);
        return 0;
    }

private:
    explicit JsonReader(const std::string &text) : s_(text) {}

    const std::string &s_;
    size_t pos_ = 0;

    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    size_t Blanks() {
        while (Peek() != '\0' && strchr(" \t\n\r", Peek()) != nullptr)
            pos_++;
        return pos_;
    }
    /* c (not NUL) after blanks, taken. */
    bool Take(char c) {
        Blanks();
        if (Peek() != c)
            return false;
        pos_++;
        return true;
    }
    bool Digits() {
        size_t start = pos_;
        while (isdigit((unsigned char)Peek()))
            pos_++;
        return pos_ > start;
    }
    bool Value(JVALUE *v) {
        if (Take('"')) {
            v->kind = JVALUE::STRING;
            return String(&v->text);
        }
        for (const char *word : {"true", "false", "null"}) {
            if (s_.compare(pos_, strlen(word), word) == 0) {
                v->kind = word[0] == 'n' ? JVALUE::NUL : JVALUE::BOOL;
                v->boolean = word[0] == 't';
                pos_ += strlen(word);
                return true;
            }
        }
        if (Peek() == '[' || Peek() == '{')
            return Container(v);
        size_t start = pos_;
        pos_ += Peek() == '-';
        if (!Digits())
            return false;
        if (Peek() == '.') {
            pos_++;
            if (!Digits())
                return false;
        }
        v->kind = JVALUE::NUMBER;
        v->number = strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }
    /* The rest of a string whose opening quote was taken. */
    bool String(std::string *out) {
        static const char escapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
        while (pos_ < s_.size()) {
            unsigned char c = (unsigned char)s_[pos_++];
            if (c == '"' || c < 0x20)
                return c == '"';
            const char *at = c == '\\' && Peek() != '\0' ? strchr(escapes, Peek()) : nullptr;
            std::string hex = c == '\\' && Peek() == 'u' ? s_.substr(pos_ + 1, 4) : "";
            if (c != '\\') {
                out->push_back((char)c);
            } else if (at != nullptr && (at - escapes) % 2 == 0) {
                out->push_back(at[1]);
                pos_++;
            } else if (hex.size() == 4 && strspn(hex.c_str(), "0123456789abcdefABCDEF") == 4) {
                long cp = strtol(hex.c_str(), nullptr, 16);
                out->push_back(cp < 0x100 ? (char)cp : '?');
                pos_ += 5;
            } else {
                return false;
            }
        }
        return false;
    }
    /* Values, or "name": value pairs, between commas and brackets. */
    bool Container(JVALUE *v) {
        bool object = s_[pos_++] == '{';
        v->kind = object ? JVALUE::OBJECT : JVALUE::ARRAY;
        if (Take(object ? '}' : ']'))
            return true;
        do {
            std::string key;
            JVALUE item;
            if ((object && (!Take('"') || !String(&key) || !Take(':'))) || !Value(&item))
                return false;
            if (object)
                v->fields.emplace_back(std::move(key), std::move(item));
            else
                v->items.push_back(std::move(item));
        } while (Take(','));
        return Take(object ? '}' : ']');
    }
};
