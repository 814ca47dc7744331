/* queue_attrs.cpp -- attribute tables and values of queues and the queue
 * manager for the command server's inquiries.
 *
 * A local queue carries 15 strings and 46 integers, about 1.7 KB in one
 * INQUIRE_Q reply with its padding, as on a real queue manager.
 *
 * Owns: QueueAttrDefs, QmgrAttrDefs (read-only). Threads: any.
 */
#include "queue_attrs.h"

constexpr unsigned L = ATTR_LOCAL;
constexpr unsigned M = ATTR_MODEL;
constexpr unsigned R = ATTR_REMOTE;

/* Values a new queue has on a real queue manager for what mqsim keeps no
 * record of. */
constexpr MQLONG DEFAULT_QDEPTHHI = 80;
constexpr MQLONG DEFAULT_QDEPTHLO = 20;
constexpr MQLONG DEFAULT_QSVCINT = 999999999;
constexpr MQLONG DEFAULT_RETINTVL = 999999999;
constexpr MQLONG DEFAULT_TRIGINT = 999999999;
constexpr MQLONG DEFAULT_MAXUMSGS = 10000;
/* CLCHNAME holds a generic channel name of up to 48 characters. */
constexpr MQLONG CLCHNAME_LENGTH = 48;

const ATTRDEF QueueAttrDefs[] = {
    {MQCA_Q_NAME, MQ_Q_NAME_LENGTH, L | M | R},
    {MQIA_Q_TYPE, 0, L | M | R},
    {MQCA_Q_DESC, MQ_Q_DESC_LENGTH, L | M | R},
    {MQCA_ALTERATION_DATE, MQ_DATE_LENGTH, L | M | R},
    {MQCA_ALTERATION_TIME, MQ_TIME_LENGTH, L | M | R},
    {MQCA_CREATION_DATE, MQ_CREATION_DATE_LENGTH, L | M},
    {MQCA_CREATION_TIME, MQ_CREATION_TIME_LENGTH, L | M},
    {MQCA_BACKOUT_REQ_Q_NAME, MQ_Q_NAME_LENGTH, L | M},
    {MQCA_INITIATION_Q_NAME, MQ_Q_NAME_LENGTH, L | M},
    {MQCA_PROCESS_NAME, MQ_PROCESS_NAME_LENGTH, L | M},
    {MQCA_TRIGGER_DATA, MQ_TRIGGER_DATA_LENGTH, L | M},
    {MQCA_CLUSTER_NAME, MQ_CLUSTER_NAME_LENGTH, L | R},
    {MQCA_CLUSTER_NAMELIST, MQ_NAMELIST_NAME_LENGTH, L | R},
    {MQCA_CUSTOM, MQ_CUSTOM_LENGTH, L | M | R},
    {MQCA_CLUS_CHL_NAME, CLCHNAME_LENGTH, L | M},
    {MQCA_STREAM_QUEUE_NAME, MQ_Q_NAME_LENGTH, L | M},
    {MQCA_REMOTE_Q_NAME, MQ_Q_NAME_LENGTH, R},
    {MQCA_REMOTE_Q_MGR_NAME, MQ_Q_MGR_NAME_LENGTH, R},
    {MQCA_XMIT_Q_NAME, MQ_Q_NAME_LENGTH, R},
    {MQIA_ACCOUNTING_Q, 0, L | M},
    {MQIA_BACKOUT_THRESHOLD, 0, L | M},
    {MQIA_CAP_EXPIRY, 0, L | M | R},
    {MQIA_CLWL_Q_PRIORITY, 0, L | R},
    {MQIA_CLWL_Q_RANK, 0, L | R},
    {MQIA_CLWL_USEQ, 0, L},
    {MQIA_CURRENT_Q_DEPTH, 0, L},
    {MQIA_DEF_BIND, 0, L | R},
    {MQIA_DEF_INPUT_OPEN_OPTION, 0, L | M},
    {MQIA_DEF_PERSISTENCE, 0, L | M | R},
    {MQIA_DEF_PRIORITY, 0, L | M | R},
    {MQIA_DEF_PUT_RESPONSE_TYPE, 0, L | M | R},
    {MQIA_DEF_READ_AHEAD, 0, L | M},
    {MQIA_DEFINITION_TYPE, 0, L | M},
    {MQIA_DIST_LISTS, 0, L | M},
    {MQIA_HARDEN_GET_BACKOUT, 0, L | M},
    {MQIA_INHIBIT_GET, 0, L | M},
    {MQIA_INHIBIT_PUT, 0, L | M | R},
    {MQIA_MAX_MSG_LENGTH, 0, L | M},
    {MQIA_MAX_Q_DEPTH, 0, L | M},
    {MQIA_MAX_Q_FILE_SIZE, 0, L | M},
    {MQIA_MEDIA_IMAGE_RECOVER_Q, 0, L | M},
    {MQIA_MONITORING_Q, 0, L | M},
    {MQIA_MSG_DELIVERY_SEQUENCE, 0, L | M},
    {MQIA_NPM_CLASS, 0, L | M},
    {MQIA_OPEN_INPUT_COUNT, 0, L},
    {MQIA_OPEN_OUTPUT_COUNT, 0, L},
    {MQIA_PROPERTY_CONTROL, 0, L | M},
    {MQIA_Q_DEPTH_HIGH_EVENT, 0, L | M},
    {MQIA_Q_DEPTH_HIGH_LIMIT, 0, L | M},
    {MQIA_Q_DEPTH_LOW_EVENT, 0, L | M},
    {MQIA_Q_DEPTH_LOW_LIMIT, 0, L | M},
    {MQIA_Q_DEPTH_MAX_EVENT, 0, L | M},
    {MQIA_Q_SERVICE_INTERVAL, 0, L | M},
    {MQIA_Q_SERVICE_INTERVAL_EVENT, 0, L | M},
    {MQIA_RETENTION_INTERVAL, 0, L | M},
    {MQIA_SCOPE, 0, L | R},
    {MQIA_SHAREABILITY, 0, L | M},
    {MQIA_STATISTICS_Q, 0, L | M},
    {MQIA_STREAM_QUEUE_QOS, 0, L | M},
    {MQIA_TRIGGER_CONTROL, 0, L | M},
    {MQIA_TRIGGER_DEPTH, 0, L | M},
    {MQIA_TRIGGER_MSG_PRIORITY, 0, L | M},
    {MQIA_TRIGGER_TYPE, 0, L | M},
    {MQIA_USAGE, 0, L | M},
};
const size_t QueueAttrCount = sizeof QueueAttrDefs / sizeof QueueAttrDefs[0];

