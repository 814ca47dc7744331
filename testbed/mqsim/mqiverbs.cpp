/* mqiverbs.cpp -- the stand-in MQI library's synchronous verbs: MQOPEN,
 * MQCLOSE, MQPUT, MQPUT1, MQGET, MQINQ, MQSET, MQCMIT, MQBACK.
 *
 * Each checks its arguments as the MQI documents, then sends one request
 * and waits for its reply on the caller's thread. Owns: nothing global.
 */
#include "mqilib.h"

#include <cstdlib>
#include <cstring>

MQSIM_VERB MQOPEN(MQHCONN Hconn, PMQOD pObjDesc, MQLONG Options, PMQHOBJ pHobj, PMQLONG pCompCode,
                  PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    if (BadStruc(pObjDesc, MQOD_STRUC_ID, MQOD_VERSION_4)) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OD_ERROR);
        return;
    }
    if (pHobj == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HOBJ_ERROR);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, WIRE_T_OPEN, 0);
    WirePutI32(&w, Options);
    WirePutI32(&w, pObjDesc->ObjectType);
    WirePutBytes(&w, pObjDesc->ObjectName, sizeof pObjDesc->ObjectName);
    WirePutBytes(&w, pObjDesc->ObjectQMgrName, sizeof pObjDesc->ObjectQMgrName);
    WirePutBytes(&w, pObjDesc->DynamicQName, sizeof pObjDesc->DynamicQName);
    uint8_t *reply = nullptr;
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    ReadStatus(&r, &cc, &rc);
    MQHOBJ hobj = WireGetI32(&r);
    char objName[MQ_Q_NAME_LENGTH], resQ[MQ_Q_NAME_LENGTH], resQm[MQ_Q_MGR_NAME_LENGTH];
    WireGetBytes(&r, objName, sizeof objName);
    WireGetBytes(&r, resQ, sizeof resQ);
    WireGetBytes(&r, resQm, sizeof resQm);
    MQLONG created = WireGetI32(&r);
    int bad = r.bad;
    ReturnBuffer(c, reply);
    if (bad) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (cc != MQCC_FAILED) {
        *pHobj = hobj;
        if (created)
            memcpy(pObjDesc->ObjectName, objName, sizeof objName);
        if (pObjDesc->Version >= MQOD_VERSION_3) {
            memcpy(pObjDesc->ResolvedQName, resQ, sizeof resQ);
            memcpy(pObjDesc->ResolvedQMgrName, resQm, sizeof resQm);
        }
        LHANDLE hd;
        memset((void *)&hd, 0, sizeof hd);
        hd.options = Options;
        hd.isQmgr = pObjDesc->ObjectType == MQOT_Q_MGR;
        memcpy(hd.resolvedQName, resQ, sizeof resQ);
        std::lock_guard<std::mutex> g(c->mu);
        c->handles[hobj] = hd;
    } else {
        *pHobj = MQHO_UNUSABLE_HOBJ;
    }
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                   PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0 && pHobj == nullptr)
        rc = MQRC_HOBJ_ERROR;
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    MQHOBJ hobj = *pHobj;
    /* A consumer on the handle takes no more messages from here on (as in
     * MQCB DEREGISTER); it is back if the close fails. */
    int wasConsumer = 0;
    {
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(hobj);
        if (it != c->handles.end() && it->second.consumer) {
            wasConsumer = 1;
            it->second.consumer = 0;
        }
    }
    WBUF w = {};
    WireBegin(&w, WIRE_T_CLOSE, 0);
    WirePutI32(&w, hobj);
    WirePutI32(&w, Options);
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (cc == MQCC_OK) {
            c->handles.erase(hobj);
            DropPushedMessages(c, hobj);
            *pHobj = MQHO_UNUSABLE_HOBJ;
        } else if (wasConsumer) {
            auto it = c->handles.find(hobj);
            if (it != c->handles.end())
                it->second.consumer = 1;
            c->dispatchCv.notify_all();
        }
    }
    SetResult(pCompCode, pReason, cc, rc);
}

