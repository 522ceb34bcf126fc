#pragma once
// The token of one detection cycle. Whoever starts a cycle makes one; it is
// offered to the groups, handed to a unit and its parts, and sent as JSON to
// every camera of the group. A value: every hop copies it.
//
// Its JSON form (Serialization / Deserialization) is the only form in which a
// passport leaves the process; it carries the uuid, the condition, the group
// state and the unit state. The receipt and the product state stay local.
#include "flow/flowrecords.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

class FlowUnit_Passport {
public:
    // Every member at its default; the uuid is the single character U+FFFF.
    FlowUnit_Passport();
    // The given uuid and condition, every other member at its default.
    FlowUnit_Passport(const QString& uuid, const FlowWork_Condition& condition);
    FlowUnit_Passport(const FlowUnit_Passport&) = default;
    FlowUnit_Passport& operator=(const FlowUnit_Passport&) = default;
    virtual ~FlowUnit_Passport() = default;

    // Each setter replaces the whole record, each getter returns a copy.
    virtual void set_product_state(FlowProc_State state);
    virtual FlowProc_State get_product_state() const;
    virtual void set_group_state(FlowGroup_State state);
    virtual FlowGroup_State get_group_state() const;
    virtual void set_unit_state(FlowUnit_State state);
    virtual FlowUnit_State get_unit_state() const;

    // The passport as indented JSON (UTF-8, four-space indent).
    static QByteArray Serialization(FlowUnit_Passport passport);
    // The passport read back from its JSON text. Keys are looked up without a
    // presence test: a missing key reads as 0, false or empty, not as the
    // record's default. A text that is not JSON gives the default passport and
    // a warning, and so does a JSON text whose top level is not an object;
    // either way `ok` (when given) is set false, so a caller that takes
    // passports from the network can drop the bad one. `ok` is true otherwise.
    static FlowUnit_Passport Deserialization(const QByteArray& bytes, bool* ok = nullptr);
    // Joins the trigger lists of two pure IO-trigger passports (cond_type 1
    // both): the target gets the union by input index, the source's level
    // winning, in ascending input order. False, and nothing changed, when
    // either passport is not of type exactly 1.
    static bool Merge_Passport(FlowUnit_Passport& target, FlowUnit_Passport source);

    // The unit's result record of this cycle.
    FlowWork_Receipt receipt;
    // The cycle's identity.
    QString uuid;
    // Why the cycle started.
    FlowWork_Condition condition;

private:
    FlowGroup_State group_state;
    FlowUnit_State unit_state;
    FlowProc_State product_state;
};

Q_DECLARE_METATYPE(FlowUnit_Passport)
