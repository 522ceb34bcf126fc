#pragma once
// A stand-in for the application hub as the inspection engine sees it: the
// process parameters a test sets, and the records the engine writes. It
// publishes itself as the process-wide hub services while it lives.
// Single-threaded: tests call it from the test thread only.
#include "inspection/hubservices.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

namespace testsupport {

class FakeHubServices : public HubServices {
public:
    struct Record {
        QString text;
        QString type;
    };

    FakeHubServices() { HubServices::setInstance(this); }
    ~FakeHubServices() override
    {
        if (HubServices::instance() == this)
            HubServices::setInstance(nullptr);
    }
    FakeHubServices(const FakeHubServices&) = delete;
    FakeHubServices& operator=(const FakeHubServices&) = delete;

    void GetParams(QJsonObject& out) const override
    {
        for (auto it = params.begin(); it != params.end(); ++it)
            out.insert(it.key(), it.value());
    }
    void InsertRecord(const QString& text, const QString& type) override { records.append({text, type}); }

    QJsonObject params;
    QVector<Record> records;
};

}  // namespace testsupport