/* Copy the context of a saved message into md as MQPMO_PASS_* asks.
 * Returns 0 or MQRC_CONTEXT_HANDLE_ERROR. mu held. */
static MQLONG PassContext(LCONN *c, const MQPMO *pmo, MQMD *md) {
    if (!(pmo->Options & (MQPMO_PASS_IDENTITY_CONTEXT | MQPMO_PASS_ALL_CONTEXT)))
        return 0;
    auto it = c->handles.find(pmo->Context);
    if (it == c->handles.end() || !(it->second.options & MQOO_SAVE_ALL_CONTEXT))
        return MQRC_CONTEXT_HANDLE_ERROR;
    MQMD saved = MQMD_DEFAULT;
    if (it->second.hasSaved) {
        saved = it->second.saved;
    } else {
        /* nothing taken through it yet: the context is blank */
        WireSetField(saved.UserIdentifier, sizeof saved.UserIdentifier, "");
        WireSetField(saved.ApplIdentityData, sizeof saved.ApplIdentityData, "");
        WireSetField(saved.PutApplName, sizeof saved.PutApplName, "");
        WireSetField(saved.PutDate, sizeof saved.PutDate, "");
        WireSetField(saved.PutTime, sizeof saved.PutTime, "");
        WireSetField(saved.ApplOriginData, sizeof saved.ApplOriginData, "");
    }
    memcpy(md->UserIdentifier, saved.UserIdentifier, sizeof md->UserIdentifier);
    memcpy(md->AccountingToken, saved.AccountingToken, sizeof md->AccountingToken);
    memcpy(md->ApplIdentityData, saved.ApplIdentityData, sizeof md->ApplIdentityData);
    if (pmo->Options & MQPMO_PASS_ALL_CONTEXT) {
        md->PutApplType = saved.PutApplType;
        memcpy(md->PutApplName, saved.PutApplName, sizeof md->PutApplName);
        memcpy(md->PutDate, saved.PutDate, sizeof md->PutDate);
        memcpy(md->PutTime, saved.PutTime, sizeof md->PutTime);
        memcpy(md->ApplOriginData, saved.ApplOriginData, sizeof md->ApplOriginData);
    }
    return 0;
}

/* MQPUT and MQPUT1 after their own checks: od null for MQPUT. */
static void PutCommon(MQHCONN Hconn, MQHOBJ Hobj, PMQOD od, PMQMD pMsgDesc, PMQPMO pmo,
                      MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0 && od != nullptr && BadStruc(od, MQOD_STRUC_ID, MQOD_VERSION_4))
        rc = MQRC_OD_ERROR;
    if (rc == 0)
        rc = CheckMd(pMsgDesc);
    if (rc == 0 && BadStruc(pmo, MQPMO_STRUC_ID, MQPMO_VERSION_3))
        rc = MQRC_PMO_ERROR;
    if (rc == 0)
        rc = CheckBuffer(BufferLength, pBuffer);
    LCONN *c = ref.get();
    MQMD md;
    if (rc == 0) {
        LoadMd(&md, pMsgDesc);
        std::lock_guard<std::mutex> g(c->mu);
        rc = PassContext(c, pmo, &md);
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    WBUF w = {};
    if (od == nullptr) {
        WireBegin(&w, WIRE_T_PUT, 0);
        WirePutI32(&w, Hobj);
    } else {
        WireBegin(&w, WIRE_T_PUT1, 0);
        WirePutI32(&w, od->ObjectType);
        WirePutBytes(&w, od->ObjectName, sizeof od->ObjectName);
        WirePutBytes(&w, od->ObjectQMgrName, sizeof od->ObjectQMgrName);
    }
    WirePutI32(&w, pmo->Options);
    WirePutBytes(&w, &md, sizeof md);
    WirePutBlob(&w, pBuffer, (uint32_t)BufferLength);
    uint8_t *reply = nullptr;
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    ReadStatus(&r, &cc, &rc);
    MQMD out;
    WireGetBytes(&r, &out, sizeof out);
    char resQ[MQ_Q_NAME_LENGTH], resQm[MQ_Q_MGR_NAME_LENGTH];
    WireGetBytes(&r, resQ, sizeof resQ);
    WireGetBytes(&r, resQm, sizeof resQm);
    int bad = r.bad;
    ReturnBuffer(c, reply);
    if (bad) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (cc != MQCC_FAILED) {
        StoreMd(pMsgDesc, &out);
        memcpy(pmo->ResolvedQName, resQ, sizeof resQ);
        memcpy(pmo->ResolvedQMgrName, resQm, sizeof resQm);
        if (od != nullptr && od->Version >= MQOD_VERSION_3) {
            memcpy(od->ResolvedQName, resQ, sizeof resQ);
            memcpy(od->ResolvedQMgrName, resQm, sizeof resQm);
        }
    }
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                 MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    PutCommon(Hconn, Hobj, nullptr, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode,
              pReason);
}

