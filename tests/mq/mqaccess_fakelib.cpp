/* mqaccess_fakelib.cpp -- a tiny MQI library for the loader's tests,
 * built in variants that lack verbs: FAKELIB_NO_OPEN leaves out MQOPEN (a
 * required verb), FAKELIB_NO_CLOSE leaves out MQCLOSE. No variant exports
 * the optional verbs (MQCB, MQCTL, MQSUB ...), so their slots get stubs.
 * Every verb it has succeeds; MQCONN hands out connection 4711. */
#include "mqconst/mqi.h"

static void Ok(PMQLONG compCode, PMQLONG reason) {
    *compCode = MQCC_OK;
    *reason = MQRC_NONE;
}

extern "C" {

void MQENTRY MQCONN(PMQCHAR, PMQHCONN hConn, PMQLONG compCode, PMQLONG reason) {
    *hConn = 4711;
    Ok(compCode, reason);
}
void MQENTRY MQDISC(PMQHCONN hConn, PMQLONG compCode, PMQLONG reason) {
    *hConn = MQHC_UNUSABLE_HCONN;
    Ok(compCode, reason);
}
void MQENTRY MQCMIT(MQHCONN, PMQLONG compCode, PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQBACK(MQHCONN, PMQLONG compCode, PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQPUT(MQHCONN, MQHOBJ, PMQMD, PMQPMO, MQLONG, PMQVOID, PMQLONG compCode,
                   PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQPUT1(MQHCONN, PMQOD, PMQMD, PMQPMO, MQLONG, PMQVOID, PMQLONG compCode,
                    PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQGET(MQHCONN, MQHOBJ, PMQMD, PMQGMO, MQLONG, PMQVOID, PMQLONG, PMQLONG compCode,
                   PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQINQ(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG, MQLONG, PMQCHAR,
                   PMQLONG compCode, PMQLONG reason) {
    Ok(compCode, reason);
}
void MQENTRY MQSET(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG, MQLONG, PMQCHAR,
                   PMQLONG compCode, PMQLONG reason) {
    Ok(compCode, reason);
}
#ifndef FAKELIB_NO_OPEN
void MQENTRY MQOPEN(MQHCONN, PMQOD, MQLONG, PMQHOBJ hObj, PMQLONG compCode, PMQLONG reason) {
    *hObj = 1;
    Ok(compCode, reason);
}
#endif
#ifndef FAKELIB_NO_CLOSE
void MQENTRY MQCLOSE(MQHCONN, PMQHOBJ hObj, MQLONG, PMQLONG compCode, PMQLONG reason) {
    *hObj = MQHO_UNUSABLE_HOBJ;
    Ok(compCode, reason);
}
#endif

} /* extern "C" */
