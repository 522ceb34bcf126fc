#pragma once
// The camera program's small persistent state between runs: the settings
// file "Vistrel.ini" in "./workspace/" (keys of the group "VCamera_Work"),
// and the log-time countdown in "./workspace/LogRemainTime.txt".
//
// At construction the work stash removes the leftover companions of the
// settings file (files whose names begin with its name, such as lock or
// temporary files) from the workspace, opens the settings file, stamps
// "VCamera_Work/CurRecordFile_Time" when it is unset and empties the
// temporary folder. Every 60 s it counts the log-time file down by 60 s;
// while that count runs, the "default" logging category is on besides
// "level_1" (see logmanager.h).
//
// Absolute folders in the configuration are device paths and are mapped
// through platform::DataRoot; relative ones are taken from the working
// directory.
//
// Threads: lives on the main thread, where its timer runs. The settings may
// be read and written from any thread through value()/setValue()/remove()/
// allKeys(), which serialise every access; `settings` itself is for the main
// thread.
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

struct WorkStashManager_Config {
    QString settings_file = QStringLiteral("Vistrel.ini");  // file name inside workspace_dir
    QString workspace_dir = QStringLiteral("./workspace/");
    QString temp_dir = QStringLiteral("./tmp/");           // emptied at construction
};

class WorkStashManager : public QObject {
    Q_OBJECT
public:
    // Replaces the work stash by one built from `config` (a previous one is
    // deleted later by the event loop).
    static WorkStashManager* getInstance(WorkStashManager_Config config, QObject* parent = nullptr);
    // The work stash, built with the default configuration when there is none.
    static WorkStashManager* getInstance();

    ~WorkStashManager() override;

    // Serialised access to the settings file.
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    QStringList allKeys() const;
    void sync();

    // INI settings on workspace_dir + settings_file; owned by the application
    // object (it outlives the work stash).
    QSettings* settings = nullptr;

public slots:
    // One tick of the log-time countdown; also run once by start-up so that
    // the log categories are right from the start.
    void slot_timer_updateLogRemainTime();

private:
    WorkStashManager(const WorkStashManager_Config& config, QObject* parent);
    void removeSettingsCompanions();
    void emptyTempFolder();

    WorkStashManager_Config m_config;  // as given
    QString m_workspaceDir;            // workspace_dir mapped through DataRoot
    QTimer m_timer;
    mutable QMutex m_settingsMutex;

    static WorkStashManager* __instance;
};
