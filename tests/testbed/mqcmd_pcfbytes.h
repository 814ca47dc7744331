/* mqcmd_pcfbytes.h -- hand-built PCF messages for the requester's tests.
 *
 * Lays structures out byte by byte from their published layouts (not through
 * the code under test), so that the decoder is checked against the wire
 * format itself.
 */
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"

struct PcfBytes {
    std::vector<MQBYTE> b;

    void Long(MQLONG v) { Raw(&v, 4); }
    void Wide(int64_t v) { Raw(&v, 8); }
    void Raw(const void *p, size_t n) {
        const MQBYTE *q = (const MQBYTE *)p;
        b.insert(b.end(), q, q + n);
    }
    void Zeros(size_t n) { b.insert(b.end(), n, 0); }
    void SetLong(size_t off, MQLONG v) { memcpy(b.data() + off, &v, 4); }
    MQLONG GetLong(size_t off) const {
        MQLONG v;
        memcpy(&v, b.data() + off, 4);
        return v;
    }
    static size_t Round4(size_t n) { return (n + 3) & ~(size_t)3; }

    void Header(MQLONG type, MQLONG command, MQLONG control, MQLONG compCode, MQLONG reason,
                MQLONG count, MQLONG seq = 1, MQLONG version = 1) {
        Long(type);
        Long(36);
        Long(version);
        Long(command);
        Long(seq);
        Long(control);
        Long(compCode);
        Long(reason);
        Long(count);
    }
    void Integer(MQLONG id, MQLONG v) {
        Long(MQCFT_INTEGER);
        Long(16);
        Long(id);
        Long(v);
    }
    void Integer64(MQLONG id, int64_t v) {
        Long(MQCFT_INTEGER64);
        Long(24);
        Long(id);
        Long(0);
        Wide(v);
    }
    void String(MQLONG id, const std::string &s, MQLONG ccsid = 0) {
        size_t sl = Round4(20 + s.size());
        Long(MQCFT_STRING);
        Long((MQLONG)sl);
        Long(id);
        Long(ccsid);
        Long((MQLONG)s.size());
        Raw(s.data(), s.size());
        Zeros(sl - 20 - s.size());
    }
    void IntList(MQLONG id, const std::vector<MQLONG> &v) {
        Long(MQCFT_INTEGER_LIST);
        Long((MQLONG)(16 + 4 * v.size()));
        Long(id);
        Long((MQLONG)v.size());
        for (MQLONG x : v)
            Long(x);
    }
    void Int64List(MQLONG id, const std::vector<int64_t> &v) {
        Long(MQCFT_INTEGER64_LIST);
        Long((MQLONG)(16 + 8 * v.size()));
        Long(id);
        Long((MQLONG)v.size());
        for (int64_t x : v)
            Wide(x);
    }
    void StrList(MQLONG id, const std::vector<std::string> &v, size_t each) {
        size_t sl = Round4(24 + each * v.size());
        Long(MQCFT_STRING_LIST);
        Long((MQLONG)sl);
        Long(id);
        Long(0);
        Long((MQLONG)v.size());
        Long((MQLONG)each);
        for (const std::string &s : v) {
            std::string padded = s;
            padded.resize(each, ' ');
            Raw(padded.data(), each);
        }
        Zeros(sl - 24 - each * v.size());
    }
    void ByteString(MQLONG id, const std::vector<MQBYTE> &v) {
        size_t sl = Round4(16 + v.size());
        Long(MQCFT_BYTE_STRING);
        Long((MQLONG)sl);
        Long(id);
        Long((MQLONG)v.size());
        Raw(v.data(), v.size());
        Zeros(sl - 16 - v.size());
    }
    void Group(MQLONG id, MQLONG count) {
        Long(MQCFT_GROUP);
        Long(16);
        Long(id);
        Long(count);
    }
    void IntFilter(MQLONG id, MQLONG op, MQLONG v) {
        Long(MQCFT_INTEGER_FILTER);
        Long(20);
        Long(id);
        Long(op);
        Long(v);
    }
    void StrFilter(MQLONG id, MQLONG op, const std::string &s) {
        size_t sl = Round4(24 + s.size());
        Long(MQCFT_STRING_FILTER);
        Long((MQLONG)sl);
        Long(id);
        Long(op);
        Long(0);
        Long((MQLONG)s.size());
        Raw(s.data(), s.size());
        Zeros(sl - 24 - s.size());
    }
    void ByteFilter(MQLONG id, MQLONG op, const std::vector<MQBYTE> &v) {
        size_t sl = Round4(20 + v.size());
        Long(MQCFT_BYTE_STRING_FILTER);
        Long((MQLONG)sl);
        Long(id);
        Long(op);
        Long((MQLONG)v.size());
        Raw(v.data(), v.size());
        Zeros(sl - 20 - v.size());
    }
};
