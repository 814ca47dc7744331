/* bench_support.h -- the requester side the inquiry benchmarks share.
 *
 * A connection with a temporary dynamic reply queue and an INQUIRE_Q of every
 * queue with every attribute, sent to a command queue and drained to the end
 * of its reply set.
 */
#ifndef TV_BENCH_SUPPORT_H
#define TV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "mqcmd_build.h"
#include "mqcmd_replyset.h"

inline void SetName(MQCHAR *field, size_t size, const char *name) {
    size_t len = strlen(name);
    memset(field, 0, size);
    memcpy(field, name, len < size ? len : size);
}

/* The requester: its connection, its reply queue and the command it sends. */
struct INQUIRER {
    MQHCONN hconn;
    MQHOBJ hReply;
    char replyQ[MQ_Q_NAME_LENGTH + 1];
    std::vector<MQBYTE> command;
};

/* Connect to qmgr, open a reply queue from SYSTEM.DEFAULT.MODEL.QUEUE and
 * build the INQUIRE_Q. Returns false with *error set on a failure. */
inline bool OpenInquirerOr(const char *qmgr, INQUIRER *in, std::string *error) {
    MQCHAR qm[MQ_Q_MGR_NAME_LENGTH];
    SetName(qm, sizeof qm, qmgr);
    in->hconn = MQHC_UNUSABLE_HCONN;
    in->hReply = MQHO_UNUSABLE_HOBJ;
    MQLONG cc, rc;
    MQCONN(qm, &in->hconn, &cc, &rc);
    if (cc == MQCC_FAILED) {
        *error = "MQCONN failed with reason " + std::to_string(rc);
        return false;
    }
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
    SetName(od.DynamicQName, sizeof od.DynamicQName, "BENCH.*");
    MQOPEN(in->hconn, &od, MQOO_INPUT_EXCLUSIVE, &in->hReply, &cc, &rc);
    if (cc == MQCC_FAILED) {
        MQDISC(&in->hconn, &cc, &rc);
        *error = "MQOPEN of the model queue failed with reason " + std::to_string(rc);
        return false;
    }
    memcpy(in->replyQ, od.ObjectName, MQ_Q_NAME_LENGTH);
    in->replyQ[MQ_Q_NAME_LENGTH] = '\0';

    char err[200];
    in->command.clear();
    StartPcfCommand(&in->command, MQCMD_INQUIRE_Q);
    AddParameterWord(&in->command, "MQCA_Q_NAME=*", err, sizeof err);
    AddParameterWord(&in->command, "MQIACF_Q_ATTRS=MQIACF_ALL", err, sizeof err);
    return true;
}

/* As OpenInquirerOr; a failure skips the benchmark with its reason. */
inline bool OpenInquirer(benchmark::State &state, const char *qmgr, INQUIRER *in) {
    std::string error;
    if (OpenInquirerOr(qmgr, in, &error))
        return true;
    state.SkipWithError(error.c_str());
    return false;
}

/* As OpenInquirerOr; a failure is written to standard error. */
inline bool OpenInquirerQuiet(const char *qmgr, INQUIRER *in) {
    std::string error;
    if (OpenInquirerOr(qmgr, in, &error))
        return true;
    fprintf(stderr, "%s\n", error.c_str());
    return false;
}

inline void CloseInquirer(INQUIRER *in) {
    MQLONG cc, rc;
    MQCLOSE(in->hconn, &in->hReply, MQCO_NONE, &cc, &rc);
    MQDISC(&in->hconn, &cc, &rc);
}

/* One INQUIRE_Q sent to queue target and drained to the end of its reply
 * set, each reply waited for up to waitMs. Adds the messages and bytes;
 * returns 0 or the failing reason. */
inline MQLONG InquireAllQueues(const INQUIRER &in, const char *target, MQLONG waitMs,
                               std::vector<MQBYTE> *buffer, int64_t *messages, int64_t *bytes) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, target);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    md.MsgType = MQMT_REQUEST;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, in.replyQ);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    MQLONG cc, rc;
    MQPUT1(in.hconn, &od, &md, &pmo, (MQLONG)in.command.size(), (PMQVOID)in.command.data(), &cc,
           &rc);
    if (cc == MQCC_FAILED)
        return rc;
    MQBYTE correlId[MQ_MSG_ID_LENGTH];
    memcpy(correlId, md.MsgId, sizeof correlId);

    for (;;) {
        MQMD rmd = MQMD_DEFAULT;
        memcpy(rmd.CorrelId, correlId, sizeof correlId);
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.Version = MQGMO_VERSION_2;
        gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT;
        gmo.WaitInterval = waitMs;
        gmo.MatchOptions = MQMO_MATCH_CORREL_ID;
        MQLONG length = 0;
        MQGET(in.hconn, in.hReply, &rmd, &gmo, (MQLONG)buffer->size(), buffer->data(), &length, &cc,
              &rc);
        if (rc == MQRC_TRUNCATED_MSG_FAILED && length > (MQLONG)buffer->size()) {
            buffer->resize((size_t)length);
            continue;
        }
        if (cc == MQCC_FAILED)
            return rc;
        (*messages)++;
        *bytes += length;
        if (ReplyCompletesSet(rmd.Format, buffer->data(), (size_t)length))
            return 0;
    }
}

#endif
