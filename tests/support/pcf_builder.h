/* pcf_builder.h -- builds PCF messages byte by byte (header first, then
 * parameters in order, lying lengths on request) and reads the parameters
 * of a sound one back, for the tests of everything that reads or writes
 * PCF.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqpcf.h"

namespace tvtest {

inline MQLONG Get(const std::vector<MQBYTE> &m, size_t at) {
    MQLONG v = 0;
    if (at + 4 <= m.size())
        memcpy(&v, m.data() + at, 4);
    return v;
}
inline MQLONG Get(const std::string &m, size_t at) {
    MQLONG v = 0;
    if (at + 4 <= m.size())
        memcpy(&v, m.data() + at, 4);
    return v;
}
inline void Set(std::vector<MQBYTE> &m, size_t at, MQLONG v) {
    memcpy(m.data() + at, &v, 4);
}

/* Builds one PCF message: header first, then parameters in order. */
class Pcf {
public:
    explicit Pcf(MQLONG command, MQLONG type = MQCFT_RESPONSE) {
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Type = type;
        cfh.Command = command;
        cfh.Control = MQCFC_NOT_LAST;
        Append(&cfh, sizeof cfh);
    }
    Pcf &Control(MQLONG v) { return Field(20, v); }
    Pcf &Version(MQLONG v) { return Field(8, v); }
    Pcf &Seq(MQLONG v) { return Field(16, v); }
    Pcf &CompCode(MQLONG v) { return Field(24, v); }
    Pcf &Reason(MQLONG v) { return Field(28, v); }
    Pcf &Count(MQLONG v) { return Field(32, v); }
    Pcf &Int(MQLONG parameter, MQLONG value) {
        MQLONG s[4] = {MQCFT_INTEGER, 16, parameter, value};
        Append(s, sizeof s);
        return Bump();
    }
    /* A string of exactly value's bytes, padded to a multiple of 4 with zeros. */
    Pcf &Str(MQLONG parameter, const std::string &value, MQLONG ccsid = 0) {
        return Varying({MQCFT_STRING, 0, parameter, ccsid}, value.data(), value.size());
    }
    /* A string blank-padded to width bytes, as the command server sends. */
    Pcf &Padded(MQLONG parameter, const std::string &value, size_t width) {
        std::string v = value;
        v.resize(width, ' ');
        return Str(parameter, v);
    }
    Pcf &IntList(MQLONG parameter, const std::vector<MQLONG> &values) {
        MQLONG s[4] = {MQCFT_INTEGER_LIST, (MQLONG)(16 + 4 * values.size()), parameter,
                       (MQLONG)values.size()};
        Append(s, sizeof s);
        Append(values.data(), 4 * values.size());
        return Bump();
    }
    Pcf &StrList(MQLONG parameter, const std::vector<std::string> &values, MQLONG width) {
        MQLONG struc = (24 + width * (MQLONG)values.size() + 3) & ~3;
        MQLONG s[6] = {MQCFT_STRING_LIST, struc, parameter, 0, (MQLONG)values.size(), width};
        Append(s, sizeof s);
        for (const std::string &v : values) {
            std::string p = v;
            p.resize((size_t)width, ' ');
            Append(p.data(), p.size());
        }
        Pad(struc - 24 - width * (MQLONG)values.size());
        return Bump();
    }
    Pcf &Bytes(MQLONG parameter, const std::vector<MQBYTE> &value) {
        return Varying({MQCFT_BYTE_STRING, 0, parameter}, value.data(), value.size());
    }
    Pcf &Int64(MQLONG parameter, int64_t value) {
        MQLONG s[4] = {MQCFT_INTEGER64, 24, parameter, 0};
        Append(s, sizeof s);
        Append(&value, sizeof value);
        return Bump();
    }
    Pcf &Int64List(MQLONG parameter, const std::vector<int64_t> &values) {
        MQLONG s[4] = {MQCFT_INTEGER64_LIST, (MQLONG)(16 + 8 * values.size()), parameter,
                       (MQLONG)values.size()};
        Append(s, sizeof s);
        Append(values.data(), 8 * values.size());
        return Bump();
    }
    /* A group header; its members follow and are counted at the top level
     * too, so a message with groups sets its Count itself. */
    Pcf &Group(MQLONG parameter, MQLONG count) {
        MQLONG s[4] = {MQCFT_GROUP, 16, parameter, count};
        Append(s, sizeof s);
        return Bump();
    }
    Pcf &IntFilter(MQLONG parameter, MQLONG op, MQLONG value) {
        MQLONG s[5] = {MQCFT_INTEGER_FILTER, 20, parameter, op, value};
        Append(s, sizeof s);
        return Bump();
    }
    Pcf &StrFilter(MQLONG parameter, MQLONG op, const std::string &value) {
        return Varying({MQCFT_STRING_FILTER, 0, parameter, op, 0}, value.data(), value.size());
    }
    Pcf &ByteFilter(MQLONG parameter, MQLONG op, const std::vector<MQBYTE> &value) {
        return Varying({MQCFT_BYTE_STRING_FILTER, 0, parameter, op}, value.data(), value.size());
    }
    /* Raw bytes, counted as no parameter (for lying messages). */
    Pcf &Raw(const std::vector<MQBYTE> &bytes) {
        Append(bytes.data(), bytes.size());
        return *this;
    }
    std::vector<MQBYTE> bytes() const { return m_; }
    /* The message as a string of bytes (a message body to put). */
    std::string text() const { return std::string(m_.begin(), m_.end()); }

private:
    Pcf &Field(size_t at, MQLONG v) {
        Set(m_, at, v);
        return *this;
    }
    /* A structure of head's words, then the value's length and bytes, padded
     * with zeros to a multiple of 4; head[1] becomes the StrucLength. */
    Pcf &Varying(std::vector<MQLONG> head, const void *value, size_t length) {
        head.push_back((MQLONG)length);
        const size_t fixed = 4 * head.size();
        head[1] = (MQLONG)((fixed + length + 3) & ~(size_t)3);
        Append(head.data(), fixed);
        Append(value, length);
        Pad(head[1] - (MQLONG)(fixed + length));
        return Bump();
    }
    Pcf &Bump() { return Field(32, Get(m_, 32) + 1); }
    void Append(const void *p, size_t n) {
        const MQBYTE *b = static_cast<const MQBYTE *>(p);
        m_.insert(m_.end(), b, b + n);
    }
    void Pad(MQLONG n) { m_.insert(m_.end(), (size_t)n, 0); }
    std::vector<MQBYTE> m_;
};