const ATTRDEF QmgrAttrDefs[] = {
    {MQCA_Q_MGR_NAME, MQ_Q_MGR_NAME_LENGTH, 0},
    {MQCA_Q_MGR_DESC, MQ_Q_MGR_DESC_LENGTH, 0},
    {MQCA_Q_MGR_IDENTIFIER, MQ_Q_MGR_IDENTIFIER_LENGTH, 0},
    {MQCA_ALTERATION_DATE, MQ_DATE_LENGTH, 0},
    {MQCA_ALTERATION_TIME, MQ_TIME_LENGTH, 0},
    {MQCA_CREATION_DATE, MQ_CREATION_DATE_LENGTH, 0},
    {MQCA_CREATION_TIME, MQ_CREATION_TIME_LENGTH, 0},
    {MQCA_COMMAND_INPUT_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_DEAD_LETTER_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_DEF_XMIT_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_SSL_KEY_REPOSITORY, MQ_SSL_KEY_REPOSITORY_LENGTH, 0},
    {MQCA_CERT_LABEL, MQ_CERT_LABEL_LENGTH, 0},
    {MQIA_PLATFORM, 0, 0},
    {MQIA_COMMAND_LEVEL, 0, 0},
    {MQIA_CODED_CHAR_SET_ID, 0, 0},
    {MQIA_MAX_HANDLES, 0, 0},
    {MQIA_MAX_MSG_LENGTH, 0, 0},
    {MQIA_MAX_PRIORITY, 0, 0},
    {MQIA_MAX_UNCOMMITTED_MSGS, 0, 0},
    {MQIA_SYNCPOINT, 0, 0},
    {MQIA_TRIGGER_INTERVAL, 0, 0},
    {MQIA_DIST_LISTS, 0, 0},
    {MQIA_SSL_EVENT, 0, 0},
};
const size_t QmgrAttrCount = sizeof QmgrAttrDefs / sizeof QmgrAttrDefs[0];