MQSIM_VERB MQPUT1(MQHCONN Hconn, PMQOD pObjDesc, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                  MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    if (pObjDesc == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OD_ERROR);
        return;
    }
    PutCommon(Hconn, MQHO_NONE, pObjDesc, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode,
              pReason);
}

MQSIM_VERB MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQGMO pGetMsgOpts,
                 MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
                 PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0)
        rc = CheckMd(pMsgDesc);
    if (rc == 0 && BadStruc(pGetMsgOpts, MQGMO_STRUC_ID, MQGMO_VERSION_4))
        rc = MQRC_GMO_ERROR;
    if (rc == 0)
        rc = CheckBuffer(BufferLength, pBuffer);
    if (rc == 0 && pDataLength == nullptr)
        rc = MQRC_DATA_LENGTH_ERROR;
    LCONN *c = ref.get();
    if (rc == 0) {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->started && std::this_thread::get_id() != c->dispatchId)
            rc = MQRC_HCONN_ASYNC_ACTIVE;
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    MQMD match;
    LoadMd(&match, pMsgDesc);
    MQLONG matchOptions = pGetMsgOpts->Version >= MQGMO_VERSION_2
                              ? pGetMsgOpts->MatchOptions
                              : (MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID);
    WBUF w = {};
    WireBegin(&w, WIRE_T_GET, 0);
    WirePutI32(&w, Hobj);
    WirePutI32(&w, pGetMsgOpts->Options);
    WirePutI32(&w, pGetMsgOpts->WaitInterval);
    WirePutI32(&w, matchOptions);
    WirePutI32(&w, BufferLength);
    WirePutBytes(&w, &match, sizeof match);
    uint8_t *reply = nullptr;
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    ReadStatus(&r, &cc, &rc);
    MQMD md;
    WireGetBytes(&r, &md, sizeof md);
    MQLONG dataLength = WireGetI32(&r);
    const uint8_t *data;
    uint32_t n;
    WireGetBlob(&r, &data, &n);
    char resQ[MQ_Q_NAME_LENGTH];
    WireGetBytes(&r, resQ, sizeof resQ);
    if (r.bad || n > (uint32_t)BufferLength) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    int gotMessage = cc != MQCC_FAILED || rc == MQRC_TRUNCATED_MSG_FAILED;
    if (gotMessage) {
        if (n > 0)
            memcpy(pBuffer, data, n);
        *pDataLength = dataLength;
        StoreMd(pMsgDesc, &md);
        memcpy(pGetMsgOpts->ResolvedQName, resQ, sizeof resQ);
        if (pGetMsgOpts->Version >= MQGMO_VERSION_3)
            pGetMsgOpts->ReturnedLength = (MQLONG)n;
        int removed = rc != MQRC_TRUNCATED_MSG_FAILED &&
                      !(pGetMsgOpts->Options & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT));
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(Hobj);
        if (removed && it != c->handles.end() && (it->second.options & MQOO_SAVE_ALL_CONTEXT)) {
            it->second.saved = md;
            it->second.hasSaved = 1;
        }
    } else {
        *pDataLength = 0;
        if (pGetMsgOpts->Version >= MQGMO_VERSION_3)
            pGetMsgOpts->ReturnedLength = MQRL_UNDEFINED;
    }
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

