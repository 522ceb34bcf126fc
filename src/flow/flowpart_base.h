#pragma once
// The base of every part of a flow unit: start conditions, the detect part,
// after-detect parts and IO output parts. A part has an identity, a type name,
// an operator-facing description, an enable flag, the passport it was last
// started with and the instance interface through which it reaches the IO
// frame, the application and the camera list.
//
// Start sequence (onStart): keep the passport, report its receipt, do the
// part's own work (onStart_Working). JSON envelope: {"name", "type", "obj"}.
//
// Threads: main thread only.
#include "flow/flowinstiface.h"
#include "flow/flowrecords.h"
#include "flow/flowunit_passport.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <atomic>

// Live parts in the process: every construction adds 1, every destruction
// subtracts 1. The liveness report reads it from its own thread.
extern std::atomic<int> g_flowpart_base_count;

class FlowPart_Base : public QObject {
    Q_OBJECT
public:
    explicit FlowPart_Base(QObject* parent = nullptr);
    ~FlowPart_Base() override;

    virtual void set_enable(bool enable);
    virtual bool get_enable() const;
    // The description; subclasses compose one when none is set.
    virtual QString get_user_describe() const;
    // Keeps the passport, emits sig_update_unit_receipt with its receipt,
    // then runs onStart_Working directly. The enable flag is not tested here.
    virtual void onStart(FlowUnit_Passport passport);
    // A copy of the receipt of the kept passport.
    virtual FlowWork_Receipt getReceipt() const;
    // The envelope {"name": get_user_describe(), "type": part type, "obj": uuid}.
    virtual QJsonObject Serialize_2_Json() const;
    // Nothing in the base ("obj" is never read back; "type" chooses the class).
    virtual void Structure_FromJson(const QJsonObject& obj);

    void set_user_describe(const QString& text) { user_describe = text; }
    QString get_part_uuid() const { return part_uuid; }
    QString get_part_type() const { return part_type; }
    FlowUnit_Passport get_part_passport() const { return part_passport; }
    // The builders and parent parts assign the instance interface whole.
    void set_inst_iface(const FlowInstIface& iface) { inst_iface = iface; }
    const FlowInstIface& get_inst_iface() const { return inst_iface; }

public slots:
    // The part's own work.
    virtual void onStart_Working() = 0;
    // Nothing in the base.
    virtual void onFinish_Working();

signals:
    void sig_update_unit_receipt(FlowWork_Receipt receipt);

protected:
    QString part_uuid;  // JSON "obj"
    QString part_type;  // the concrete class name; JSON "type"
    QString user_describe;
    bool enable = true;
    FlowUnit_Passport part_passport;
    FlowInstIface inst_iface;
};
