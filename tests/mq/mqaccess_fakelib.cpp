/* mqaccess_fakelib.cpp -- a tiny MQI library for the loader's tests, built
 * in variants that lack verbs: FAKELIB_NO_OPEN leaves out MQOPEN (a
 * required verb), FAKELIB_NO_CLOSE leaves out MQCLOSE. No variant exports
 * the optional verbs (MQCB, MQCTL, MQSUB ...), so their slots get stubs.
 * The loader only looks the verbs up; of them the tests call MQCONN alone,
 * which hands out connection 4711. */
#include <cstdint>

extern "C" {

void MQCONN(char *, int32_t *hConn, int32_t *compCode, int32_t *reason) {
    *hConn = 4711;
    *compCode = *reason = 0;
}
void MQDISC() {}
void MQCMIT() {}
void MQBACK() {}
void MQPUT() {}
void MQPUT1() {}
void MQGET() {}
void MQINQ() {}
void MQSET() {}
#ifndef FAKELIB_NO_OPEN
void MQOPEN() {}
#endif
#ifndef FAKELIB_NO_CLOSE
void MQCLOSE() {}
#endif

} /* extern "C" */