/* MQINQ and MQSET share their argument checks. */
static MQLONG CheckAttrArgs(MQLONG SelectorCount, PMQLONG pSelectors, MQLONG IntAttrCount,
                            PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs) {
    if (SelectorCount < 0)
        return MQRC_SELECTOR_COUNT_ERROR;
    if (SelectorCount > 256)
        return MQRC_SELECTOR_LIMIT_EXCEEDED;
    if (SelectorCount > 0 && pSelectors == nullptr)
        return MQRC_SELECTOR_ERROR;
    if (IntAttrCount < 0 || IntAttrCount > 256)
        return MQRC_INT_ATTR_COUNT_ERROR;
    if (IntAttrCount > 0 && pIntAttrs == nullptr)
        return MQRC_INT_ATTRS_ARRAY_ERROR;
    if (CharAttrLength < 0 || CharAttrLength > 1048576)
        return MQRC_CHAR_ATTR_LENGTH_ERROR;
    if (CharAttrLength > 0 && pCharAttrs == nullptr)
        return MQRC_CHAR_ATTRS_ERROR;
    return 0;
}

/* MQINQ and MQSET start alike: the connection found and locked (*ref,
 * *call), the arguments checked, and the request in w begun with the object
 * and its selectors. Returns 0 or the reason the call fails with. */
static MQLONG BeginAttrCall(MQHCONN Hconn, uint16_t type, MQHOBJ Hobj, MQLONG SelectorCount,
                            PMQLONG pSelectors, MQLONG IntAttrCount, PMQLONG pIntAttrs,
                            MQLONG CharAttrLength, PMQCHAR pCharAttrs, CONNREF *ref,
                            std::unique_lock<std::mutex> *call, WBUF *w) {
    MQLONG rc = FindConn(Hconn, ref, call);
    if (rc == 0)
        rc = CheckAttrArgs(SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
                           pCharAttrs);
    if (rc != 0)
        return rc;
    WireBegin(w, type, 0);
    WirePutI32(w, Hobj);
    WirePutI32(w, SelectorCount);
    for (MQLONG i = 0; i < SelectorCount; i++)
        WirePutI32(w, pSelectors[i]);
    return 0;
}

MQSIM_VERB MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                 MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
                 PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    WBUF w = {};
    MQLONG rc = BeginAttrCall(Hconn, WIRE_T_INQ, Hobj, SelectorCount, pSelectors, IntAttrCount,
                              pIntAttrs, CharAttrLength, pCharAttrs, &ref, &call, &w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WirePutI32(&w, IntAttrCount);
    WirePutI32(&w, CharAttrLength);
    uint8_t *reply = nullptr;
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    ReadStatus(&r, &cc, &rc);
    MQLONG nInts = WireGetI32(&r);
    if (r.bad || nInts < 0 || nInts > IntAttrCount) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    for (MQLONG i = 0; i < nInts; i++)
        pIntAttrs[i] = WireGetI32(&r);
    const uint8_t *chars;
    uint32_t n;
    WireGetBlob(&r, &chars, &n);
    if (r.bad || n > (uint32_t)CharAttrLength) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (n > 0)
        memcpy(pCharAttrs, chars, n);
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                 MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
                 PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    WBUF w = {};
    MQLONG rc = BeginAttrCall(Hconn, WIRE_T_SET, Hobj, SelectorCount, pSelectors, IntAttrCount,
                              pIntAttrs, CharAttrLength, pCharAttrs, &ref, &call, &w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WirePutI32(&w, IntAttrCount);
    for (MQLONG i = 0; i < IntAttrCount; i++)
        WirePutI32(&w, pIntAttrs[i]);
    WirePutBlob(&w, pCharAttrs, (uint32_t)CharAttrLength);
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    SetResult(pCompCode, pReason, cc, rc);
}

/* MQCMIT and MQBACK. */
static void EndUow(MQHCONN Hconn, uint16_t type, PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, type, 0);
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
    EndUow(Hconn, WIRE_T_CMIT, pCompCode, pReason);
}

MQSIM_VERB MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
    EndUow(Hconn, WIRE_T_BACK, pCompCode, pReason);
}
