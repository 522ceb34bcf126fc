#include "flow/flowpart_afterdetect.h"

#include "flow/flowpart_io.h"

#include <QJsonArray>

namespace {

// Seconds with one decimal, from ms, as the operator texts show them.
QString secondsText(int ms)
{
    return QString::number(float(ms) / 1000.0f, 'f', 1);
}

}  // namespace

FlowPart_AfterDetect::FlowPart_AfterDetect(QObject* parent) : FlowPart_Base(parent)
{
    part_type = QStringLiteral("FlowPart_AfterDetect");
}

FlowPart_AfterDetect::~FlowPart_AfterDetect()
{
    clear_action_iooutput();
}

void FlowPart_AfterDetect::set_Classify_OKNG(Result result)
{
    classify_okng = result;
}

FlowPart_AfterDetect::Result FlowPart_AfterDetect::get_Classify_OKNG() const
{
    return classify_okng;
}

FlowPart_IO* FlowPart_AfterDetect::newActionPart()
{
    auto* io = new FlowPart_IO(this);
    io->set_inst_iface(inst_iface);
    return io;
}

void FlowPart_AfterDetect::add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse)
{
    for (int index : qAsConst(outputs)) {
        FlowPart_IO* io = newActionPart();
        io->setActionIO(index, state);
        io->set_delay_ms(delay);
        io->set_pulse_ms(pulse);
        list_action_iooutput.append(io);
    }
}

void FlowPart_AfterDetect::clear_action_iooutput()
{
    for (FlowPart_IO* io : qAsConst(list_action_iooutput))
        io->deleteLater();
    list_action_iooutput.clear();
}

bool FlowPart_AfterDetect::remove_action_iooutput(FlowPart_IO* io)
{
    if (!io || !list_action_iooutput.removeOne(io))
        return false;
    io->deleteLater();
    return true;
}

void FlowPart_AfterDetect::onStart_Working()
{
    if (!get_enable())
        return;
    // The IO parts start together and then run on their own timers.
    const QList<FlowPart_IO*> actions = list_action_iooutput;
    for (FlowPart_IO* io : actions)
        io->onStart(part_passport);
}

QString FlowPart_AfterDetect::get_user_describe() const
{
    if (!user_describe.isEmpty())
        return user_describe;
    QString word;
    if (classify_okng == Result_OK)
        word = QStringLiteral("OK");
    else if (classify_okng == Result_NG)
        word = QStringLiteral("NG");
    QString text = tr("检测结果%1时：").arg(word);
    for (const FlowPart_IO* io : list_action_iooutput) {
        if (io->get_delay_ms() > 0)
            text += tr("延时%2秒，").arg(secondsText(io->get_delay_ms()));
        text += io->get_user_describe();
        if (io->get_pulse_ms() > 0)
            text += tr("，持续%5秒").arg(secondsText(io->get_pulse_ms()));
        text += QStringLiteral("。");
    }
    return text;
}

QJsonObject FlowPart_AfterDetect::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Base::Serialize_2_Json();
    o.insert(QStringLiteral("classify_okng"), int(classify_okng));
    if (!list_action_iooutput.isEmpty()) {
        QJsonArray outputs;
        for (const FlowPart_IO* io : list_action_iooutput)
            outputs.append(io->Serialize_2_Json());
        o.insert(QStringLiteral("output"), outputs);
    }
    return o;
}

void FlowPart_AfterDetect::Structure_FromJson(const QJsonObject& obj)
{
    if (obj.contains(QStringLiteral("name")))
        user_describe = obj.value(QStringLiteral("name")).toString();
    const QJsonArray outputs = obj.value(QStringLiteral("output")).toArray();
    for (const QJsonValue& v : outputs) {
        const QJsonObject o = v.toObject();
        if (o.value(QStringLiteral("type")).toString() != QLatin1String("FlowPart_IO"))
            continue;
        FlowPart_IO* io = newActionPart();
        list_action_iooutput.append(io);
        io->Structure_FromJson(o);
    }
}
