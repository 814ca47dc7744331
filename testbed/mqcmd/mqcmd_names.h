/* mqcmd_names.h -- names of MQ constants as the requester reads and prints them.
 *
 * The project's constant tables (mqconst) hold the families the agent needs;
 * the requester also names the PCF group parameters (MQGACF_*) and takes the
 * report options (MQRO_*) by name, so those two families are added here from
 * the MQI declarations.
 * Owns: two small read-only tables. Threads: any.
 */
#pragma once

#include <cstdint>

#include "mqconst/mqi.h"

/* The name of a PCF parameter id: the parameters table, else the group
 * parameters; null when neither has it. */
const char *MqcmdParameterName(MQLONG parameter);

/* The value of a constant named without regard to case: the catalogue, else
 * the group parameters, else the report options. Returns 0 and sets *value,
 * or 1 when no table has the name. */
int MqcmdConstantValue(const char *name, int64_t *value);