unsigned QueueTypeBit(MQLONG qType) {
    switch (qType) {
        case MQQT_LOCAL:
            return ATTR_LOCAL;
        case MQQT_MODEL:
            return ATTR_MODEL;
        case MQQT_REMOTE:
            return ATTR_REMOTE;
        default:
            return 0;
    }
}

const ATTRDEF *FindQueueAttr(MQLONG selector) {
    for (size_t i = 0; i < QueueAttrCount; i++) {
        if (QueueAttrDefs[i].selector == selector)
            return &QueueAttrDefs[i];
    }
    return nullptr;
}

const ATTRDEF *FindQmgrAttr(MQLONG selector) {
    for (size_t i = 0; i < QmgrAttrCount; i++) {
        if (QmgrAttrDefs[i].selector == selector)
            return &QmgrAttrDefs[i];
    }
    return nullptr;
}

static int IntValue(const QATTRS *a, MQLONG selector, MQLONG *value);
static const char *StringValue(const QATTRS *a, MQLONG selector);

/* 1 when selector is an attribute of kind (string when wantString) of a's
 * queue type. */
static int QueueHas(const QATTRS *a, MQLONG selector, int wantString) {
    const ATTRDEF *d = FindQueueAttr(selector);
    return d != nullptr && (d->qtypes & QueueTypeBit(a->qType)) != 0 &&
           (d->length > 0) == (wantString != 0);
}

int QueueAttrInt(const QATTRS *a, MQLONG selector, MQLONG *value) {
    return QueueHas(a, selector, 0) && IntValue(a, selector, value);
}

const char *QueueAttrString(const QATTRS *a, MQLONG selector) {
    return QueueHas(a, selector, 1) ? StringValue(a, selector) : nullptr;
}

int QueueAttrValue(const QATTRS *a, const ATTRDEF *d, MQLONG *value, const char **text) {
    if ((d->qtypes & QueueTypeBit(a->qType)) == 0)
        return 0;
    if (d->length > 0) {
        *text = StringValue(a, d->selector);
        return *text != nullptr;
    }
    return IntValue(a, d->selector, value);
}

/* The value of an integer attribute by its selector alone (no check of the
 * queue type). Returns 1, or 0 for a selector that is no integer attribute. */
