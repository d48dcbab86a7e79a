#include "objectkind.h"

#include <iec60870_common.h>

namespace iec101 {

namespace ObjectKind {

Kind kindOf(int typeId)
{
    switch (typeId) {
    case M_SP_NA_1:
    case M_SP_TA_1:
    case M_SP_TB_1:
        return SinglePoint;
    case M_DP_NA_1:
    case M_DP_TA_1:
    case M_DP_TB_1:
        return DoublePoint;
    case M_ST_NA_1:
    case M_ST_TA_1:
    case M_BO_NA_1:
    case M_BO_TA_1:
    case M_ME_NA_1:
    case M_ME_TA_1:
    case M_ME_NB_1:
    case M_ME_TB_1:
    case M_ME_NC_1:
    case M_ME_TC_1:
    case M_ME_ND_1:
    case M_ST_TB_1:
    case M_BO_TB_1:
    case M_ME_TD_1:
    case M_ME_TE_1:
    case M_ME_TF_1:
        return Measured;
    case M_IT_NA_1:
    case M_IT_TA_1:
    case M_IT_TB_1:
        return IntegratedTotal;
    default:
        return isMonitoring(typeId) ? EventOnly : Command;
    }
}

bool isMonitoring(int typeId)
{
    return (typeId >= M_SP_NA_1 && typeId < C_SC_NA_1) || typeId == M_EI_NA_1;
}

} // namespace ObjectKind

} // namespace iec101