/* The builder's name where harness.h's Pcf(msg) hides the class. */
using PcfBuilder = class Pcf;

/* One parameter read back from a message. */
struct Parm {
    MQLONG type = 0;
    MQLONG strucLength = 0;
    MQLONG parameter = 0;
    MQLONG value = 0; /* MQCFIN */
    std::string text; /* MQCFST, MQCFBS */
    MQLONG stringLength = 0;
    std::vector<MQLONG> ints;      /* MQCFIL */
    std::vector<std::string> strs; /* MQCFSL */
};

/* The parameters of a sound PCF message (fails the test when it is not);
 * a group's members are read after it. */
inline std::vector<Parm> ReadParms(const std::vector<MQBYTE> &m) {
    std::vector<Parm> out;
    EXPECT_GE(m.size(), 36u);
    if (m.size() < 36)
        return out;
    size_t pos = 36;
    int64_t count = Get(m, 32);
    EXPECT_GE(count, 0);
    for (int64_t i = 0; i < count; i++) {
        EXPECT_LE(pos + 8, m.size()) << "parameter " << i << " of " << count;
        if (pos + 8 > m.size())
            return out;
        Parm p;
        p.type = Get(m, pos);
        p.strucLength = Get(m, pos + 4);
        p.parameter = Get(m, pos + 8);
        EXPECT_GE(p.strucLength, 12);
        EXPECT_EQ(p.strucLength % 4, 0);
        EXPECT_LE(pos + (size_t)p.strucLength, m.size());
        if (p.strucLength < 12 || pos + (size_t)p.strucLength > m.size())
            return out;
        if (p.type == MQCFT_INTEGER)
            p.value = Get(m, pos + 12);
        if (p.type == MQCFT_STRING) { /* (text left empty when its length lies) */
            p.stringLength = Get(m, pos + 16);
            if (p.stringLength >= 0 && p.stringLength <= p.strucLength - 20)
                p.text.assign((const char *)m.data() + pos + 20, (size_t)p.stringLength);
        }
        if (p.type == MQCFT_GROUP) {
            p.value = Get(m, pos + 12);
            EXPECT_TRUE(p.strucLength >= 16 && p.value >= 0) << "group " << p.parameter;
            count += p.value > 0 ? p.value : 0;
        }
        MQLONG n = Get(m, pos + 12), each = Get(m, pos + 20);
        if (p.type == MQCFT_BYTE_STRING && n >= 0 && 16 + n <= p.strucLength)
            p.text.assign((const char *)m.data() + pos + 16, (size_t)n);
        if (p.type == MQCFT_INTEGER_LIST && n >= 0 && 16 + 4 * (int64_t)n == p.strucLength)
            for (MQLONG k = 0; k < n; k++)
                p.ints.push_back(Get(m, pos + 16 + 4 * (size_t)k));
        n = Get(m, pos + 16);
        if (p.type == MQCFT_STRING_LIST && n >= 0 && each >= 0 &&
            24 + (int64_t)n * each <= p.strucLength)
            for (MQLONG k = 0; k < n; k++)
                p.strs.emplace_back((const char *)m.data() + pos + 24 + (size_t)(k * each),
                                    (size_t)each);
        out.push_back(p);
        pos += (size_t)p.strucLength;
    }
    EXPECT_EQ(pos, m.size()) << "bytes after the last counted parameter";
    return out;
}

}  // namespace tvtest