static int IntValue(const QATTRS *a, MQLONG selector, MQLONG *value) {
    MQLONG v;
    switch (selector) {
        case MQIA_Q_TYPE:
            v = a->qType;
            break;
        case MQIA_ACCOUNTING_Q:
            v = MQMON_Q_MGR;
            break;
        case MQIA_BACKOUT_THRESHOLD:
            v = 0;
            break;
        case MQIA_CAP_EXPIRY:
            v = MQCEX_NOLIMIT;
            break;
        case MQIA_CLWL_Q_PRIORITY:
            v = 0;
            break;
        case MQIA_CLWL_Q_RANK:
            v = 0;
            break;
        case MQIA_CLWL_USEQ:
            v = MQCLWL_USEQ_AS_Q_MGR;
            break;
        case MQIA_CURRENT_Q_DEPTH:
            v = a->curDepth;
            break;
        case MQIA_DEF_BIND:
            v = MQBND_BIND_ON_OPEN;
            break;
        case MQIA_DEF_INPUT_OPEN_OPTION:
            v = a->defInputOpenOption;
            break;
        case MQIA_DEF_PERSISTENCE:
            v = a->defPersistence;
            break;
        case MQIA_DEF_PRIORITY:
            v = a->defPriority;
            break;
        case MQIA_DEF_PUT_RESPONSE_TYPE:
            v = MQPRT_SYNC_RESPONSE;
            break;
        case MQIA_DEF_READ_AHEAD:
            v = MQREADA_NO;
            break;
        case MQIA_DEFINITION_TYPE:
            v = a->defType;
            break;
        case MQIA_DIST_LISTS:
            v = MQDL_NOT_SUPPORTED;
            break;
        case MQIA_HARDEN_GET_BACKOUT:
            v = MQQA_BACKOUT_HARDENED;
            break;
        case MQIA_INHIBIT_GET:
            v = a->inhibitGet;
            break;
        case MQIA_INHIBIT_PUT:
            v = a->inhibitPut;
            break;
        case MQIA_MAX_MSG_LENGTH:
            v = a->maxMsgLength;
            break;
        case MQIA_MAX_Q_DEPTH:
            v = a->maxDepth;
            break;
        case MQIA_MAX_Q_FILE_SIZE:
            v = MQQFS_DEFAULT;
            break;
        case MQIA_MEDIA_IMAGE_RECOVER_Q:
            v = MQIMGRCOV_AS_Q_MGR;
            break;
        case MQIA_MONITORING_Q:
            v = MQMON_Q_MGR;
            break;
        case MQIA_MSG_DELIVERY_SEQUENCE:
            v = a->msgDeliverySequence;
            break;
        case MQIA_NPM_CLASS:
            v = MQNPM_CLASS_NORMAL;
            break;
        case MQIA_OPEN_INPUT_COUNT:
            v = a->openInputCount;
            break;
        case MQIA_OPEN_OUTPUT_COUNT:
            v = a->openOutputCount;
            break;
        case MQIA_PROPERTY_CONTROL:
            v = MQPROP_COMPATIBILITY;
            break;
        case MQIA_Q_DEPTH_HIGH_EVENT:
            v = MQEVR_DISABLED;
            break;
        case MQIA_Q_DEPTH_HIGH_LIMIT:
            v = DEFAULT_QDEPTHHI;
            break;
        case MQIA_Q_DEPTH_LOW_EVENT:
            v = MQEVR_DISABLED;
            break;
        case MQIA_Q_DEPTH_LOW_LIMIT:
            v = DEFAULT_QDEPTHLO;
            break;
        case MQIA_Q_DEPTH_MAX_EVENT:
            v = MQEVR_ENABLED;
            break;
        case MQIA_Q_SERVICE_INTERVAL:
            v = DEFAULT_QSVCINT;
            break;
        case MQIA_Q_SERVICE_INTERVAL_EVENT:
            v = MQQSIE_NONE;
            break;
        case MQIA_RETENTION_INTERVAL:
            v = DEFAULT_RETINTVL;
            break;
        case MQIA_SCOPE:
            v = MQSCO_Q_MGR;
            break;
        case MQIA_SHAREABILITY:
            v = a->shareability;
            break;
        case MQIA_STATISTICS_Q:
            v = MQMON_Q_MGR;
            break;
        case MQIA_STREAM_QUEUE_QOS:
            v = MQST_BEST_EFFORT;
            break;
        case MQIA_TRIGGER_CONTROL:
            v = a->triggerControl;
            break;
        case MQIA_TRIGGER_DEPTH:
            v = a->triggerDepth;
            break;
        case MQIA_TRIGGER_MSG_PRIORITY:
            v = a->triggerMsgPriority;
            break;
        case MQIA_TRIGGER_TYPE:
            v = a->triggerType;
            break;
        case MQIA_USAGE:
            v = a->usage;
            break;
        default:
            return 0;
    }
    *value = v;
    return 1;
}

