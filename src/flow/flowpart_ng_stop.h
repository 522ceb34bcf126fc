#pragma once
// One NG stop held by a group: the detect index whose NG result stopped the
// machine. A finished unit offers a record to clear the stop; the stop is
// lifted only when the offer names the stopped detect index and carries a
// real OK result.
#include "flow/flowrecords.h"

#include <QMetaType>

struct FlowPart_NG_Stop {
    int detect_index = -1;
    // False in a stored record; in an offer, true only for an OK result.
    bool result_flag = false;

    // The record a receipt with rcpt_ngstop set stores: {its detect index, false}.
    static FlowPart_NG_Stop makeStop(const FlowWork_Receipt& receipt);
    // The record a finished unit offers to clear a held stop. Only a real OK
    // (result 1) sets result_flag: a unit that finished without a result
    // (-1, e.g. a failed or impossible detection) must not release a machine
    // held after an NG.
    static FlowPart_NG_Stop makeClearOffer(const FlowWork_Receipt& receipt);

    bool operator==(const FlowPart_NG_Stop& o) const
    {
        return detect_index == o.detect_index && result_flag == o.result_flag;
    }
    bool operator!=(const FlowPart_NG_Stop& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(FlowPart_NG_Stop)
