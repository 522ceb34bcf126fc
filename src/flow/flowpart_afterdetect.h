#pragma once
// The part of a standard detect unit that drives machine outputs once the
// unit's detection has a result. Each after-detect part is bound to one result
// class (OK or NG) and owns a list of IO parts that it starts together; the
// unit starts every after-detect part whose classification equals the
// receipt's result. The part itself never looks at the result.
//
// JSON: the part envelope plus "classify_okng" (written, never read back:
// whoever creates the part sets the classification) and "output" (the IO
// parts, written only when there are some).
//
// Threads: main thread only.
#include "flow/flowpart_base.h"
#include "io/iotypes.h"

#include <QList>

class FlowPart_IO;

class FlowPart_AfterDetect : public FlowPart_Base {
    Q_OBJECT
public:
    // The result class a part acts on, coded as a receipt's result.
    enum Result : int {
        Result_None = -1,  // not classified: matches only a receipt without result
        Result_NG = 0,
        Result_OK = 1,
    };

    explicit FlowPart_AfterDetect(QObject* parent = nullptr);
    ~FlowPart_AfterDetect() override;

    // user_describe, or "检测结果OK时：" followed by one sentence per IO part.
    QString get_user_describe() const override;
    QJsonObject Serialize_2_Json() const override;
    // "name" when present; every "FlowPart_IO" element of "output" is
    // appended as a new IO part. The classification is not read.
    void Structure_FromJson(const QJsonObject& obj) override;

    virtual void set_Classify_OKNG(Result result);
    virtual Result get_Classify_OKNG() const;

    // Appends one IO part per output index: relative state `state`, `delay`
    // ms before the output is set, held `pulse` ms (0 = stays).
    void add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse);
    // Releases every IO part (deleteLater) and empties the list.
    void clear_action_iooutput();
    // Takes `io` out of the list and releases it; false when it is not there.
    bool remove_action_iooutput(FlowPart_IO* io);
    // The IO parts, in list order (owned by this part).
    QList<FlowPart_IO*> get_list_action_iooutput() const { return list_action_iooutput; }

public slots:
    // Starts every IO part with the kept passport, when enabled.
    void onStart_Working() override;

protected:
    // A new IO part owned by this part, with a copy of its instance interface.
    FlowPart_IO* newActionPart();

    Result classify_okng = Result_None;
    QList<FlowPart_IO*> list_action_iooutput;
};