/* The text of a string attribute by its selector alone, or null. */
static const char *StringValue(const QATTRS *a, MQLONG selector) {
    switch (selector) {
        case MQCA_Q_NAME:
            return a->name;
        case MQCA_Q_DESC:
            return a->descr;
        case MQCA_ALTERATION_DATE:
            return a->alterationDate;
        case MQCA_ALTERATION_TIME:
            return a->alterationTime;
        case MQCA_CREATION_DATE:
            return a->creationDate;
        case MQCA_CREATION_TIME:
            return a->creationTime;
        case MQCA_INITIATION_Q_NAME:
            return a->initQName;
        case MQCA_PROCESS_NAME:
            return a->processName;
        case MQCA_TRIGGER_DATA:
            return a->triggerData;
        case MQCA_REMOTE_Q_NAME:
            return a->remoteQName;
        case MQCA_REMOTE_Q_MGR_NAME:
            return a->remoteQMgrName;
        case MQCA_XMIT_Q_NAME:
            return a->xmitQName;
        case MQCA_BACKOUT_REQ_Q_NAME:
        case MQCA_CLUSTER_NAME:
        case MQCA_CLUSTER_NAMELIST:
        case MQCA_CUSTOM:
        case MQCA_CLUS_CHL_NAME:
        case MQCA_STREAM_QUEUE_NAME:
            return "";
        default:
            return nullptr;
    }
}

int QmgrAttrInt(const QMGRATTRS *a, MQLONG selector, MQLONG *value) {
    MQLONG v;
    switch (selector) {
        case MQIA_PLATFORM:
            v = a->platform;
            break;
        case MQIA_COMMAND_LEVEL:
            v = a->commandLevel;
            break;
        case MQIA_CODED_CHAR_SET_ID:
            v = a->codedCharSetId;
            break;
        case MQIA_MAX_HANDLES:
            v = a->maxHandles;
            break;
        case MQIA_MAX_MSG_LENGTH:
            v = a->maxMsgLength;
            break;
        case MQIA_MAX_PRIORITY:
            v = a->maxPriority;
            break;
        case MQIA_MAX_UNCOMMITTED_MSGS:
            v = DEFAULT_MAXUMSGS;
            break;
        case MQIA_SYNCPOINT:
            v = a->syncpoint;
            break;
        case MQIA_TRIGGER_INTERVAL:
            v = DEFAULT_TRIGINT;
            break;
        case MQIA_DIST_LISTS:
            v = MQDL_SUPPORTED;
            break;
        case MQIA_SSL_EVENT:
            v = a->sslEvent;
            break;
        default:
            return 0;
    }
    *value = v;
    return 1;
}

const char *QmgrAttrString(const QMGRATTRS *a, MQLONG selector) {
    switch (selector) {
        case MQCA_Q_MGR_NAME:
            return a->name;
        case MQCA_Q_MGR_DESC:
            return a->descr;
        case MQCA_Q_MGR_IDENTIFIER:
            return a->identifier;
        case MQCA_ALTERATION_DATE:
            return a->alterationDate;
        case MQCA_ALTERATION_TIME:
            return a->alterationTime;
        case MQCA_CREATION_DATE:
            return a->creationDate;
        case MQCA_CREATION_TIME:
            return a->creationTime;
        case MQCA_COMMAND_INPUT_Q_NAME:
            return a->commandInputQName;
        case MQCA_DEAD_LETTER_Q_NAME:
            return a->deadLetterQName;
        case MQCA_DEF_XMIT_Q_NAME:
            return "";
        case MQCA_SSL_KEY_REPOSITORY:
            return a->sslKeyRepository;
        case MQCA_CERT_LABEL:
            return a->certLabel;
        default:
            return nullptr;
    }
}
