/* mqcmd_json.h -- a small strict JSON reader for the requester's tests.
 *
 * Parses one JSON text into a JVALUE tree, or says where it is not JSON, so
 * that tests check mqcmd's JSON Lines by field rather than by substring, and
 * that every line it prints is well-formed.
 */
#pragma once

#include <cctype>
#include <cstdint>
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
    /* the names of an object's fields, in order */
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto &f : fields)
            keys.push_back(f.first);
        return keys;
    }
};

class JsonReader {
public:
    /* 1 when text is exactly one JSON value (blanks around allowed). */
    static int Parse(const std::string &text, JVALUE *out, std::string *error) {
        JsonReader r(text);
        if (!r.Value(out, 0) || (r.SkipBlanks(), r.pos_ != text.size())) {
            if (error != nullptr)
                *error = "not JSON at offset " + std::to_string(r.pos_) + ": " + r.error_;
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
    void SkipBlanks() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            pos_++;
    }
    bool Literal(const char *word) {
        size_t n = strlen(word);
        if (s_.compare(pos_, n, word) != 0)
            return Fail("bad literal");
        pos_ += n;
        return true;
    }
    bool Value(JVALUE *v, int depth) {
        if (depth > 256)
            return Fail("too deep");
        SkipBlanks();
        if (pos_ >= s_.size())
            return Fail("unexpected end");
        char c = s_[pos_];
        if (c == '{')
            return Object(v, depth);
        if (c == '[')
            return Array(v, depth);
        if (c == '"') {
            v->kind = JVALUE::STRING;
            return String(&v->text);
        }
        if (c == 't') {
            v->kind = JVALUE::BOOL;
            v->boolean = true;
            return Literal("true");
        }
        if (c == 'f') {
            v->kind = JVALUE::BOOL;
            return Literal("false");
        }
        if (c == 'n') {
            v->kind = JVALUE::NUL;
            return Literal("null");
        }
        return Number(v);
    }
    bool Number(JVALUE *v) {
        size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-')
            pos_++;
        if (pos_ >= s_.size() || !isdigit((unsigned char)s_[pos_]))
            return Fail("bad number");
        if (s_[pos_] == '0' && pos_ + 1 < s_.size() && isdigit((unsigned char)s_[pos_ + 1]))
            return Fail("leading zero");
        while (pos_ < s_.size() && isdigit((unsigned char)s_[pos_]))
            pos_++;
        if (pos_ < s_.size() && s_[pos_] == '.') {
            pos_++;
            if (pos_ >= s_.size() || !isdigit((unsigned char)s_[pos_]))
                return Fail("bad fraction");
            while (pos_ < s_.size() && isdigit((unsigned char)s_[pos_]))
                pos_++;
        }
        v->kind = JVALUE::NUMBER;
        v->number = strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }
    static int Hex(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }
    bool String(std::string *out) {
        pos_++; /* the quote */
        while (pos_ < s_.size()) {
            unsigned char c = (unsigned char)s_[pos_++];
            if (c == '"')
                return true;
            if (c < 0x20)
                return Fail("control character in a string");
            if (c != '\\') {
                out->push_back((char)c);
                continue;
            }
            if (pos_ >= s_.size())
                return Fail("unexpected end");
            char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out->push_back(e);
                    break;
                case 'n':
                    out->push_back('\n');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'u': {
                    if (pos_ + 4 > s_.size())
                        return Fail("short \\u escape");
                    unsigned cp = 0;
                    for (int i = 0; i < 4; i++) {
                        int h = Hex(s_[pos_ + i]);
                        if (h < 0)
                            return Fail("bad \\u escape");
                        cp = cp * 16 + (unsigned)h;
                    }
                    pos_ += 4;
                    /* the tests only need code points below 0x100: keep them as
                     * single bytes, so that \u00XX gives back the original byte */
                    if (cp < 0x100) {
                        out->push_back((char)cp);
                    } else {
                        out->push_back('?');
                    }
                    break;
                }
                default:
                    return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }
    bool Array(JVALUE *v, int depth) {
        v->kind = JVALUE::ARRAY;
        pos_++;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            pos_++;
            return true;
        }
        for (;;) {
            JVALUE item;
            if (!Value(&item, depth + 1))
                return false;
            v->items.push_back(std::move(item));
            SkipBlanks();
            if (pos_ >= s_.size())
                return Fail("unexpected end");
            if (s_[pos_] == ',') {
                pos_++;
                continue;
            }
            if (s_[pos_] == ']') {
                pos_++;
                return true;
            }
            return Fail("expected , or ]");
        }
    }
    bool Object(JVALUE *v, int depth) {
        v->kind = JVALUE::OBJECT;
        pos_++;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            pos_++;
            return true;
        }
        for (;;) {
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != '"')
                return Fail("expected a field name");
            std::string key;
            if (!String(&key))
                return false;
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != ':')
                return Fail("expected :");
            pos_++;
            JVALUE item;
            if (!Value(&item, depth + 1))
                return false;
            v->fields.emplace_back(std::move(key), std::move(item));
            SkipBlanks();
            if (pos_ >= s_.size())
                return Fail("unexpected end");
            if (s_[pos_] == ',') {
                pos_++;
                continue;
            }
            if (s_[pos_] == '}') {
                pos_++;
                return true;
            }
            return Fail("expected , or }");
        }
    }
};
