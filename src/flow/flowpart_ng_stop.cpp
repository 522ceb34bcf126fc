#include "flow/flowpart_ng_stop.h"

FlowPart_NG_Stop FlowPart_NG_Stop::makeStop(const FlowWork_Receipt& receipt)
{
    return FlowPart_NG_Stop{receipt.rcpt_detect_index, false};
}

FlowPart_NG_Stop FlowPart_NG_Stop::makeClearOffer(const FlowWork_Receipt& receipt)
{
    return FlowPart_NG_Stop{receipt.rcpt_detect_index, receipt.rcpt_result == FlowResult_OK};
}
