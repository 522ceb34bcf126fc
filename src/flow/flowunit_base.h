#pragma once
// The abstract flow unit: one step of a group that, when a passport starts
// it, runs its parts (conditions, one detect part, after-detect parts) and
// reports its result to the group.
//
// What a group relies on: chkPassport (an empty answer refuses the passport,
// a value is the passport to start with), slot_OnStart_UnitWork, the finish
// signal sig_unit_workfinish carrying the unit's passport with its receipt,
// sig_unit_Update_Fgs_State whenever the working flag changes, and the
// accessors below, always called as virtual operations.
//
// Threads: main thread only.
#include "flow/flowinstiface.h"
#include "flow/flowrecords.h"
#include "flow/flowunit_passport.h"
#include "foundation/cvariant.h"
#include "foundation/qstring_tl.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

class FlowUnit_Base : public QObject {
    Q_OBJECT
public:
    explicit FlowUnit_Base(QObject* parent = nullptr);
    ~FlowUnit_Base() override;

    virtual void set_user_describe(QString_TL describe);
    virtual QString_TL get_user_describe() const;
    virtual void set_isworking(bool working);
    virtual bool get_isworking() const;
    virtual void set_detect_index(int index);
    virtual int get_detect_index() const;
    virtual void set_detect_index_abs(int index);
    virtual int get_detect_index_abs() const;
    virtual void set_enable(bool enable);
    virtual bool get_enable() const;
    virtual void set_last_detect_type(Condition_Type type);
    virtual Condition_Type get_last_detect_type() const;
    // Empty: refused. A value: accepted, and the passport to start with.
    virtual CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport passport) = 0;
    // Releases the unit's parts.
    virtual void clear_frames() = 0;
    // Forgets what the unit kept from earlier detections.
    virtual void clear_historystorage() = 0;
    // A copy of the receipt of the unit's passport.
    virtual FlowWork_Receipt get_UnitReceipt();
    // The unit's object in the flow description; {} in the base.
    virtual QJsonObject get_FlowSerialize();

    QString get_unit_uuid() const { return unit_uuid; }
    QString get_unit_type() const { return unit_type; }
    // The passport of the current or last work.
    FlowUnit_Passport get_work_passport() const { return work_passport; }
    // The group copies its instance interface in when the unit is appended.
    void set_inst_iface(const FlowInstIface& iface) { inst_iface = iface; }
    const FlowInstIface& get_inst_iface() const { return inst_iface; }

signals:
    void sig_unit_workfinish(FlowUnit_Passport passport);
    void sig_unit_Update_Fgs_State();

public slots:
    // The receipt of the unit's passport becomes `receipt`, every field.
    virtual void slot_ModifyReceipt_OnWorking(FlowWork_Receipt receipt);
    virtual void slot_OnStart_UnitWork(FlowUnit_Passport passport) = 0;
    // Base: emits sig_unit_workfinish with the unit's passport unchanged.
    virtual void slot_OnFinish_UnitWork(FlowWork_Receipt receipt);

protected:
    QString unit_uuid;
    QString unit_type;  // the concrete class name; JSON "type"
    QString_TL user_describe;
    bool enable = true;
    int detect_index = -1;  // relative: number within the group
    int detect_index_abs = -1;  // absolute: number across the flow
    bool isworking = false;
    Condition_Type last_detect_type = CondType_None;
    FlowUnit_Passport work_passport;
    FlowInstIface inst_iface;
};
