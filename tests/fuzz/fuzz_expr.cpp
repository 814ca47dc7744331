/* fuzz_expr.cpp -- CompileExpression over any filter text, evaluated against
 * a record of any content: messages are text (or bytes of the input), a
 * result is the same on every evaluation, every block is released.
 * Input: the text up to the first NUL; then 44 bytes of numbers (keySize,
 * qmgrCert, usage, isDefault, trusted, notBefore, notAfter, secondsLeft) and
 * label, subject, issuer, serial, each ended by a line feed. */
#include <algorithm>
#include <string>

#include "expr/expr.h"
#include "fuzz_support.h"
#include "log/cs.h"

namespace {

/* The next line-feed-ended piece of [*at, end) into dest, cut to fit. */
void TakeField(const char **at, const char *end, char *dest, size_t destSize) {
    const char *nl = static_cast<const char *>(memchr(*at, '\n', (size_t)(end - *at)));
    const size_t n = std::min((size_t)((nl != nullptr ? nl : end) - *at), destSize - 1);
    memcpy(dest, *at, n);
    dest[n] = '\0';
    *at = nl != nullptr ? nl + 1 : end;
}

void FillRecord(CERTREC *rec, const char *at, const char *end) {
    InitCertRecord(rec);
    int32_t ints[5] = {0, 0, 0, 0, 0};
    int64_t times[3] = {0, 0, 0};
    if (end - at >= 44) {
        memcpy(ints, at, sizeof ints);
        memcpy(times, at + 20, sizeof times);
        at += 44;
    }
    rec->keySize = ints[0], rec->qmgrCert = ints[1], rec->usage = ints[2];
    rec->isDefault = ints[3], rec->trusted = ints[4];
    rec->notBefore = times[0], rec->notAfter = times[1], rec->secondsLeft = times[2];
    TakeField(&at, end, rec->label, sizeof rec->label);
    TakeField(&at, end, rec->subject, sizeof rec->subject);
    TakeField(&at, end, rec->issuer, sizeof rec->issuer);
    TakeField(&at, end, rec->serial, sizeof rec->serial);
}

}  // namespace

FUZZ_TARGET(0, 8192) {
    QuietSettings();
    const char *begin = reinterpret_cast<const char *>(data), *end = begin + size;
    const char *nul = static_cast<const char *>(memchr(begin, '\0', size));
    const std::string text(begin, nul != nullptr ? nul : end); /* its own NUL-ended copy */
    std::bitset<256> carried;
    for (unsigned char c : text)
        carried.set(c);
    CERTREC *rec = static_cast<CERTREC *>(calloc(1, sizeof(CERTREC)));
    FillRecord(rec, nul != nullptr ? nul + 1 : end, end);

    const long blocks = CSMemBlocksInUse();
    char *message = nullptr;
    const ExprCallerData caller = {nullptr, CertParamTable, nullptr};
    ExprContext *filter = CompileExpression(text.c_str(), &caller, &message);
    if (filter == nullptr) {
        FUZZ_CHECK(message != nullptr && strlen(message) > 0);
        FUZZ_CHECK(FuzzIsText(message, strlen(message), carried));
        CSFreeMem(message);
    } else {
        FUZZ_CHECK(message == nullptr);
        const int first = ExprMatches(filter, rec);
        FUZZ_CHECK(ExprMatches(filter, rec) == first);
        for (size_t i = 0; i < size; i++) /* the message may quote the record */
            carried.set(data[i]);
        const char *why = filter->message;
        FUZZ_CHECK(first || why == nullptr || FuzzIsText(why, strlen(why), carried));
        CERTREC zero{};
        InitCertRecord(&zero);
        ExprMatches(filter, &zero);
        FUZZ_CHECK(ExprMatches(filter, rec) == first);
        FreeExpression(filter);
    }
    FUZZ_CHECK(CSMemBlocksInUse() == blocks);
    free(rec);
    return 0;
}
