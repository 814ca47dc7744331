/* mqcmd_json.h -- a small strict JSON reader for the requester's tests.
 *
 * Parses one JSON text into a JVALUE tree, or says where it is not JSON, so
 * that tests check mqcmd's JSON Lines by field rather than by substring, and
 * that every line it prints is well-formed.
 */
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
        if (!r.Value(out, 0) || (r.SkipBlanks(), r.pos_ != text.size())) {
            if (error != nullptr)
                *error = "not JSON at offset " + std::to_string(r.pos_) + ": " +
                         (r.error_.empty() ? "text after the value" : r.error_);
            return 0;
        }
        return 1;
    }

private:
    explicit JsonReader(const std::string &text) : s_(text) {}

    const std::string &s_;
    size_t pos_ = 0;
    std::string error_;

    bool Fail(const char *why) {
        if (error_.empty())
            error_ = why;
        return false;
    }
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    bool Digit() const { return isdigit((unsigned char)Peek()) != 0; }
    void SkipBlanks() {
        while (pos_ < s_.size() && strchr(" \t\n\r", s_[pos_]) != nullptr)
            pos_++;
    }
    bool Take(char c) {
        SkipBlanks();
        if (Peek() != c || pos_ >= s_.size())
            return false;
        pos_++;
        return true;
    }
    bool Value(JVALUE *v, int depth) {
        if (depth > 256)
            return Fail("too deep");
        SkipBlanks();
        static const struct {
            const char *word;
            JVALUE::Kind kind;
        } literals[] = {{"true", JVALUE::BOOL}, {"false", JVALUE::BOOL}, {"null", JVALUE::NUL}};
        for (const auto &l : literals) {
            if (s_.compare(pos_, strlen(l.word), l.word) == 0) {
                v->kind = l.kind;
                v->boolean = l.word[0] == 't';
                pos_ += strlen(l.word);
                return true;
            }
        }
        if (Peek() == '"') {
            v->kind = JVALUE::STRING;
            return String(&v->text);
        }
        if (Peek() == '[' || Peek() == '{')
            return Container(v, depth);
        size_t start = pos_;
        pos_ += Peek() == '-';
        if (!Digit())
            return Fail("bad value");
        if (Peek() == '0' && pos_ + 1 < s_.size() && isdigit((unsigned char)s_[pos_ + 1]))
            return Fail("leading zero");
        while (Digit())
            pos_++;
        if (Peek() == '.') {
            pos_++;
            if (!Digit())
                return Fail("bad fraction");
            while (Digit())
                pos_++;
        }
        v->kind = JVALUE::NUMBER;
        v->number = strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }
    bool String(std::string *out) {
        static const char escapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
        for (pos_++; pos_ < s_.size();) {
            unsigned char c = (unsigned char)s_[pos_++];
            if (c == '"')
                return true;
            if (c < 0x20)
                return Fail("control character in a string");
            if (c != '\\') {
                out->push_back((char)c);
                continue;
            }
            char e = Peek();
            pos_++;
            const char *at = e == '\0' ? nullptr : strchr(escapes, e);
            if (at != nullptr && (at - escapes) % 2 == 0) {
                out->push_back(at[1]);
            } else if (e == 'u' && pos_ + 4 <= s_.size() &&
                       strspn(s_.substr(pos_, 4).c_str(), "0123456789abcdefABCDEF") == 4) {
                /* the tests only need code points below 0x100: kept as single
                 * bytes, so that \u00XX gives back the original byte */
                long cp = strtol(s_.substr(pos_, 4).c_str(), nullptr, 16);
                out->push_back(cp < 0x100 ? (char)cp : '?');
                pos_ += 4;
            } else {
                return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }
    /* An array or an object: values, or "name": value pairs, between
     * commas. */
    bool Container(JVALUE *v, int depth) {
        bool object = s_[pos_++] == '{';
        const char close = object ? '}' : ']';
        v->kind = object ? JVALUE::OBJECT : JVALUE::ARRAY;
        if (Take(close))
            return true;
        do {
            std::string key;
            SkipBlanks();
            if (object && (Peek() != '"' || !String(&key)))
                return Fail("expected a field name");
            if (object && !Take(':'))
                return Fail("expected :");
            JVALUE item;
            if (!Value(&item, depth + 1))
                return false;
            if (object)
                v->fields.emplace_back(std::move(key), std::move(item));
            else
                v->items.push_back(std::move(item));
        } while (Take(','));
        return Take(close) || Fail(object ? "expected , or }" : "expected , or ]");
    }
};
