/* mqcmd_names.cpp -- names of MQ constants as the requester reads and prints them.
 *
 * Owns: GroupNames and ReportNames (read-only). Threads: any.
 */
#include "mqcmd_names.h"

#include <cctype>
#include <initializer_list>

#include "mqconst/mqconst.h"

struct NAMEDVALUE {
    const char *name;
    MQLONG value;
};

#define TV_NAMED(n) \
    { #n, n }

/* MQGACF_*: ids of MQCFGR groups (event, statistics, accounting, trace). */
static const NAMEDVALUE GroupNames[] = {
    TV_NAMED(MQGACF_COMMAND_CONTEXT),   TV_NAMED(MQGACF_COMMAND_DATA),
    TV_NAMED(MQGACF_TRACE_ROUTE),       TV_NAMED(MQGACF_OPERATION),
    TV_NAMED(MQGACF_ACTIVITY),          TV_NAMED(MQGACF_EMBEDDED_MQMD),
    TV_NAMED(MQGACF_MESSAGE),           TV_NAMED(MQGACF_MQMD),
    TV_NAMED(MQGACF_VALUE_NAMING),      TV_NAMED(MQGACF_Q_ACCOUNTING_DATA),
    TV_NAMED(MQGACF_Q_STATISTICS_DATA), TV_NAMED(MQGACF_CHL_STATISTICS_DATA),
    TV_NAMED(MQGACF_ACTIVITY_TRACE),    TV_NAMED(MQGACF_APP_DIST_LIST),
    TV_NAMED(MQGACF_MONITOR_CLASS),     TV_NAMED(MQGACF_MONITOR_TYPE),
    TV_NAMED(MQGACF_MONITOR_ELEMENT),   TV_NAMED(MQGACF_APPL_STATUS),
    TV_NAMED(MQGACF_CHANGED_APPLS),     TV_NAMED(MQGACF_ALL_APPLS),
    TV_NAMED(MQGACF_APPL_BALANCE),      {nullptr, 0}};

/* MQRO_*: report options of a request's descriptor. */
static const NAMEDVALUE ReportNames[] = {TV_NAMED(MQRO_NONE),
                                         TV_NAMED(MQRO_PASS_MSG_ID),
                                         TV_NAMED(MQRO_PASS_CORREL_ID),
                                         TV_NAMED(MQRO_NEW_MSG_ID),
                                         TV_NAMED(MQRO_COPY_MSG_ID_TO_CORREL_ID),
                                         TV_NAMED(MQRO_PASS_DISCARD_AND_EXPIRY),
                                         TV_NAMED(MQRO_DISCARD_MSG),
                                         TV_NAMED(MQRO_DEAD_LETTER_Q),
                                         TV_NAMED(MQRO_EXCEPTION),
                                         TV_NAMED(MQRO_EXCEPTION_WITH_DATA),
                                         TV_NAMED(MQRO_EXCEPTION_WITH_FULL_DATA),
                                         TV_NAMED(MQRO_EXPIRATION),
                                         TV_NAMED(MQRO_EXPIRATION_WITH_DATA),
                                         TV_NAMED(MQRO_EXPIRATION_WITH_FULL_DATA),
                                         TV_NAMED(MQRO_COA),
                                         TV_NAMED(MQRO_COA_WITH_DATA),
                                         TV_NAMED(MQRO_COA_WITH_FULL_DATA),
                                         TV_NAMED(MQRO_COD),
                                         TV_NAMED(MQRO_COD_WITH_DATA),
                                         TV_NAMED(MQRO_COD_WITH_FULL_DATA),
                                         TV_NAMED(MQRO_PAN),
                                         TV_NAMED(MQRO_NAN),
                                         TV_NAMED(MQRO_ACTIVITY),
                                         {nullptr, 0}};

#undef TV_NAMED

static int SameName(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; a++, b++)
        if (toupper((unsigned char)*a) != toupper((unsigned char)*b))
            return 0;
    return *a == *b;
}

const char *MqcmdParameterName(MQLONG parameter) {
    const MQCONSTROW *row = ParameterRow(parameter);
    if (row != nullptr)
        return row->name;
    for (const NAMEDVALUE *g = GroupNames; g->name != nullptr; g++)
        if (g->value == parameter)
            return g->name;
    return nullptr;
}

int MqcmdConstantValue(const char *name, int64_t *value) {
    if (name == nullptr)
        return 1;
    if (ConstantValue(name, value) == 0)
        return 0;
    for (const NAMEDVALUE *table : {GroupNames, ReportNames})
        for (const NAMEDVALUE *n = table; n->name != nullptr; n++)
            if (SameName(n->name, name)) {
                *value = n->value;
                return 0;
            }
    return 1;
}
